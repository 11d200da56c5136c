#include "PtyPair.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0)
        return;
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
        ::close(master_);
        master_ = -1;
        return;
    }
    slavePath_ = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair()
{
    if (slave_ >= 0)
        ::close(slave_);
    CloseMaster();
}

bool PtyPair::HoldSlave()
{
    if (slave_ >= 0)
        return true;
    slave_ = ::open(slavePath_.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0)
        return false;
    termios tio{};
    if (tcgetattr(slave_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
    }
    return true;
}

void PtyPair::CloseMaster()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

bool PtyPair::WriteMaster(const QByteArray &data, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(master_, data.constData() + done, size_t(data.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (deadline.hasExpired())
            return false;
        pollfd pfd{master_, POLLOUT, 0};
        poll(&pfd, 1, int(qMax<qint64>(1, deadline.remainingTime())));
    }
    return true;
}

QByteArray PtyPair::ReadMaster(int count, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QByteArray got;
    while (got.size() < count) {
        char buf[512];
        const ssize_t n = ::read(master_, buf, size_t(qMin<qsizetype>(sizeof buf, count - got.size())));
        if (n > 0) {
            got.append(buf, n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        if (deadline.hasExpired())
            break;
        pollfd pfd{master_, POLLIN, 0};
        poll(&pfd, 1, int(qMax<qint64>(1, deadline.remainingTime())));
    }
    return got;
}

PtyNoise::PtyNoise(PtyPair &pty, int intervalMs) : pty_(pty)
{
    thread_ = std::thread([this, intervalMs] {
        const sched_param priority{sched_get_priority_min(SCHED_FIFO)};
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
        for (auto next = std::chrono::steady_clock::now(); !stop_; std::this_thread::sleep_until(next += std::chrono::milliseconds(intervalMs))) {
            pty_.WriteMaster("\x5A", 0);  // dropped when the port does not read
            received_ += pty_.ReadMaster(1 << 16, 0);
        }
    });
}

QByteArray PtyNoise::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    return received_ += pty_.ReadMaster(1 << 16, 0);
}
