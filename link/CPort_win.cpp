// The serial component on Windows: the Win32 communications calls in overlapped mode, an
// event thread around WaitCommEvent, the port list from the registry.

#include "CPort.h"

#include "ComEventLoop_win.h"
#include "ComPortShared.h"
#include "PortCalls.h"
#include "PortInfo.h"

#include <QElapsedTimer>
#include <QWinEventNotifier>

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

// An overlapped request of a port. What the driver may write into or read from until the
// request ends (the OVERLAPPED, its event, the bytes of a write, the mask of a wait) lies
// on the heap, so that a request that never ends can be left with all of it.
class TOverlappedIo : public TPendingIo {
public:
    // commWait: a WaitCommEvent, which clearing the event mask ends too.
    TOverlappedIo(HANDLE handle, std::atomic<bool> &abandoned, bool commWait)
        : handle_(handle), abandoned_(abandoned), commWait_(commWait), block_(new Block)
    {
        block_->ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~TOverlappedIo() override
    {
        if (!block_)
            return;
        if (block_->ov.hEvent)
            CloseHandle(block_->ov.hEvent);
        delete block_;
    }
    TOverlappedIo(const TOverlappedIo &) = delete;
    TOverlappedIo &operator=(const TOverlappedIo &) = delete;

    bool Valid() const { return block_->ov.hEvent != nullptr; }
    // Ready for a new request.
    OVERLAPPED *Fresh()
    {
        const HANDLE event = block_->ov.hEvent;
        ResetEvent(event);
        block_->ov = OVERLAPPED{};
        block_->ov.hEvent = event;
        block_->mask = 0;
        return &block_->ov;
    }
    HANDLE Event() const { return block_->ov.hEvent; }
    DWORD *Mask() { return &block_->mask; }
    QByteArray &Bytes() { return block_->bytes; }

    void Cancel() override
    {
        if (commWait_)
            SetCommMask(handle_, 0);
        CancelIoEx(handle_, &block_->ov);
    }
    bool Ended(DWORD ms) override { return WaitForSingleObject(block_->ov.hEvent, ms) == WAIT_OBJECT_0; }
    DWORD Result(DWORD &transferred) override
    {
        transferred = 0;
        return GetOverlappedResult(handle_, &block_->ov, &transferred, FALSE) ? 0 : GetLastError();
    }
    void Abandon() override
    {
        block_ = nullptr;  // left to the driver for good, on purpose
        abandoned_.store(true);
    }

private:
    struct Block {
        OVERLAPPED ov{};
        DWORD mask = 0;
        QByteArray bytes;
    };
    HANDLE handle_;
    std::atomic<bool> &abandoned_;
    bool commWait_;
    Block *block_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Event thread
//
// Runs the event loop (ComEventLoop_win.cpp) on the port: overlapped WaitCommEvent, the
// stop event, the count of the input queue, the hand-over to the port's (user-interface)
// thread (TComHandOver). On the stop event it clears the mask and discards both queues.

struct TCustomComPort::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    // Set by the event thread when the device has gone (adapter pulled out).
    std::atomic<bool> lineGone{false};
    // A request of the port was left to a driver that never ended it: the handle stays open
    // for good, since the driver may still use what the request left with it.
    std::atomic<bool> abandoned{false};
    // The bytes Read() has taken out of the input queue, counted with the read under the
    // lock, so that the event thread sees the queue and the count of one moment.
    std::mutex readLock;
    quint64 bytesRead = 0;
    std::unique_ptr<TComThread> thread;  // last: it ends before what it uses goes
};

class TComThread : private TComEventPort {
public:
    TComThread(TCustomComPort *port, TCustomComPort::Impl *d, TComEvents events)
        : d_(d), handle_(d->handle), events_(events), handOver_(port), wait_(d->handle, d->abandoned, true)
    {
        std::lock_guard lock(d_->readLock);
        arrivedAtStart_ = d_->bytesRead;  // the queue was just emptied: whatever is in it is new
        clock_.start();
    }
    ~TComThread() { Stop(); }

    // Sets the event mask, creates the events and starts the thread; returns 0 or the system
    // error. The mask is set here, on the opening thread, so that it is in place when Open()
    // returns and the first request goes out. The thread is one of the process's thread
    // pool: the program opens a port for every request, and a thread made and ended each
    // time costs milliseconds of processor time under Wine.
    DWORD Start()
    {
        SetCommMask(handle_, SystemMask(events_));
        stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        wrote_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        ended_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!stop_ || !wait_.Valid() || !wrote_ || !ended_)
            return GetLastError();
        if (!TrySubmitThreadpoolCallback(&TComThread::Entry, this, nullptr))
            return GetLastError();
        started_ = true;
        return 0;
    }

