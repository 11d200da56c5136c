#pragma once
// A pseudo-terminal pair for tests. The master side plays the device; SlavePath() is what a
// port opens. HoldSlave() keeps a slave descriptor open as well, as a device stand-in that
// publishes the slave does: the tty then outlives the port's own descriptor, and the port
// closing is no hang-up for the master. CloseMaster() makes the other end vanish.
//
//   PtyPair pty;                    // QVERIFY(pty.IsOpen())
//   port.SetPort(pty.SlavePath());  // "/dev/pts/N"
//   pty.WriteMaster("\x0a\x03");    // bytes the port receives
//   pty.ReadMaster(8, 2000);        // bytes the port wrote, waiting up to 2 s

#include <QByteArray>
#include <QString>

#include <atomic>
#include <thread>

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool IsOpen() const { return master_ >= 0; }
    QString SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }
    int SlaveFd() const { return slave_; }  // -1 unless HoldSlave() succeeded

    bool HoldSlave();    // opens a slave descriptor in raw mode and keeps it
    void CloseMaster();  // the device end goes away

    // Writes all of data to the master, waiting up to timeoutMs for room; false on failure.
    bool WriteMaster(const QByteArray &data, int timeoutMs = 2000);
    // Reads from the master until count bytes have come or timeoutMs has passed.
    QByteArray ReadMaster(int count, int timeoutMs);

private:
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
};

// A line that never falls quiet, on the master side of a pty: a byte every intervalMs (at
// real-time priority where allowed, so that a busy machine does not pause it) until Stop(),
// which returns what the port sent meanwhile.
class PtyNoise {
public:
    PtyNoise(PtyPair &pty, int intervalMs);
    ~PtyNoise() { Stop(); }
    QByteArray Stop();

private:
    PtyPair &pty_;
    std::atomic<bool> stop_{false};
    QByteArray received_;
    std::thread thread_;
};
