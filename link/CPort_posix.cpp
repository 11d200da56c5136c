// The serial component on Linux: termios settings, an epoll event thread, the port list
// from sysfs and /dev.

#include "CPort.h"

#include "ComPortShared.h"
#include "PortCalls.h"
#include "PortInfo.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

// ---------------------------------------------------------------------------------------------
// Line settings

namespace {

const int ByteSizes[] = {5, 6, 7, 8};

// The termios speed for a rate in baud; false when the system has no such speed.
bool SpeedOf(int baud, speed_t &speed)
{
    switch (baud) {
    case 110: speed = B110; return true;
    case 300: speed = B300; return true;
    case 600: speed = B600; return true;
    case 1200: speed = B1200; return true;
    case 2400: speed = B2400; return true;
    case 4800: speed = B4800; return true;
    case 9600: speed = B9600; return true;
    case 19200: speed = B19200; return true;
    case 38400: speed = B38400; return true;
    case 57600: speed = B57600; return true;
    case 115200: speed = B115200; return true;
    case 230400: speed = B230400; return true;
    case 460800: speed = B460800; return true;
    case 921600: speed = B921600; return true;
    default: return false;
    }
}

// Bits on the line per byte: start, data, parity, stop.
int BitsPerByte(const TCustomComPort &port)
{
    return 1 + ByteSizes[port.DataBits] + (port.Parity.Bits == prNone ? 0 : 1)
           + (port.StopBits == sbOneStopBit ? 1 : 2);
}

// Fills tio from the port's properties: raw bytes, no echo, no line editing.
// Returns 0 or the errno that says why the settings cannot be applied.
int BuildTermios(const TCustomComPort &port, termios &tio)
{
    speed_t speed;
    if (!SpeedOf(BaudValue(port), speed))
        return EINVAL;

    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY
                     | INPCK | IGNPAR);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CLOCAL | CREAD;

    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= sizes[port.DataBits];
    // Linux has no 1.5 stop bits of its own; a UART sends 1.5 for CSTOPB with 5 data bits.
    if (port.StopBits != sbOneStopBit)
        tio.c_cflag |= CSTOPB;
    switch (port.Parity.Bits) {
    case prNone: break;
    case prOdd: tio.c_cflag |= PARENB | PARODD; break;
    case prEven: tio.c_cflag |= PARENB; break;
    case prMark: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case prSpace: tio.c_cflag |= PARENB | CMSPAR; break;
    }
    if (port.Parity.Bits != prNone && port.Parity.Check)
        tio.c_iflag |= INPCK;

    const TComFlowControl &flow = port.FlowControl;
    if (flow.OutCTSFlow || flow.ControlRTS == rtsHandshake)
        tio.c_cflag |= CRTSCTS;
    if (flow.XonXoffOut)
        tio.c_iflag |= IXON;
    if (flow.XonXoffIn)
        tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = flow.XonChar;
    tio.c_cc[VSTOP] = flow.XoffChar;

    // The read time-outs of the component (interval "infinite", totals zero) mean: a read
    // returns at once with what is queued. That is VMIN = 0, VTIME = 0.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return 0;
}

// Raises or drops one modem line. A pseudo-terminal has no modem lines: its ENOTTY or
// EINVAL is no error. Returns 0 or errno.
int SetModemLine(int fd, bool on, int line)
{
    int bits = line;
    if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0 || errno == ENOTTY || errno == EINVAL)
        return 0;
    return errno;
}

}  // namespace

namespace {

// Whether the other end of the line has gone (adapter pulled out, device end closed).
bool LineHungUp(int fd)
{
    pollfd pfd{fd, POLLIN, 0};
    return poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR)) != 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Event thread
//
// The thread waits on the port and on a stop descriptor, and hands each device event over to
// the port's (user-interface) thread (TComHandOver).

struct TCustomComPort::Impl {
    int fd = -1;
    bool exclusive = false;  // the tty's exclusive flag is ours to clear
    std::unique_ptr<TComThread> thread;
};