    // The port is closing: pending dispatches become no-ops and the stop event is set, so
    // that a wait that the close's purge ends is seen as the close's.
    void BeginStop()
    {
        handOver_.Cancel();
        if (stop_)
            SetEvent(stop_);
    }

    // Stops the thread and waits for it to end. The thread never waits for the caller's
    // thread here, and gives a driver CancelLimitMs to end its pending wait, so the wait is
    // short. False when the thread has not ended all the same (stuck in a call of a driver):
    // it is then left running, and this object with what it uses must be left with it.
    bool Stop()
    {
        BeginStop();
        if (started_ && WaitForSingleObject(ended_, CancelLimitMs + StopMarginMs) != WAIT_OBJECT_0)
            return false;
        started_ = false;
        for (HANDLE event : {ended_, wrote_, stop_})
            if (event)
                CloseHandle(event);
        ended_ = wrote_ = stop_ = nullptr;
        return true;
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

    void Run()
    {
        // Each opening finds out anew whether the port can wait for its events.
        TComEventLoop loop(*this, events_, arrivedAtStart_);
        loop.Run(false);
        pending_ = false;  // ended by the loop, or left to the driver
        // Stopping: no more events, and nothing left in either queue.
        SetCommMask(handle_, 0);
        PurgeComm(handle_, PURGE_TXCLEAR | PURGE_RXCLEAR);
    }

    // TComEventPort: the Win32 calls of the loop.
    TWaitEnd Wait(DWORD ms) override
    {
        TWaitEnd end;
        if (!pending_) {
            if (WaitCommEvent(handle_, wait_.Mask(), wait_.Fresh())) {
                end.Kind = TWaitEnd::Completed;
                end.AtOnce = true;
                end.Mask = *wait_.Mask();
                return end;
            }
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                end.Kind = TWaitEnd::Failed;
                end.AtOnce = true;
                end.Error = error;
                return end;
            }
            pending_ = true;
        }
        const HANDLE both[2] = {stop_, wait_.Event()};
        const DWORD which = WaitForMultipleObjects(2, both, FALSE, ms);
        if (which == WAIT_TIMEOUT) {
            end.Kind = TWaitEnd::TimedOut;
            return end;
        }
        if (which != WAIT_OBJECT_0 + 1) {
            end.Kind = TWaitEnd::Stopped;  // stop event (or a failed wait): the loop ends the wait
            return end;
        }
        pending_ = false;
        DWORD transferred = 0;
        if (const DWORD error = wait_.Result(transferred)) {
            end.Kind = TWaitEnd::Failed;
            end.Error = error;
        } else {
            end.Kind = TWaitEnd::Completed;
            end.Mask = *wait_.Mask();
        }
        return end;
    }

    TPendingIo *PendingWait() override { return pending_ ? &wait_ : nullptr; }

    void SetMask(DWORD mask) override { SetCommMask(handle_, mask); }

    bool Arrived(quint64 &arrived) override
    {
        std::lock_guard lock(d_->readLock);
        DWORD error = 0;
        const int queued = InputQueued(handle_, &error);
        if (queued < 0)
            return false;
        arrived = d_->bytesRead + quint64(queued);
        return true;
    }

    TWake Sleep(DWORD ms) override
    {
        const HANDLE events[2] = {stop_, wrote_};
        switch (WaitForMultipleObjects(2, events, FALSE, ms)) {
        case WAIT_TIMEOUT: return TWake::Time;
        case WAIT_OBJECT_0 + 1: return TWake::Wrote;
        default: return TWake::Stop;
        }
    }

    qint64 Now() override { return clock_.elapsed(); }
    bool Stopping() override { return WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0; }
    bool HandOver(TComEvents got) override { return handOver_.HandOver(got); }
    void MarkLineGone() override { d_->lineGone.store(true); }
    void WaitForStop() override { WaitForSingleObject(stop_, INFINITE); }

    TCustomComPort::Impl *d_;
    HANDLE handle_;
    TComEvents events_;
    TComHandOver handOver_;
    HANDLE stop_ = nullptr;
    HANDLE wrote_ = nullptr;
    HANDLE ended_ = nullptr;
    bool started_ = false;
    quint64 arrivedAtStart_ = 0;
    QElapsedTimer clock_;
    // The wait of the loop: pending across a wait that timed out.
    TOverlappedIo wait_;
    bool pending_ = false;
    // What a stopping thread is given beyond its driver's time to end a cancelled wait.
    static constexpr DWORD StopMarginMs = 2000;
};

