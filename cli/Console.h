#pragma once
// The companion's dealings with the console it runs in: the end of a run asked for from
// outside (Ctrl+C, a request to terminate, the terminal hanging up), a reader of the output
// that has gone (a closed pipe), and standard streams that were closed before the start.
// One source per system stands behind this header; the build picks it.

#include <QObject>
#include <QString>

#include <memory>

// First thing in main: a reader that has gone makes a write fail (EPIPE) instead of ending
// the process, and a standard stream that is closed is held by the null device, so that no
// port or file opened later takes its place.
void PrepareConsole();
// Whether standard output was open at the start (when it was not, every write to it fails).
bool StandardOutputOpen();

// While a watch lives, Ctrl+C, a request to terminate and a hang-up ask the run to end
// instead of ending the process: the request arrives as requested() on the thread that
// made the watch, from its event loop. A second one ends the process at once.
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