class TComThread {
public:
    TComThread(TCustomComPort *port, int fd, TComEvents events)
        : fd_(fd), events_(events), handOver_(port)
    {
    }
    ~TComThread() { Stop(); }

    // Sets up the descriptors and starts the thread; returns 0 or errno.
    int Start()
    {
        stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (stopFd_ < 0)
            return errno;
        epollFd_ = epoll_create1(EPOLL_CLOEXEC);
        if (epollFd_ < 0)
            return errno;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = stopFd_;
        if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, stopFd_, &ev) < 0)
            return errno;
        // Edge-triggered: one event per arrival of bytes, as a received-character event is.
        // A handler that leaves bytes queued must not make the thread report them again
        // and again, and a hang-up is reported once.
        ev.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
        ev.data.fd = fd_;
        if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd_, &ev) < 0)
            return errno;
        try {
            thread_ = std::thread([this] { Run(); });
        } catch (const std::system_error &e) {
            return e.code().value();
        }
        return 0;
    }

    // Turns pending dispatches into no-ops, wakes the thread and waits for it to end.
    // The thread never waits for the caller's thread here, so the wait is short.
    void Stop()
    {
        handOver_.Cancel();
        if (stopFd_ >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof one);
        }
        if (thread_.joinable())
            thread_.join();
        if (epollFd_ >= 0)
            ::close(epollFd_);
        if (stopFd_ >= 0)
            ::close(stopFd_);
        epollFd_ = stopFd_ = -1;
    }

private:
    void Run()
    {
        for (;;) {
            epoll_event evs[2];
            const int n = epoll_wait(epollFd_, evs, 2, -1);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            TComEvents got = 0;
            bool hangUp = false;
            for (int i = 0; i < n; ++i) {
                if (evs[i].data.fd == stopFd_)
                    return;
                if (evs[i].events & EPOLLIN)
                    got |= 1u << evRxChar;
                if (evs[i].events & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) {
                    got |= 1u << evError;
                    hangUp = true;
                }
            }
            if (hangUp) {
                // The device has gone (adapter pulled out, other end closed): report it
                // once, then wait only for the stop descriptor.
                epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd_, nullptr);
            }
            got &= events_;
            if (got && !handOver_.HandOver(got))
                return;
        }
    }

    int fd_;
    TComEvents events_;
    TComHandOver handOver_;
    int stopFd_ = -1;
    int epollFd_ = -1;
    std::thread thread_;
};

int TCustomComPort::QueuedForDispatch(TComEvents got)
{
    int count = 0;
    if (ioctl(d->fd, FIONREAD, &count) < 0) {
        // A device that has gone fails the count (EIO) and there is nothing to read. The
        // hang-up is the line-error event's to tell, whether it came with these bytes or
        // only after their event was posted: either way it is not a failure of the count.
        const int err = errno;
        if (!(got & (1u << evError)) && !LineHungUp(d->fd))
            throw EComPort(EComPort::StatusFailed, err);
        count = 0;
    }
    return count;
}

// ---------------------------------------------------------------------------------------------
// TCustomComPort

TCustomComPort::TCustomComPort(QObject *owner) : QObject(owner), d(new Impl), port_(QStringLiteral("ttyS0")) {}

void TCustomComPort::ImplDeleter::operator()(Impl *impl) const
{
    delete impl;
}

bool TCustomComPort::Connected() const
{
    return d->fd >= 0;
}

// ---------------------------------------------------------------------------------------------
// The steps of opening and closing (their order is CPort.cpp's)

class TPortSystem final : public TPortSteps {
public:
    explicit TPortSystem(TCustomComPort &port) : port_(port), d_(*port.d) {}

    TStepFailure OpenDevice() override
    {
        const QString &name = port_.port_;
        const QString path = name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return errno;
        // Not shared: the lock keeps out every other opener (root included), the tty's
        // exclusive flag keeps out ordinary users that do not lock. The lock comes first, so
        // that a port held by someone else never gets its exclusive flag cleared by us.
        if (flock(fd, LOCK_EX | LOCK_NB) < 0 || ioctl(fd, TIOCEXCL) < 0) {
            const int err = errno;
            ::close(fd);
            return err;
        }
        d_.fd = fd;
        d_.exclusive = true;
        return {};
    }

