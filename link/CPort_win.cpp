// The serial component on Windows: the Win32 communications calls in overlapped mode, an
// event thread around WaitCommEvent, the port list from the registry.

#include "CPort.h"

#include "ComPortShared.h"
#include "PortInfo.h"

#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <mutex>

#include <windows.h>

namespace {

// The device control block of the port's settings.
DCB BuildDcb(const TCustomComPort &port)
{
    static const BYTE byteSizes[] = {5, 6, 7, 8};
    static const BYTE stopBits[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
    static const BYTE parities[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
    static const DWORD dtr[] = {DTR_CONTROL_DISABLE, DTR_CONTROL_ENABLE, DTR_CONTROL_HANDSHAKE};
    static const DWORD rts[] = {RTS_CONTROL_DISABLE, RTS_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE,
                                RTS_CONTROL_TOGGLE};
    const TComFlowControl &flow = port.FlowControl;

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = DWORD(BaudValue(port));
    dcb.fBinary = TRUE;  // raw bytes, always
    dcb.fParity = port.Parity.Check;
    dcb.fOutxCtsFlow = flow.OutCTSFlow;
    dcb.fOutxDsrFlow = flow.OutDSRFlow;
    dcb.fDtrControl = dtr[flow.ControlDTR];
    dcb.fDsrSensitivity = flow.DSRSensitivity;
    dcb.fTXContinueOnXoff = flow.TxContinueOnXoff;
    dcb.fOutX = flow.XonXoffOut;
    dcb.fInX = flow.XonXoffIn;
    dcb.fErrorChar = port.Parity.Replace;
    dcb.fNull = FALSE;
    dcb.fRtsControl = rts[flow.ControlRTS];
    dcb.fAbortOnError = FALSE;
    dcb.XonLim = WORD(port.Buffer.InputSize / 4);
    dcb.XoffLim = WORD(port.Buffer.InputSize / 4);
    dcb.ByteSize = byteSizes[port.DataBits];
    dcb.Parity = parities[port.Parity.Bits];
    dcb.StopBits = stopBits[port.StopBits];
    dcb.XonChar = char(flow.XonChar);
    dcb.XoffChar = char(flow.XoffChar);
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
    return dcb;
}

// The system's event bits for the component's events, in TComEvent order.
const DWORD EventBits[] = {EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_RING, EV_BREAK,
                           EV_CTS,    EV_DSR,     EV_ERR,    EV_RLSD, EV_RX80FULL};

DWORD SystemMask(TComEvents events)
{
    DWORD mask = 0;
    for (int i = 0; i < 10; ++i)
        if (events & (1u << i))
            mask |= EventBits[i];
    return mask;
}

TComEvents ComponentEvents(DWORD mask)
{
    TComEvents events = 0;
    for (int i = 0; i < 10; ++i)
        if (mask & EventBits[i])
            events |= 1u << i;
    return events;
}

// Bytes in the input queue; -1 when the system cannot tell (the error in *error).
int InputQueued(HANDLE handle, DWORD *error)
{
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(handle, &errors, &stat)) {
        *error = GetLastError();
        return -1;
    }
    return int(stat.cbInQue);
}

// Waits for an overlapped operation of handle to end; cancels it first when cancel is set.
// The OVERLAPPED must not be reused or freed before this returns.
bool FinishOverlapped(HANDLE handle, OVERLAPPED &ov, DWORD &transferred, bool cancel)
{
    if (cancel)
        CancelIoEx(handle, &ov);
    return GetOverlappedResult(handle, &ov, &transferred, TRUE);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Event thread
//
// Sets the event mask, then waits, with no time limit, for the stop event or the completion
// of an overlapped WaitCommEvent, and hands each completed wait's events over to the port's
// (user-interface) thread (TComHandOver). On the stop event it clears the mask and discards
// both queues.
//
// A received-character event is handed over when bytes have arrived since the last one was:
// the bytes taken out by Read() plus those queued have grown. A handler that leaves bytes
// queued is therefore not called for them again and again, and no event is lost to the
// reads of the port's thread.
//
// Ports that are no driver's (a COM port that Wine makes of a pseudo-terminal) do not keep
// to the waits of a real port, and the thread adapts to what the port shows:
// - a wait whose mask holds the modem-line events fails at once (ERROR_NOT_SUPPORTED or
//   ERROR_INVALID_PARAMETER) when the port has no modem lines: the mask is narrowed to the
//   events it can report;
// - a wait that ends aborted (ERROR_OPERATION_ABORTED) while the stop event is not set, or
//   with no event at all, or a wait that again and again ends at once with nothing new, is a
//   port whose wait cannot watch the line (Wine 8 ends every wait on a pseudo-terminal after
//   a millisecond this way, and reports queued bytes as new at each start). The thread then
//   looks at the input queue instead, until the port is closed: closely while an answer may
//   be coming (after a write, until its first bytes come or it is overdue, and for a while
//   after each look that found bytes), seldom otherwise. Such a port, opened again by this process, is watched
//   from the start.
// A real port's wait ends in none of these ways, so there the thread only waits.

namespace {

const DWORD ModemLineEvents = EV_CTS | EV_DSR | EV_RING | EV_RLSD;
const TComEvents RxChar = 1u << evRxChar;
// Watching a port's queue: the time between two looks while an answer may be coming, which
// is what the watch adds to the hand-over of an answer's last bytes (a pause this long at
// 9600 baud ends a frame); how long after a write the first bytes of an answer are looked
// for closely; how long after bytes have come the rest of an answer is looked for closely
// (the sender may pause in the middle of a frame when its machine is busy); the time
// between looks otherwise. A look costs about a tenth of a millisecond under Wine.
const DWORD WatchCloseMs = 10;
const qint64 WatchAnswerMs = 300;
const qint64 WatchRestMs = 60;
const DWORD WatchSeldomMs = 200;

// The names of the ports that this process found unable to wait.
std::mutex watchedPortsLock;
QStringList watchedPorts;

bool IsWatchedPort(const QString &name)
{
    std::lock_guard lock(watchedPortsLock);
    return watchedPorts.contains(name, Qt::CaseInsensitive);
}

void AddWatchedPort(const QString &name)
{
    std::lock_guard lock(watchedPortsLock);
    if (!watchedPorts.contains(name, Qt::CaseInsensitive))
        watchedPorts << name;
}

}  // namespace

struct TCustomComPort::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    // Set by the event thread when a wait fails: the device has gone (adapter pulled out).
    std::atomic<bool> lineGone{false};
    // The bytes Read() has taken out of the input queue, counted with the read under the
    // lock, so that the event thread sees the queue and the count of one moment.
    std::mutex readLock;
    quint64 bytesRead = 0;
    std::unique_ptr<TComThread> thread;  // last: it ends before what it uses goes
};

class TComThread {
public:
    TComThread(TCustomComPort *port, TCustomComPort::Impl *d, TComEvents events)
        : d_(d), handle_(d->handle), events_(events), handOver_(port), name_(port->Port())
    {
        std::lock_guard lock(d_->readLock);
        handedOver_ = d_->bytesRead;  // the queue was just emptied: whatever is in it is new
    }
    ~TComThread() { Stop(); }

    // Creates the events and starts the thread; returns 0 or the system error. The thread is
    // one of the process's thread pool: the program opens a port for every request, and a
    // thread made and ended each time costs milliseconds of processor time under Wine.
    DWORD Start()
    {
        stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        waited_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        wrote_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        ended_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!stop_ || !waited_ || !wrote_ || !ended_)
            return GetLastError();
        if (!TrySubmitThreadpoolCallback(&TComThread::Entry, this, nullptr))
            return GetLastError();
        started_ = true;
        return 0;
    }

    // Turns pending dispatches into no-ops, signals the stop event and waits for the thread
    // to end. The thread never waits for the caller's thread here, so the wait is short.
    void Stop()
    {
        handOver_.Cancel();
        if (stop_)
            SetEvent(stop_);
        if (started_)
            WaitForSingleObject(ended_, INFINITE);
        started_ = false;
        for (HANDLE event : {ended_, wrote_, waited_, stop_})
            if (event)
                CloseHandle(event);
        ended_ = wrote_ = waited_ = stop_ = nullptr;
    }

    // Port's thread: a request has gone out, its answer may be coming.
    void Wrote() { SetEvent(wrote_); }

private:
    static void CALLBACK Entry(PTP_CALLBACK_INSTANCE instance, void *self)
    {
        auto *thread = static_cast<TComThread *>(self);
        CallbackMayRunLong(instance);  // it runs as long as the port is open
        SetEventWhenCallbackReturns(instance, thread->ended_);  // this object is not touched after
        thread->Run();
    }

    // How one overlapped wait ended.
    struct TWaitEnd {
        bool stopped = false;  // the stop event came first
        bool atOnce = false;   // WaitCommEvent ended without pending
        DWORD error = 0;       // 0: completed with mask
        DWORD mask = 0;
    };

    void Run()
    {
        DWORD mask = SystemMask(events_);
        SetCommMask(handle_, mask);
        if (IsWatchedPort(name_))
            Watch();
        else
            WaitForEvents(mask);
        // Stopping: no more events, and nothing left in either queue.
        SetCommMask(handle_, 0);
        PurgeComm(handle_, PURGE_TXCLEAR | PURGE_RXCLEAR);
    }

    // Waits for the port's events and hands them over, until the stop event; a port that
    // cannot wait is watched instead.
    void WaitForEvents(DWORD mask)
    {
        int emptyInARow = 0;
        for (;;) {
            TWaitEnd end;
            Wait(end);
            if (end.stopped)
                return;
            if (end.atOnce && (end.error == ERROR_NOT_SUPPORTED || end.error == ERROR_INVALID_PARAMETER)) {
                if (!(mask & ModemLineEvents))
                    break;
                mask &= ~ModemLineEvents;
                SetCommMask(handle_, mask);
                continue;
            }
            if (end.error && end.error != ERROR_OPERATION_ABORTED)
                return LineGone();
            const TComEvents reported = end.error ? 0 : ComponentEvents(end.mask) & events_;
            const int handed = HandOverArrivals(reported & ~RxChar);
            if (handed < 0)
                return;
            emptyInARow = handed ? 0 : emptyInARow + 1;
            // A real port's wait may end once with nothing new (events of bytes that the last
            // hand-over read already); never aborted, never without events, never twice.
            if (!handed && (end.error || !end.mask || emptyInARow > 1))
                break;
        }
        AddWatchedPort(name_);
        Watch();
    }

    // Looks at the input queue of a port that cannot wait and hands over what arrives, until
    // the stop event.
    void Watch()
    {
        QElapsedTimer clock;
        clock.start();
        // On this clock: until when the queue is looked at closely (the first bytes of an
        // answer after a write, the rest of it after bytes have come).
        qint64 closeUntil = -1;
        for (;;) {
            const bool close = clock.elapsed() < closeUntil;
            const HANDLE events[2] = {stop_, wrote_};
            const DWORD which = WaitForMultipleObjects(2, events, FALSE, close ? WatchCloseMs : WatchSeldomMs);
            if (which == WAIT_OBJECT_0 + 1)
                closeUntil = clock.elapsed() + WatchAnswerMs;
            else if (which != WAIT_TIMEOUT)
                return;
            const int handed = HandOverArrivals(0);
            if (handed < 0)
                return;
            // A look with nothing new may fall in a pause of the sender in the middle of an
            // answer: the close looks go on for a while after the last bytes.
            if (handed > 0)
                closeUntil = clock.elapsed() + WatchRestMs;
        }
    }

    // One overlapped WaitCommEvent, ended by its completion or the stop event.
    void Wait(TWaitEnd &end)
    {
        OVERLAPPED ov{};
        ov.hEvent = waited_;
        ResetEvent(waited_);
        if (WaitCommEvent(handle_, &end.mask, &ov)) {
            end.atOnce = true;
            return;
        }
        end.error = GetLastError();
        if (end.error != ERROR_IO_PENDING) {
            end.atOnce = true;
            return;
        }
        const HANDLE both[2] = {stop_, waited_};
        DWORD transferred = 0;
        if (WaitForMultipleObjects(2, both, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
            // Stop event (or a failed wait): end the pending wait before its OVERLAPPED goes.
            SetCommMask(handle_, 0);
            FinishOverlapped(handle_, ov, transferred, true);
            end.stopped = true;
            return;
        }
        end.error = GetOverlappedResult(handle_, &ov, &transferred, FALSE) ? 0 : GetLastError();
    }

    // Hands over got, with a received-character event when bytes have arrived since the
    // last one. 1: something was handed over; 0: nothing to hand over; -1: the thread is to
    // end (the port is closing, or the device has gone and that was reported).
    int HandOverArrivals(TComEvents got)
    {
        if (events_ & RxChar) {
            std::unique_lock lock(d_->readLock);
            DWORD error = 0;
            const int queued = InputQueued(handle_, &error);
            if (queued < 0) {
                lock.unlock();
                LineGone();
                return -1;
            }
            const quint64 arrived = d_->bytesRead + quint64(queued);
            if (arrived > handedOver_)
                got |= RxChar;
            handedOver_ = arrived;  // lower only after a purge of the queue
        }
        if (!got)
            return 0;
        return handOver_.HandOver(got) ? 1 : -1;
    }

    // The device has gone: report it once as a line error, then wait only for the stop event.
    void LineGone()
    {
        d_->lineGone.store(true);
        if ((events_ & (1u << evError)) && !handOver_.HandOver(1u << evError))
            return;
        WaitForSingleObject(stop_, INFINITE);
    }

    TCustomComPort::Impl *d_;
    HANDLE handle_;
    TComEvents events_;
    TComHandOver handOver_;
    QString name_;
    HANDLE stop_ = nullptr;
    HANDLE waited_ = nullptr;
    HANDLE wrote_ = nullptr;
    HANDLE ended_ = nullptr;
    bool started_ = false;
    // Bytes read plus queued when the last received-character event was handed over.
    quint64 handedOver_ = 0;
};

int TCustomComPort::QueuedForDispatch(TComEvents got)
{
    DWORD error = 0;
    const int queued = InputQueued(d->handle, &error);
    if (queued >= 0)
        return queued;
    // A device that has gone fails the count and there is nothing to read; the line error
    // tells it, whether it came with these bytes or after their event was posted.
    if ((got & (1u << evError)) || d->lineGone.load())
        return 0;
    throw EComPort(10, int(error));
}

// ---------------------------------------------------------------------------------------------
// TCustomComPort

TCustomComPort::TCustomComPort(QObject *owner) : QObject(owner), d(new Impl), port_(QStringLiteral("COM1")) {}

TCustomComPort::~TCustomComPort()
{
    try {
        Close();
    } catch (...) {
        // the handle is released all the same; nobody is left to tell
    }
}

bool TCustomComPort::Connected() const
{
    return d->handle != INVALID_HANDLE_VALUE;
}

void TCustomComPort::Open()
{
    if (Connected())
        return;

    const std::wstring path = (QStringLiteral("\\\\.\\") + port_).toStdWString();
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throw EComPort(1, int(GetLastError()));
    d->handle = handle;
    d->lineGone = false;

    auto fail = [&](int code) {
        const DWORD err = GetLastError();
        CloseHandle(handle);
        d->handle = INVALID_HANDLE_VALUE;
        throw EComPort(code, int(err));
    };

    if (!SetupComm(handle, DWORD(Buffer.InputSize), DWORD(Buffer.OutputSize)))
        fail(9);
    DCB dcb = BuildDcb(*this);
    if (!SetCommState(handle, &dcb))
        fail(7);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = DWORD(Timeouts.ReadInterval);  // -1: MAXDWORD
    timeouts.ReadTotalTimeoutMultiplier = DWORD(Timeouts.ReadTotalMultiplier);
    timeouts.ReadTotalTimeoutConstant = DWORD(Timeouts.ReadTotalConstant);
    timeouts.WriteTotalTimeoutMultiplier = DWORD(Timeouts.WriteTotalMultiplier);
    timeouts.WriteTotalTimeoutConstant = DWORD(Timeouts.WriteTotalConstant);
    if (!SetCommTimeouts(handle, &timeouts))
        fail(8);
    // Whatever arrived before the port was opened is not an answer to anything of ours: a
    // driver starts with an empty queue, a pseudo-terminal behind Wine's COM port may not.
    if (!PurgeComm(handle, PURGE_RXCLEAR))
        fail(5);

    if (Events != 0) {
        auto thread = std::make_unique<TComThread>(this, d.get(), Events);
        if (const DWORD err = thread->Start()) {
            thread.reset();
            SetLastError(err);
            fail(1);
        }
        d->thread = std::move(thread);
    }
}

void TCustomComPort::Close()
{
    if (!Connected())
        return;
    const HANDLE handle = d->handle;

    // Abort what is pending both ways. A device that has gone fails here; the port is
    // released all the same, and the failure is the close's own only while the device is
    // there: a device pulled out is told by what the next use of the port meets.
    const DWORD purgeError =
        PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT) ? 0 : GetLastError();

    if (d->thread) {
        d->thread->Stop();
        d->thread.reset();
    }
    CloseHandle(handle);
    d->handle = INVALID_HANDLE_VALUE;

    if (purgeError && !d->lineGone.load() && !DeviceGoneError(int(purgeError)))
        throw EComPort(5, int(purgeError));
}

int TCustomComPort::Write(const void *buffer, int count)
{
    if (!Connected())
        throw EComPort(2, ERROR_INVALID_HANDLE);
    if (count <= 0)
        return 0;

    OVERLAPPED ov{};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!ov.hEvent)
        throw EComPort(2, int(GetLastError()));
    DWORD written = 0;
    bool ok = WriteFile(d->handle, buffer, DWORD(count), &written, &ov);
    DWORD err = ok ? 0 : GetLastError();
    if (!ok && err == ERROR_IO_PENDING) {
        // The write time-out (WriteTotalMultiplier per byte plus WriteTotalConstant; both zero:
        // no limit) bounds the wait; the driver ends the write at that time-out itself, and
        // one that does not has it cancelled.
        const qint64 limit = qint64(Timeouts.WriteTotalMultiplier) * count + Timeouts.WriteTotalConstant;
        const DWORD wait = limit > 0 ? DWORD(std::min<qint64>(limit, INFINITE - 1)) : INFINITE;
        const bool done = WaitForSingleObject(ov.hEvent, wait) == WAIT_OBJECT_0;
        ok = FinishOverlapped(d->handle, ov, written, !done);
        err = ok ? 0 : GetLastError();
        if (!ok && err == ERROR_OPERATION_ABORTED)
            ok = true;  // timed out: what went out is the result
    }
    CloseHandle(ov.hEvent);
    if (!ok)
        throw EComPort(2, int(err));
    if (d->thread)
        d->thread->Wrote();
    return int(written);
}

