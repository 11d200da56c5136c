// The serial component on Windows: the Win32 communications calls in overlapped mode, an
// event thread around WaitCommEvent, the port list from the registry.

#include "CPort.h"

#include "ComPortShared.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <thread>

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

struct TCustomComPort::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::unique_ptr<TComThread> thread;
    // Set by the event thread when a wait fails: the device has gone (adapter pulled out).
    std::atomic<bool> lineGone{false};
};

class TComThread {
public:
    TComThread(TCustomComPort *port, HANDLE handle, TComEvents events, std::atomic<bool> *lineGone)
        : handle_(handle), events_(events), lineGone_(lineGone), handOver_(port)
    {
    }
    ~TComThread() { Stop(); }

    // Creates the events and starts the thread; returns 0 or the system error.
    DWORD Start()
    {
        stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        waited_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!stop_ || !waited_)
            return GetLastError();
        try {
            thread_ = std::thread([this] { Run(); });
        } catch (const std::system_error &e) {
            return DWORD(e.code().value());
        }
        return 0;
    }

    // Turns pending dispatches into no-ops, signals the stop event and waits for the thread
    // to end. The thread never waits for the caller's thread here, so the wait is short.
    void Stop()
    {
        handOver_.Cancel();
        if (stop_)
            SetEvent(stop_);
        if (thread_.joinable())
            thread_.join();
        if (waited_)
            CloseHandle(waited_);
        if (stop_)
            CloseHandle(stop_);
        waited_ = stop_ = nullptr;
    }

private:
    void Run()
    {
        SetCommMask(handle_, SystemMask(events_));
        while (WaitOnce()) {
        }
        // Stopping: no more events, and nothing left in either queue.
        SetCommMask(handle_, 0);
        PurgeComm(handle_, PURGE_TXCLEAR | PURGE_RXCLEAR);
    }

    // One overlapped wait and the hand-over of what it brought; false when the thread is to end.
    bool WaitOnce()
    {
        OVERLAPPED ov{};
        ov.hEvent = waited_;
        ResetEvent(waited_);
        DWORD mask = 0;
        DWORD transferred = 0;
        bool ok = WaitCommEvent(handle_, &mask, &ov);
        if (!ok && GetLastError() == ERROR_IO_PENDING) {
            const HANDLE both[2] = {stop_, waited_};
            const DWORD which = WaitForMultipleObjects(2, both, FALSE, INFINITE);
            if (which != WAIT_OBJECT_0 + 1) {
                // Stop event (or a failed wait): end the pending wait before its OVERLAPPED goes.
                SetCommMask(handle_, 0);
                FinishOverlapped(handle_, ov, transferred, true);
                return false;
            }
            ok = GetOverlappedResult(handle_, &ov, &transferred, FALSE);
        }
        if (!ok)
            return LineGone();

        TComEvents got = ComponentEvents(mask) & events_;
        // A completed wait without the received-character bit while bytes are queued (some
        // drivers, Wine's among them, complete the wait with no bits set) stands for a
        // received-character event, so that the tail of an answer is not left waiting.
        if ((events_ & (1u << evRxChar)) && !(got & (1u << evRxChar))) {
            DWORD error = 0;
            const int queued = InputQueued(handle_, &error);
            if (queued < 0)
                return LineGone();
            if (queued > queuedAtLastHandOver_)
                got |= 1u << evRxChar;
        }
        if (!got)
            return true;
        if (!handOver_.HandOver(got))
            return false;
        DWORD error = 0;
        queuedAtLastHandOver_ = InputQueued(handle_, &error);
        return true;
    }

    // The device has gone: report it once as a line error, then wait only for the stop event.
    bool LineGone()
    {
        lineGone_->store(true);
        if ((events_ & (1u << evError)) && !handOver_.HandOver(1u << evError))
            return false;
        WaitForSingleObject(stop_, INFINITE);
        return false;
    }

    HANDLE handle_;
    TComEvents events_;
    std::atomic<bool> *lineGone_;
    TComHandOver handOver_;
    HANDLE stop_ = nullptr;
    HANDLE waited_ = nullptr;
    // Bytes left queued after the last hand-over: a wait completed without the received-
    // character bit stands for one only when more have come since.
    int queuedAtLastHandOver_ = 0;
    std::thread thread_;
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
        auto thread = std::make_unique<TComThread>(this, handle, Events, &d->lineGone);
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
    // released all the same and the error raised only once it is closed.
    const DWORD purgeError =
        PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT) ? 0 : GetLastError();

    if (d->thread) {
        d->thread->Stop();
        d->thread.reset();
    }
    CloseHandle(handle);
    d->handle = INVALID_HANDLE_VALUE;

    if (purgeError)
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
    bool ok = ReadFile(d->handle, buffer, DWORD(count), &read, &ov);
    DWORD err = ok ? 0 : GetLastError();
    if (!ok && err == ERROR_IO_PENDING) {
        // With the read time-outs of the component the read ends at once with what is queued.
        ok = FinishOverlapped(d->handle, ov, read, false);
        err = ok ? 0 : GetLastError();
    }
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