int TCustomComPort::QueuedForDispatch(TComEvents got)
{
    // A device that has gone fails the count and there is nothing to read; the event thread
    // tells it as soon as the dispatch lets it go on.
    DWORD error = 0;
    const int queued = InputQueued(d->handle, &error);
    return DispatchCount(queued, error, got, d->lineGone.load());
}

// ---------------------------------------------------------------------------------------------
// TCustomComPort

TCustomComPort::TCustomComPort(QObject *owner) : QObject(owner), d(new Impl), port_(QStringLiteral("COM1")) {}

void TCustomComPort::ImplDeleter::operator()(Impl *impl) const
{
    delete impl;
}

bool TCustomComPort::Connected() const
{
    return d->handle != INVALID_HANDLE_VALUE;
}

// ---------------------------------------------------------------------------------------------
// The steps of opening and closing (their order is CPort.cpp's)

class TPortSystem final : public TPortSteps {
public:
    explicit TPortSystem(TCustomComPort &port) : port_(port) {}

    TStepFailure OpenDevice() override
    {
        const std::wstring path = (QStringLiteral("\\\\.\\") + port_.port_).toStdWString();
        const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return int(GetLastError());
        d().handle = handle;
        d().lineGone = false;
        d().abandoned = false;
        return {};
    }

    TStepFailure SetQueues() override
    {
        if (!SetupComm(d().handle, DWORD(port_.Buffer.InputSize), DWORD(port_.Buffer.OutputSize)))
            return int(GetLastError());
        return {};
    }

    TStepFailure ApplySettings() override
    {
        DCB dcb = BuildDcb(port_);
        if (!SetCommState(d().handle, &dcb))
            return int(GetLastError());
        return {};
    }

    TStepFailure ApplyTimeouts() override
    {
        const TComTimeouts &given = port_.Timeouts;
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = DWORD(given.ReadInterval);  // -1: MAXDWORD
        timeouts.ReadTotalTimeoutMultiplier = DWORD(given.ReadTotalMultiplier);
        timeouts.ReadTotalTimeoutConstant = DWORD(given.ReadTotalConstant);
        timeouts.WriteTotalTimeoutMultiplier = DWORD(given.WriteTotalMultiplier);
        timeouts.WriteTotalTimeoutConstant = DWORD(given.WriteTotalConstant);
        if (!SetCommTimeouts(d().handle, &timeouts))
            return int(GetLastError());
        return {};
    }

    // A driver starts with an empty queue, a pseudo-terminal behind Wine's COM port may not.
    TStepFailure PurgeInput() override
    {
        if (!PurgeComm(d().handle, PURGE_RXCLEAR))
            return int(GetLastError());
        return {};
    }

    TStepFailure StartThread() override
    {
        auto thread = std::make_unique<TComThread>(&port_, &d(), port_.Events);
        if (const DWORD err = thread->Start())
            return int(err);
        d().thread = std::move(thread);
        return {};
    }

    // The event thread learns first that the port is closing: the purge ends its wait, which
    // must not be taken for a port that cannot wait.
    void BeginClose() override
    {
        if (d().thread)
            d().thread->BeginStop();
    }

    // Aborts what is pending both ways.
    int PurgeBoth() override
    {
        return PurgeComm(d().handle, PURGE_TXABORT | PURGE_RXABORT) ? 0 : int(GetLastError());
    }

    bool StopThread() override
    {
        if (d().thread && !d().thread->Stop()) {
            // The event thread is stuck in a driver's call: it is left running, and with it
            // the handle and everything of the port that it uses.
            (void)d().thread.release();
            (void)port_.d.release();
            port_.d.reset(new TCustomComPort::Impl);
            return false;
        }
        d().thread.reset();
        return true;
    }

    void CloseDevice() override
    {
        if (!d().abandoned.load())
            CloseHandle(d().handle);
        d().handle = INVALID_HANDLE_VALUE;
    }

    bool LineGone() override { return d().lineGone.load(); }

private:
    // Looked up each time: a port whose thread is left running gets a new one.
    TCustomComPort::Impl &d() { return *port_.d; }

    TCustomComPort &port_;
};

std::unique_ptr<TPortSteps> SystemPortSteps(TCustomComPort &port)
{
    return std::make_unique<TPortSystem>(port);
}