    // Queue sizes (Buffer.InputSize / OutputSize): the Linux tty layer has fixed queues and
    // nothing to set, so this step cannot fail here. The property is kept for its callers.
    TStepFailure SetQueues() override { return {}; }

    TStepFailure ApplySettings() override
    {
        const int fd = d_.fd;
        termios tio{};
        if (tcgetattr(fd, &tio) < 0)
            return errno;
        if (const int err = BuildTermios(port_, tio))
            return err;
        if (tcsetattr(fd, TCSANOW, &tio) < 0)
            return errno;
        const TComFlowControl &flow = port_.FlowControl;
        const bool dtrOn = flow.ControlDTR != dtrDisable;
        const bool rtsOn = flow.ControlRTS == rtsEnable || flow.ControlRTS == rtsToggle;
        if (const int err = SetModemLine(fd, dtrOn, TIOCM_DTR))
            return err;
        if (flow.ControlRTS != rtsHandshake) {
            if (const int err = SetModemLine(fd, rtsOn, TIOCM_RTS))
                return err;
        }
        return {};
    }

    // Time-outs: the read time-outs live in the termios of the settings (VMIN/VTIME); the
    // write time-out bounds Write() itself. Nothing is left to fail.
    TStepFailure ApplyTimeouts() override { return {}; }

    TStepFailure PurgeInput() override
    {
        if (tcflush(d_.fd, TCIFLUSH) < 0)
            return errno;
        return {};
    }

    TStepFailure StartThread() override
    {
        auto thread = std::make_unique<TComThread>(&port_, d_.fd, port_.Events);
        if (const int err = thread->Start())
            return err;
        d_.thread = std::move(thread);
        return {};
    }

    void BeginClose() override
    {
        // The exclusive flag belongs to the tty and would outlive this descriptor while
        // another one holds the tty: clear it, or the next ordinary opener gets EBUSY.
        ReleaseExclusive();
    }

    int PurgeBoth() override { return tcflush(d_.fd, TCIOFLUSH) < 0 ? errno : 0; }

    bool StopThread() override
    {
        if (d_.thread) {
            d_.thread->Stop();
            d_.thread.reset();
        }
        return true;
    }

    void CloseDevice() override
    {
        ReleaseExclusive();
        ::close(d_.fd);
        d_.fd = -1;
    }

    // The event thread's hang-up ends only its own watch; the purge's error tells the rest.
    bool LineGone() override { return false; }

private:
    void ReleaseExclusive()
    {
        if (d_.exclusive)
            ioctl(d_.fd, TIOCNXCL);
        d_.exclusive = false;
    }

    TCustomComPort &port_;
    TCustomComPort::Impl &d_;
};

std::unique_ptr<TPortSteps> SystemPortSteps(TCustomComPort &port)
{
    return std::make_unique<TPortSystem>(port);
}

