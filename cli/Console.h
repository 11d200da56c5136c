#pragma once
// The companion's dealings with the console and the system it runs in: the end of a run
// asked for from outside (Ctrl+C, a request to terminate, the terminal hanging up, the
// console window closing), a reader of the output that has gone (a closed pipe), standard
// streams that were closed before the start, names that stand for devices rather than
// files, and the help's words for these. One source per system stands behind this header;
// the build picks it.

#include <QObject>
#include <QString>

#include <memory>

// First thing in main: a reader that has gone makes a write fail (EPIPE) instead of ending
// the process, and a standard stream that is closed is held by the null device, so that no
// port or file opened later takes its place.
void PrepareConsole();
// Whether standard output was open at the start (when it was not, every write to it fails).
bool StandardOutputOpen();
// The cause of a write to a standard stream that has just failed, as the C library's error
// number (err, what it set); a reader that has gone is EPIPE, a full disk ENOSPC.
int FailedWriteError(int err);
// When path names a device or a stream of the system rather than a file, one to be written
// into and never replaced (/dev/stdout, /proc/self/fd/1; NUL, CON, \\.\pipe\NAME): the
// path that opens it. Empty when path names a file.
QString DevicePath(const QString &path);

// The help of the options whose words differ between systems: --port (the system's port
// names) and --stop (the requests from outside that end a run).
extern const char PortOptionHelp[];
extern const char StopOptionHelp[];

// While a watch lives, Ctrl+C, a request to terminate and a hang-up (Windows: Ctrl+C,
// Ctrl+Break and the console window closing) ask the run to end instead of ending the
// process: the request arrives as requested() on the thread that made the watch, from its
// event loop. A second one ends the process at once.
class TInterruptWatch : public QObject {
    Q_OBJECT
public:
    explicit TInterruptWatch(QObject *parent = nullptr);
    ~TInterruptWatch() override;

    bool Requested() const;
    // What asked for the end ("Ctrl+C (SIGINT)").
    QString What() const;
    // The status a shell reports for a process that such a request ended.
    int ExitStatus() const;

signals:
    void requested();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