int TCustomComPort::Write(const void *buffer, int count)
{
    if (!Connected())
        throw EComPort(EComPort::WriteFailed, ERROR_INVALID_HANDLE);
    if (count <= 0)
        return 0;

    TOverlappedIo io(d->handle, d->abandoned, false);
    if (!io.Valid())
        throw EComPort(EComPort::WriteFailed, int(GetLastError()));
    // The bytes go with the request: a write left to its driver still has them.
    io.Bytes() = QByteArray(static_cast<const char *>(buffer), count);
    TWriteEnd end;
    if (WriteFile(d->handle, io.Bytes().constData(), DWORD(count), &end.Written, io.Fresh())) {
        end.Error = 0;
    } else if ((end.Error = GetLastError()) == ERROR_IO_PENDING) {
        // The write time-out (WriteTotalMultiplier per byte plus WriteTotalConstant; both zero:
        // no limit) bounds the wait; the driver ends the write at that time-out itself, and
        // one that does not has it cancelled.
        const qint64 limit = qint64(Timeouts.WriteTotalMultiplier) * count + Timeouts.WriteTotalConstant;
        end = FinishWrite(io, limit > 0 ? DWORD(std::min<qint64>(limit, INFINITE - 1)) : INFINITE);
    }
    if (end.Abandoned)
        d->lineGone.store(true);
    if (end.Error == ERROR_OPERATION_ABORTED) {
        // Cut off: by a device pulled out, as the count of the queue then tells.
        DWORD error = 0;
        if (InputQueued(d->handle, &error) < 0)
            end.Error = error;
    }
    if (end.Error)
        throw EComPort(EComPort::WriteFailed, int(end.Error));
    if (d->thread)
        d->thread->Wrote();
    return int(end.Written);
}

int TCustomComPort::Read(void *buffer, int count)
{
    if (!Connected())
        throw EComPort(EComPort::ReadFailed, ERROR_INVALID_HANDLE);
    if (count <= 0)
        return 0;

    OVERLAPPED ov{};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!ov.hEvent)
        throw EComPort(EComPort::ReadFailed, int(GetLastError()));
    DWORD read = 0;
    std::unique_lock lock(d->readLock);
    bool ok = ReadFile(d->handle, buffer, DWORD(count), &read, &ov);
    DWORD err = ok ? 0 : GetLastError();
    if (!ok && err == ERROR_IO_PENDING) {
        // With the read time-outs of the component the read ends at once with what is queued.
        ok = GetOverlappedResult(d->handle, &ov, &read, TRUE);
        err = ok ? 0 : GetLastError();
    }
    if (ok)
        d->bytesRead += read;
    lock.unlock();
    CloseHandle(ov.hEvent);
    if (!ok)
        throw EComPort(EComPort::ReadFailed, int(err));
    return int(read);
}

int TCustomComPort::InputCount()
{
    if (!Connected())
        throw EComPort(EComPort::StatusFailed, ERROR_INVALID_HANDLE);
    DWORD error = 0;
    const int count = InputQueued(d->handle, &error);
    if (count < 0)
        throw EComPort(EComPort::StatusFailed, int(error));
    return count;
}

// ---------------------------------------------------------------------------------------------
// Port list

namespace {

// The registry's list of serial ports, and the key above it, which holds it while it exists.
const wchar_t SerialPortsKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
const wchar_t DeviceMapKey[] = L"HARDWARE\\DEVICEMAP";

}  // namespace

void ListSerialPorts(QStringList &list, const QString &, const QString &, const QString &)
{
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, SerialPortsKey, 0, KEY_READ, &key);
    if (rc == ERROR_FILE_NOT_FOUND) {
        // Windows makes the key when a port first appears: a computer without any has none.
        list.clear();
        return;
    }
    if (rc != ERROR_SUCCESS)
        throw EComPort(EComPort::RegistryFailed, int(rc));

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
            throw EComPort(EComPort::RegistryFailed, int(rc));
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

// The watch is on the key above the list, with its subkeys: it sees the list made, changed
// and taken away alike. A notification is signalled once and asked for again each time.
struct TPortListWatch::Impl {
    HKEY key = nullptr;
    HANDLE event = nullptr;
    QWinEventNotifier *notifier = nullptr;

    bool Arm()
    {
        return RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, event, TRUE)
            == ERROR_SUCCESS;
    }
};

TPortListWatch::TPortListWatch(QObject *parent) : QObject(parent), d(new Impl)
{
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, DeviceMapKey, 0, KEY_NOTIFY, &d->key) != ERROR_SUCCESS) {
        d->key = nullptr;
        return;  // no watch: the list is read again when the selector opens
    }
    d->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!d->event || !d->Arm())
        return;
    d->notifier = new QWinEventNotifier(d->event, this);
    connect(d->notifier, &QWinEventNotifier::activated, this, [this] {
        if (!d->Arm())
            d->notifier->setEnabled(false);
        emit Changed();
    });
}

TPortListWatch::~TPortListWatch()
{
    delete d->notifier;
    if (d->key)
        RegCloseKey(d->key);  // ends the notification
    if (d->event)
        CloseHandle(d->event);
}