int TCustomComPort::Write(const void *buffer, int count)
{
    if (d->fd < 0)
        throw EComPort(EComPort::WriteFailed, EBADF);
    if (count <= 0)
        return 0;

    // The write time-out: WriteTotalMultiplier per byte plus WriteTotalConstant; both zero
    // means no limit.
    const qint64 limit = qint64(Timeouts.WriteTotalMultiplier) * count + Timeouts.WriteTotalConstant;
    const QDeadlineTimer deadline = limit > 0 ? QDeadlineTimer(limit) : QDeadlineTimer(QDeadlineTimer::Forever);

    const char *bytes = static_cast<const char *>(buffer);
    int written = 0;
    while (written < count) {
        const ssize_t n = ::write(d->fd, bytes + written, size_t(count - written));
        if (n > 0) {
            written += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            throw EComPort(EComPort::WriteFailed, errno);
        // The output queue is full: wait for room, within the time-out.
        if (deadline.hasExpired())
            return written;
        pollfd pfd{d->fd, POLLOUT, 0};
        const qint64 left = deadline.remainingTime();
        if (poll(&pfd, 1, left < 0 ? -1 : int(std::min<qint64>(left, 1000))) < 0 && errno != EINTR)
            throw EComPort(EComPort::WriteFailed, errno);
    }

    // Wait until the bytes have left the port, bounded by the same time-out: a line held by
    // flow control never drains, and tcdrain() alone would wait for it for ever. The wait
    // lasts as long as the queued bytes take on the line, so it is mostly one step.
    const int baud = std::max(BaudValue(*this), 1);
    int queued = 0;
    while (ioctl(d->fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return written;
        qint64 step = qint64(queued) * BitsPerByte(*this) * 1000 / baud + 1;
        if (left > 0)
            step = std::min(step, left);
        poll(nullptr, 0, int(step));
    }
    // The driver's queue is empty; the driver's own wait for its transmitter is bounded.
    if (queued == 0 && !deadline.hasExpired())
        tcdrain(d->fd);
    return written;
}

int TCustomComPort::Read(void *buffer, int count)
{
    if (d->fd < 0)
        throw EComPort(EComPort::ReadFailed, EBADF);
    if (count <= 0)
        return 0;
    for (;;) {
        const ssize_t n = ::read(d->fd, buffer, size_t(count));
        if (n >= 0)
            return int(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return 0;
        throw EComPort(EComPort::ReadFailed, errno);
    }
}

int TCustomComPort::InputCount()
{
    if (d->fd < 0)
        throw EComPort(EComPort::StatusFailed, EBADF);
    int count = 0;
    if (ioctl(d->fd, FIONREAD, &count) < 0)
        throw EComPort(EComPort::StatusFailed, errno);
    return count;
}

// ---------------------------------------------------------------------------------------------
// Port list

namespace {

// A ttyS* port whose UART type is unknown (0) is a placeholder of the driver, no port.
bool IsSerialTty(const QString &ttyDir, const QString &name)
{
    const QFileInfo device(ttyDir + QStringLiteral("/device"));
    if (!device.exists() && !device.isSymLink())
        return false;
    if (name.startsWith(QLatin1String("ttyS"))) {
        QFile type(ttyDir + QStringLiteral("/type"));
        if (type.open(QIODevice::ReadOnly) && type.readAll().trimmed() == "0")
            return false;
    }
    return true;
}

// Symlinks in dir that lead to a pseudo-terminal that exists (a virtual serial port).
QStringList PtyLinks(const QString &dir)
{
    static const QRegularExpression ptsPath(QStringLiteral("^/dev/pts/[0-9]+$"));
    QStringList names;
    if (dir.isEmpty())
        return names;
    const QFileInfoList entries =
        QDir(dir).entryInfoList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink() && ptsPath.match(entry.canonicalFilePath()).hasMatch())
            names << entry.fileName();
    }
    return names;
}

}  // namespace

void ListSerialPorts(QStringList &list, const QString &sysRoot, const QString &devRoot, const QString &userRoot)
{
    const QString ttyClass = sysRoot + QStringLiteral("/class/tty");
    if (::access(QFile::encodeName(ttyClass).constData(), R_OK | X_OK) != 0)
        throw EComPort(EComPort::RegistryFailed, errno);

    QStringList names;
    const QStringList ttys =
        QDir(ttyClass).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : ttys) {
        if (IsSerialTty(ttyClass + QLatin1Char('/') + name, name))
            names << name;
    }
    names << PtyLinks(devRoot);

    const QString userDir = userRoot.isEmpty() ? QString() : QDir(userRoot).absolutePath();
    for (const QString &name : PtyLinks(userDir))
        names << userDir + QLatin1Char('/') + name;

    names.removeDuplicates();
    SortPortNames(names);
    list = names;
}

// ---------------------------------------------------------------------------------------------
// Port list watch: the selector reads the list again when it opens.

struct TPortListWatch::Impl {};

TPortListWatch::TPortListWatch(QObject *parent) : QObject(parent) {}

TPortListWatch::~TPortListWatch() = default;
