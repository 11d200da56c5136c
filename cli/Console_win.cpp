// The console on Windows: the console's control events (Ctrl+C, Ctrl+Break, the window
// closing) instead of signals, standard streams in binary mode so that the companion
// writes the same bytes as on Linux, and UTF-8 on the console while it runs.

#include "Console.h"


#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

bool outputOpen = true;
UINT savedOutputCodePage = 0;

// The first control event of the watch's run (-1: none yet) and whether one came, written
// by the system's handler thread.
std::atomic<int> firstEvent{-1};
std::atomic<int> eventCount{0};
std::mutex watchMutex;
TInterruptWatch *watch = nullptr;  // the live watch, under watchMutex

// The status of a process that such an event ended, as a shell reports one a signal ended
// (130 for Ctrl+C, as on Linux; SIGBREAK is 21; a closing console as a hang-up).
int EventStatus(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT: return 128 + SIGINT;
    case CTRL_BREAK_EVENT: return 128 + SIGBREAK;
    default: return 128 + 1;
    }
}

void RestoreConsole()
{
    if (savedOutputCodePage)
        SetConsoleOutputCP(savedOutputCodePage);
}

[[noreturn]] void EndProcess(DWORD event)
{
    RestoreConsole();
    ExitProcess(UINT(EventStatus(event)));
}

BOOL WINAPI OnControlEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    {
        const std::lock_guard lock(watchMutex);
        if (!watch || eventCount.fetch_add(1) > 0) {
            // No run to end, or asked again: end now, as the event would have.
            if (event == CTRL_CLOSE_EVENT && !watch)
                return FALSE;
            EndProcess(event);
        }
        firstEvent = int(event);
        TInterruptWatch *const w = watch;
        QMetaObject::invokeMethod(w, [w] { emit w->requested(); }, Qt::QueuedConnection);
    }
    if (event == CTRL_CLOSE_EVENT) {
        // The system ends the process once this returns (or after its few seconds): the run
        // gets them to end as asked, and the process ends on its own before.
        Sleep(INFINITE);
    }
    return TRUE;
}

// Whether the C library's descriptor fd leads to an open handle.
bool DescriptorOpen(int fd)
{
    const intptr_t handle = _get_osfhandle(fd);
    return handle != -1 && handle != -2 && handle != 0;
}

}  // namespace

void PrepareConsole()
{
    for (int fd = 0; fd <= 2; ++fd)
        if (DescriptorOpen(fd))
            _setmode(fd, _O_BINARY);
    outputOpen = DescriptorOpen(_fileno(stdout));
    // Messages and the trace go out as they are written, as on Linux, not when a buffer is
    // full (the C library buffers standard error that is no console).
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    // The texts are UTF-8 (the device's name, the parameters' captions); a console shows them
    // as such while the companion runs, and gets its own code page back at the end.
    const UINT codePage = GetConsoleOutputCP();
    if (codePage && codePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        savedOutputCodePage = codePage;
        std::atexit(RestoreConsole);
    }
    SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

bool StandardOutputOpen()
{
    return outputOpen;
}

int FailedWriteError(int err)
{
    switch (GetLastError()) {
    case ERROR_NO_DATA:             // the pipe is being closed
    case ERROR_BROKEN_PIPE:
    case ERROR_PIPE_NOT_CONNECTED:
        return EPIPE;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    default:
        return err ? err : EIO;
    }
}

qint64 WriteSome(int fd, const char *data, qint64 size)
{
    errno = 0;
    SetLastError(ERROR_SUCCESS);
    return _write(fd, data, unsigned(std::min<qint64>(size, 1 << 20)));
}

int StandardStreamOf(const QString &path)
{
    return path == QLatin1String("-") ? 1 : -1;
}

const char PortOptionHelp[] =
    "The serial port, as the system names it (COM3). write needs it; read, diff and mode take the only port the "
    "list finds, and name it on standard error.";
const char StopOptionHelp[] =
    "Stop the mode at the end, whatever ends the run: the count, the time, Ctrl+C, Ctrl+Break, the console window "
    "closing, a closed pipe, or a failure of the device, the port or the output.";
const char RuntimeDirHelp[] = "";

struct TInterruptWatch::Impl {};

TInterruptWatch::TInterruptWatch(QObject *parent) : QObject(parent)
{
    const std::lock_guard lock(watchMutex);
    firstEvent = -1;
    eventCount = 0;
    watch = this;
}

TInterruptWatch::~TInterruptWatch()
{
    const std::lock_guard lock(watchMutex);
    if (watch == this)
        watch = nullptr;
}

const TInterruptWatch *TInterruptWatch::Live()
{
    const std::lock_guard lock(watchMutex);
    return watch;
}

bool TInterruptWatch::Requested() const
{
    return firstEvent >= 0;
}

QString TInterruptWatch::What() const
{
    switch (firstEvent) {
    case CTRL_C_EVENT: return QStringLiteral("Ctrl+C");
    case CTRL_BREAK_EVENT: return QStringLiteral("Ctrl+Break");
    case CTRL_CLOSE_EVENT: return QStringLiteral("the console window closing");
    default: return {};
    }
}

int TInterruptWatch::ExitStatus() const
{
    return EventStatus(DWORD(firstEvent.load()));
}
