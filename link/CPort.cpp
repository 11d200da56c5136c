#include "CPort.h"

#include "ComPortShared.h"
#include "ErrorReport.h"
#include "PortCalls.h"
#include "PortInfo.h"

#include <QCollator>
#include <QLocale>
#include <QMetaObject>
#include <QStandardPaths>

#include <algorithm>
#include <condition_variable>
#include <mutex>

// ---------------------------------------------------------------------------------------------
// EComPort

namespace {

const char *const ErrorTexts[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};
constexpr int ErrorTextCount = int(sizeof(ErrorTexts) / sizeof(ErrorTexts[0]));

QString ComposeMessage(int code, int winCode)
{
    QString text = EComPort::CodeText(code);
    if (winCode != -1)
        text += QStringLiteral(" (win error code: %1)").arg(winCode);
    return text;
}

}  // namespace

EComPort::EComPort(int code, int winCode)
    : std::runtime_error(ComposeMessage(code, winCode).toStdString()), Code(code), WinCode(winCode)
{
}

QString EComPort::CodeText(int code)
{
    if (code < 1 || code > ErrorTextCount)
        return {};
    return QString::fromLatin1(ErrorTexts[code - 1]);
}

QString EComPort::Message() const
{
    return ComposeMessage(Code, WinCode);
}

// ---------------------------------------------------------------------------------------------
// Line settings

namespace {

const int BaudRates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                         14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};

}  // namespace

int BaudValue(const TCustomComPort &port)
{
    return port.BaudRate == brCustom ? port.CustomBaudRate : BaudRates[port.BaudRate];
}

// ---------------------------------------------------------------------------------------------
// Hand-over of device events to the port's thread

// What one event thread shares with the dispatches it has posted.
struct TComHandOver::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool closing = false;  // set by the closing port: pending dispatches do nothing
    bool done = false;     // set by the dispatch when it has run
};

TComHandOver::TComHandOver(TCustomComPort *port) : port_(port), state_(std::make_shared<State>()) {}

bool TComHandOver::HandOver(TComEvents got)
{
    {
        std::lock_guard lock(state_->mutex);
        if (state_->closing)
            return false;
        state_->done = false;
    }
    TCustomComPort *port = port_;
    std::shared_ptr<State> state = state_;
    QMetaObject::invokeMethod(
        port, [port, state, got] { Dispatch(port, state, got); }, Qt::QueuedConnection);
    std::unique_lock lock(state_->mutex);
    state_->changed.wait(lock, [this] { return state_->done || state_->closing; });
    return !state_->closing;
}

void TComHandOver::Cancel()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->closing = true;
    }
    state_->changed.notify_all();
}

// Runs on the port's thread. The handler may close, reopen or even destroy the port: after it
// returns only the shared state is touched.
void TComHandOver::Dispatch(TCustomComPort *port, const std::shared_ptr<State> &state, TComEvents got)
{
    {
        std::lock_guard lock(state->mutex);
        if (state->closing)
            return;
    }
    try {
        // The events in their order: line error, received character, transmit empty, break,
        // ring, CTS, DSR, receive flag, RLSD, receive buffer 80 % full. Only the received
        // character has a handler; a line error ends the event thread's watch of a device
        // that has gone and has no effect here.
        if (got & (1u << evRxChar)) {
            const int count = port->QueuedForDispatch(got);
            if (count > 0 && port->OnRxChar) {
                const auto handler = port->OnRxChar;  // the port may be destroyed inside
                handler(port, count);
            }
        }
    } catch (...) {
        ReportException(std::current_exception());
    }
    {
        std::lock_guard lock(state->mutex);
        state->done = true;
    }
    state->changed.notify_all();
}

// ---------------------------------------------------------------------------------------------
// Opening and closing: the order of the steps and what a failed one means

void OpenPort(TPortSteps &steps, bool withThread)
{
    if (const TStepFailure failure = steps.OpenDevice())
        throw EComPort(EComPort::OpenFailed, *failure);
    const auto check = [&steps](const TStepFailure &failure, int code) {
        if (failure) {
            steps.CloseDevice();
            throw EComPort(code, *failure);
        }
    };
    check(steps.SetQueues(), EComPort::SetupFailed);
    check(steps.ApplySettings(), EComPort::SetStateFailed);
    check(steps.ApplyTimeouts(), EComPort::SetTimeoutsFailed);
    // Whatever arrived while the port was closed is not an answer to anything of ours.
    check(steps.PurgeInput(), EComPort::PurgeFailed);
    if (withThread)
        check(steps.StartThread(), EComPort::OpenFailed);
}

void ClosePort(TPortSteps &steps)
{
    // The event thread learns first that the port is closing: the purge may end its wait.
    steps.BeginClose();
    // A device that has gone fails the purge; the port is released all the same, and the
    // failure is the close's own only while the device is there: a device pulled out is told
    // by what the next use of the port meets.
    const int purgeError = steps.PurgeBoth();
    if (!steps.StopThread())
        return;
    steps.CloseDevice();
    if (purgeError && !steps.LineGone() && !DeviceGoneError(purgeError))
        throw EComPort(EComPort::PurgeFailed, purgeError);
}

// ---------------------------------------------------------------------------------------------
// TCustomComPort, TComPort: the system-neutral properties

QString TCustomComPort::Port() const
{
    return port_;
}

void TCustomComPort::SetPort(const QString &name)
{
    if (name == port_)
        return;
    port_ = name;
    if (Connected()) {
        Close();
        Open();
    }
}

TCustomComPort::~TCustomComPort()
{
    try {
        Close();
    } catch (...) {
        // the device is let go all the same; nobody is left to tell
    }
}

void TCustomComPort::Open()
{
    if (Connected())
        return;
    OpenPort(*SystemPortSteps(*this), Events != 0);
}

void TCustomComPort::Close()
{
    if (!Connected())
        return;
    ClosePort(*SystemPortSteps(*this));
}

TComPort::TComPort(QObject *owner) : TCustomComPort(owner)
{
    // The program's line: 9600 baud, 8 data bits, no parity, 2 stop bits, no flow control.
    BaudRate = br9600;
    DataBits = dbEight;
    StopBits = sbTwoStopBits;
    Parity = TComParity{};
    FlowControl = TComFlowControl{};
    Events = AllComEvents;
    SyncMethod = smThreadSync;
    Buffer = TComBuffer{};
    Timeouts = TComTimeouts{};
}

// ---------------------------------------------------------------------------------------------
// Port list

QString DefaultUserPortDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

void SortPortNames(QStringList &names)
{
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    std::sort(names.begin(), names.end(),
              [&](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });
}
