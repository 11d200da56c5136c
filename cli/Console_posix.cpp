#include "Console.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool outputOpen = true;
const TInterruptWatch *liveWatch = nullptr;

// Written by the signal handler, read on the main thread.
volatile std::sig_atomic_t firstSignal = 0;
volatile std::sig_atomic_t signalCount = 0;  // 0 or 1: whether one came
int wakeFds[2] = {-1, -1};

const int WatchedSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnEndRequest(int signal)
{
    const int savedErrno = errno;
    if (signalCount > 0) {
        // Asked again: end now, as the signal would have ended the process (it is taken
        // once this handler returns).
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        errno = savedErrno;
        return;
    }
    signalCount = 1;
    firstSignal = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFds[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

void PrepareConsole()
{
    ::signal(SIGPIPE, SIG_IGN);
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor is this one.
        ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (fd == 1)
            outputOpen = false;
    }
}

bool StandardOutputOpen()
{
    return outputOpen;
}

int FailedWriteError(int err)
{
    return err ? err : EIO;
}

qint64 WriteSome(int fd, const char *data, qint64 size)
{
    ssize_t n;
    do
        n = ::write(fd, data, size_t(size));
    while (n < 0 && errno == EINTR);
    return n;
}

int StandardStreamOf(const QString &path)
{
    if (path == QLatin1String("-"))
        return 1;
    static const QRegularExpression names(QStringLiteral("^/(?:dev/(?:std(in|out|err)|fd/(\\d+))|proc/self/fd/(\\d+))$"));
    const QRegularExpressionMatch match = names.match(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (!match.hasMatch())
        return -1;
    if (!match.captured(1).isEmpty())
        return match.captured(1) == QLatin1String("in") ? 0 : match.captured(1) == QLatin1String("out") ? 1 : 2;
    bool ok = false;
    const int fd = (match.captured(2) + match.captured(3)).toInt(&ok);
    return ok ? fd : -1;
}

const char PortOptionHelp[] =
    "The serial port: relative to /dev (ttyUSB0) or a full path. write needs it; read, diff and mode take the only "
    "port the list finds, and name it on standard error.";
const char StopOptionHelp[] =
    "Stop the mode at the end, whatever ends the run: the count, the time, Ctrl+C, SIGTERM, SIGHUP, a closed pipe, "
    "or a failure of the device, the port or the output.";
const char RuntimeDirHelp[] =
    "The user's runtime directory. The port list (ports, and read, diff and mode without --port) shows the links to "
    "pseudo-terminals found there, by their full paths: the port of karven-sim run by an ordinary user, or one that "
    "socat makes for a device behind a network serial server. When it is not set, Qt's runtime directory "
    "/tmp/runtime-$USER is looked at instead.";

struct TInterruptWatch::Impl {
    struct sigaction previous[3] = {};
    QSocketNotifier *notifier = nullptr;
};

TInterruptWatch::TInterruptWatch(QObject *parent) : QObject(parent), d(new Impl)
{
    liveWatch = this;
    firstSignal = 0;
    signalCount = 0;
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) == 0) {
        d->notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
        connect(d->notifier, &QSocketNotifier::activated, this, [this] {
            char bytes[16];
            while (::read(wakeFds[0], bytes, sizeof bytes) > 0) {
            }
            emit requested();
        });
    }
    struct sigaction action {};
    action.sa_handler = OnEndRequest;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        sigaction(WatchedSignals[i], &action, &d->previous[i]);
}

TInterruptWatch::~TInterruptWatch()
{
    if (liveWatch == this)
        liveWatch = nullptr;
    for (int i = 0; i < 3; ++i)
        sigaction(WatchedSignals[i], &d->previous[i], nullptr);
    delete d->notifier;
    for (int &fd : wakeFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

const TInterruptWatch *TInterruptWatch::Live()
{
    return liveWatch;
}

bool TInterruptWatch::Requested() const
{
    return firstSignal != 0;
}

QString TInterruptWatch::What() const
{
    switch (firstSignal) {
    case SIGINT: return QStringLiteral("Ctrl+C (SIGINT)");
    case SIGTERM: return QStringLiteral("a request to terminate (SIGTERM)");
    case SIGHUP: return QStringLiteral("the terminal hanging up (SIGHUP)");
    default: return {};
    }
}

int TInterruptWatch::ExitStatus() const
{
    return 128 + int(firstSignal);
}