int TCustomComPort::Read(void *buffer, int count)
{
    if (!Connected())
        throw EComPort(3, ERROR_INVALID_HANDLE);
    if (count <= 0)
        return 0;

    OVERLAPPED ov{};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!ov.hEvent)
        throw EComPort(3, int(GetLastError()));
    DWORD read = 0;
    std::unique_lock lock(d->readLock);
    bool ok = ReadFile(d->handle, buffer, DWORD(count), &read, &ov);
    DWORD err = ok ? 0 : GetLastError();
    if (!ok && err == ERROR_IO_PENDING) {
        // With the read time-outs of the component the read ends at once with what is queued.
        ok = FinishOverlapped(d->handle, ov, read, false);
        err = ok ? 0 : GetLastError();
    }
    if (ok)
        d->bytesRead += read;
    lock.unlock();
    CloseHandle(ov.hEvent);
    if (!ok)
        throw EComPort(3, int(err));
    return int(read);
}

// ---------------------------------------------------------------------------------------------
// Port list

void ListSerialPorts(QStringList &list, const QString &, const QString &, const QString &)
{
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS)
        throw EComPort(23, int(rc));

    QStringList names;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[16384];  // the longest name a registry value may have
        DWORD valueNameLength = DWORD(std::size(valueName));
        wchar_t data[257] = {};    // a port name of up to 256 characters and its terminator
        DWORD dataBytes = DWORD(sizeof data - sizeof(wchar_t));
        DWORD type = 0;
        rc = RegEnumValueW(key, index, valueName, &valueNameLength, nullptr, &type,
                           reinterpret_cast<BYTE *>(data), &dataBytes);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS) {
            RegCloseKey(key);
            throw EComPort(23, int(rc));
        }
        if (type != REG_SZ)
            continue;
        // The data need not end in a terminator; it ends at its length or its first one.
        const QString name = QString::fromWCharArray(data, int(dataBytes / sizeof(wchar_t)));
        const QString trimmed = name.left(name.indexOf(QChar(0)) < 0 ? name.size() : name.indexOf(QChar(0)));
        if (!trimmed.isEmpty())
            names << trimmed;
    }
    RegCloseKey(key);
    SortPortNames(names);
    list = names;
}
