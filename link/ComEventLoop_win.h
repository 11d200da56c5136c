#pragma once
// The decisions of a port's event thread on Windows, apart from the Win32 calls that carry
// them out: when to look at the input queue, what a wait's end means, what is handed over
// to the port's (user-interface) thread, and when a port that cannot wait for its events is
// watched instead. CPort_win.cpp runs the loop on the real port; tests run it on a scripted
// stand-in of the driver, in the orders of answers that a real driver can give.

#include "CPort.h"

#include <QtGlobal>

#include <windows.h>

// What the event loop asks of the port and of the thread that runs it.
class TComEventPort {
public:
    virtual ~TComEventPort() = default;

    // How a wait for the port's events ended.
    struct TWaitEnd {
        enum TKind {
            Completed,  // the driver reported events: Mask (0 is possible)
            Failed,     // the wait failed: Error
            Stopped,    // the stop event came first; a pending wait has been ended
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
    // The port has shown that its waits cannot watch the line, while its queue can be looked
    // at: it is to be watched from the start when it is opened again.
    virtual void MarkUnableToWait() = 0;
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

    // Runs until the port is closed. watch: the port is known to be unable to wait, and
    // its queue is looked at from the start.
    void Run(bool watch);

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
    // Hands over got, with a received-character event when bytes have arrived since the last
    // one was. 1: something was handed over; 0: nothing to hand over; -1: the loop is to end
    // (the port is closing, or the device has gone and that was reported).
    int Look(TComEvents got);
    // Reports the device gone once, as a line error, then waits for the stop event.
    void LineGone();

    TComEventPort &port_;
    TComEvents events_;
    quint64 handedOver_;  // bytes read plus queued when a received-character event was last handed over
};
