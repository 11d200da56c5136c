#pragma once
// The decisions of a port's event thread on Windows, apart from the Win32 calls that carry
// them out: when to look at the input queue, what a wait's end means, what is handed over
// to the port's (user-interface) thread, and when a port that cannot wait for its events is
// watched instead. CPort_win.cpp runs the loop on the real port; tests run it on a scripted
// stand-in of the driver, in the orders of answers that a real driver can give.

#include "CPort.h"

#include <QtGlobal>

#include <windows.h>

// An overlapped request of the port (a wait for events, a write) that has not ended yet.
class TPendingIo {
public:
    virtual ~TPendingIo() = default;
    // Asks the driver to end it (CancelIoEx).
    virtual void Cancel() = 0;
    // Waits up to ms for its end; true when it has ended.
    virtual bool Ended(DWORD ms) = 0;
    // How it ended: 0 or the system's error code, and the bytes it moved.
    virtual DWORD Result(DWORD &transferred) = 0;
    // It is never to end: what the driver may still write into (its OVERLAPPED, its event,
    // its buffer) and the port's handle stay allocated for the rest of the process.
    virtual void Abandon() = 0;
};

// How long a driver is given to end a request once it has been cancelled. A driver that
// takes longer (a USB serial driver that lost its device, one stuck around a suspend) has
// the request abandoned: the port counts as gone, and the program goes on.
constexpr DWORD CancelLimitMs = 3000;

// Cancels io and waits up to CancelLimitMs for its end; false when it did not end and has
// been abandoned.
bool CancelPending(TPendingIo &io);

// How a write ended.
struct TWriteEnd {
    DWORD Error = 0;  // 0, or the system's error code
    DWORD Written = 0;
    bool Abandoned = false;  // the driver ended neither the write nor its cancellation
};
// Waits up to limitMs (INFINITE: no limit) for a pending write. A write that the driver does
// not end by then is cancelled, and what went out is its result; a write that ended aborted
// by itself (ERROR_OPERATION_ABORTED: its device was pulled out) failed.
TWriteEnd FinishWrite(TPendingIo &io, DWORD limitMs);

// The count of the input queue for the dispatch of got: queued when the count succeeded
// (queued >= 0), else 0 when the device has gone (a line error among got, the line known to
// be gone, or an error that says so, as a device pulled out while the dispatch was pending
// gives); otherwise raises EComPort::StatusFailed with error.
int DispatchCount(int queued, DWORD error, TComEvents got, bool lineGone);

// What the event loop asks of the port and of the thread that runs it.
class TComEventPort {
public:
    virtual ~TComEventPort() = default;

    // How a wait for the port's events ended.
    struct TWaitEnd {
        enum TKind {
            Completed,  // the driver reported events: Mask (0 is possible)
            Failed,     // the wait failed: Error
            Stopped,    // the stop event came first; the wait may still be pending (PendingWait)
            TimedOut,   // the time given passed; the wait is still pending
        };
        TKind Kind = Stopped;
        bool AtOnce = false;  // WaitCommEvent ended it itself: the wait never was pending
        DWORD Error = 0;
        DWORD Mask = 0;
    };
    // Waits for the port's events with the mask set last: starts a WaitCommEvent unless one
    // is still pending from a call that timed out, then waits up to ms (INFINITE: no limit)
    // for its end or the stop event.
    virtual TWaitEnd Wait(DWORD ms) = 0;
    // The wait started by Wait() that has not ended, or null.
    virtual TPendingIo *PendingWait() = 0;
    virtual void SetMask(DWORD mask) = 0;
    // All the bytes that have arrived: those Read() took out plus those queued, counted at
    // one moment. False when the device cannot tell (it has gone).
    virtual bool Arrived(quint64 &arrived) = 0;

    enum class TWake { Stop, Wrote, Time };
    // Waits up to ms for the stop event or a write of the port's thread.
    virtual TWake Sleep(DWORD ms) = 0;
    // A steady clock, in milliseconds.
    virtual qint64 Now() = 0;
    // Whether the port is being closed (the stop event is set).
    virtual bool Stopping() = 0;

    // Hands got over to the port's thread and waits until it has been dispatched; false when
    // the port is closing.
    virtual bool HandOver(TComEvents got) = 0;
    // The device has gone: counts and reads are to fail quietly from now on.
    virtual void MarkLineGone() = 0;
    // Waits for the stop event alone.
    virtual void WaitForStop() = 0;
};

// The system's event bits of the component's events, and back.
DWORD SystemMask(TComEvents events);
TComEvents ComponentEvents(DWORD mask);

class TComEventLoop {
public:
    // events: the port's Events; arrivedAtStart: what had arrived when the input queue was
    // last emptied, so that whatever came since counts as new.
    TComEventLoop(TComEventPort &port, TComEvents events, quint64 arrivedAtStart);

    // Runs until the port is closed, and ends a wait still pending then. watch: the port is
    // known to be unable to wait, and its queue is looked at from the start. Whether a port
    // can wait is found out anew at each opening: a driver that ended waits aborted around a
    // suspend, or another adapter that gets the same name, waits again.
    void Run(bool watch);
    // Whether the loop looked at the queue instead of waiting (the port showed it cannot wait).
    bool Watched() const { return watched_; }

    // Watching a port's queue: the time between two looks while an answer may be coming,
    // which is what the watch adds to the hand-over of an answer's last bytes (a pause this
    // long at 9600 baud ends a frame); how long after a write the first bytes of an answer
    // are looked for closely; how long after bytes have come the rest of an answer is looked
    // for closely (the sender may pause in the middle of a frame when its machine is busy);
    // the time between looks otherwise. A look costs about a tenth of a millisecond under
    // Wine.
    static constexpr DWORD WatchCloseMs = 10;
    static constexpr qint64 WatchAnswerMs = 300;
    static constexpr qint64 WatchRestMs = 60;
    static constexpr DWORD WatchSeldomMs = 200;
    // After a received-character event the queue is looked at once more this long after,
    // unless another event comes first: a driver may report bytes a moment before its count
    // of the queue has them.
    static constexpr DWORD LookAgainMs = 10;

private:
    // Waits for the port's events and hands them over. True when the port turned out unable
    // to wait (it is then watched); false when the loop is to end.
    bool WaitForEvents();
    // Looks at the input queue at intervals and hands over what arrives, until the stop event.
    void Watch();
    // Hands over got, with a received-character event, when bytes have arrived since the
    // last one was; without new bytes nothing is handed over. 1: handed over; 0: nothing new;
    // -1: the loop is to end (the port is closing, or the device has gone and that was
    // reported).
    int Look(TComEvents got);
    // Reports the device gone once, as a line error, then waits for the stop event.
    void LineGone();

    TComEventPort &port_;
    TComEvents events_;
    bool watched_ = false;
    quint64 handedOver_;  // bytes read plus queued when a received-character event was last handed over
};
