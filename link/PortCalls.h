#pragma once
// What the serial component's portable top (CPort.cpp, PortInfo.cpp) asks of each system.
// The steps of opening and closing a port, apart from the system calls that carry them out:
// CPort.cpp keeps the order of the steps and what a failed one means (which EComPort code,
// and that the device is let go again) for every system; CPort_<system>.cpp holds the calls
// of each step, and tests run the order on a scripted stand-in. The causes of the system's
// error codes: PortInfo.cpp sorts an error by them, PortInfo_<system>.cpp lists them.

#include "CPort.h"
#include "PortInfo.h"

#include <QList>

#include <memory>
#include <optional>

// The end of a step that can fail: none when it is done, else the system's error code
// (errno, GetLastError()).
using TStepFailure = std::optional<int>;

class TPortSteps {
public:
    virtual ~TPortSteps() = default;

    // Opening, in this order; a failed step ends the opening.
    // Takes the device for this port alone. A failure leaves nothing open.
    virtual TStepFailure OpenDevice() = 0;
    // The sizes of the input and output queues (Buffer).
    virtual TStepFailure SetQueues() = 0;
    // The line's settings: speed, data bits, parity, stop bits, flow control, modem lines.
    virtual TStepFailure ApplySettings() = 0;
    // The read and write time-outs (Timeouts).
    virtual TStepFailure ApplyTimeouts() = 0;
    // Discards what arrived before the port was opened.
    virtual TStepFailure PurgeInput() = 0;
    // Starts the event thread (only when the port has events to tell). A failure leaves no
    // thread.
    virtual TStepFailure StartThread() = 0;

    // Closing, in this order.
    // Tells the event thread and the device that the port is going.
    virtual void BeginClose() = 0;
    // Discards what is queued both ways; 0 or the system's error code.
    virtual int PurgeBoth() = 0;
    // Stops the event thread and waits for it; false when it is stuck in a driver's call and
    // has been left running with the device and everything of the port that it uses: the
    // port counts as closed all the same.
    virtual bool StopThread() = 0;
    // Lets the device go; also what a failed opening ends with.
    virtual void CloseDevice() = 0;
    // Whether the device is known to have gone (adapter pulled out).
    virtual bool LineGone() = 0;
};

// The system's steps for port (CPort_<system>.cpp).
std::unique_ptr<TPortSteps> SystemPortSteps(TCustomComPort &port);

// Runs the opening: raises EComPort::OpenFailed, SetupFailed, SetStateFailed,
// SetTimeoutsFailed or PurgeFailed with the failed step's error, after letting the device go.
// withThread: the port has events to tell, and its event thread is started last.
void OpenPort(TPortSteps &steps, bool withThread);

// Runs the closing: raises EComPort::PurgeFailed when the purge failed while the device is
// there; a device that has gone is told by what the next use of the port meets.
void ClosePort(TPortSteps &steps);

// System error codes that say the same about a port: what at its opening, what in use.
struct TPortErrorCauses {
    QList<int> Errors;
    TPortCause Opening;
    TPortCause InUse;
};
// This system's codes of a known cause; any other error is TPortCause::Other.
const QList<TPortErrorCauses> &SystemPortErrorCauses();
