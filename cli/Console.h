#pragma once
// The companion's dealings with the console and the system it runs in: the end of a run
// asked for from outside (Ctrl+C, a request to terminate, the terminal hanging up, the
// console window closing), a reader of the output that has gone (a closed pipe), standard
// streams that were closed before the start, names that stand for devices rather than
// files, and the help's words for these. One source per system stands behind this header;
// the build picks it.

#include <QByteArray>
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
// Writes all of bytes into the open descriptor fd (1: standard output) where it stands,
// waiting while a pipe is full: 0, or the cause of the failure as the C library's error
// number (a reader that has gone is EPIPE, a full disk ENOSPC). Safe on any thread.
int WriteStream(int fd, const QByteArray &bytes);
// One write of the system into fd, of up to size bytes (a call cut short by a signal is made
// again): how many bytes it took, or 0 or less with errno set as the C library sets it.
qint64 WriteSome(int fd, const char *data, qint64 size);
// When path names a standard stream the process already has open, its descriptor: "-" and
// (Linux) /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N. Such a path is written
// into where the stream stands, never opened anew (which would cut a file the shell
// appends to). -1 for any other path.
int StandardStreamOf(const QString &path);

// The help of the options whose words differ between systems: --port (the system's port
// names) and --stop (the requests from outside that end a run).
extern const char PortOptionHelp[];
extern const char StopOptionHelp[];
// What the user's runtime directory (XDG_RUNTIME_DIR) does to the port list; empty where
// the system has none.
extern const char RuntimeDirHelp[];

// While a watch lives, Ctrl+C, a request to terminate and a hang-up (Windows: Ctrl+C,
// Ctrl+Break and the console window closing) ask the run to end instead of ending the
// process: the request arrives as requested() on the thread that made the watch, from its
// event loop. A second one ends the process at once.
class TInterruptWatch : public QObject {
    Q_OBJECT
public:
    explicit TInterruptWatch(QObject *parent = nullptr);
    ~TInterruptWatch() override;

    // The watch that lives now, or nullptr.
    static const TInterruptWatch *Live();

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
