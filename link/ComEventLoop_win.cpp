// The event thread's decisions on Windows.
//
// A real port's driver ends each wait with the events that came. The loop looks at the input
// queue before its first wait (bytes that came before the mask was set raise no event the
// thread will see), hands each received-character event over when bytes have arrived since
// the last one (the bytes Read() took out plus those queued have grown), and looks once more
// shortly after a received-character event that brought nothing new, or an answer's last
// bytes, counted a moment after their event, could wait for the next byte that may never come.
//
// Ports that are no driver's (a COM port that Wine makes of a pseudo-terminal) do not keep
// to the waits of a real port, and the loop adapts to what the port shows:
// - a wait whose mask holds the modem-line events fails at once (ERROR_NOT_SUPPORTED or
//   ERROR_INVALID_PARAMETER) when the port has no modem lines: the mask is narrowed to the
//   events it can report;
// - waits that end aborted (ERROR_OPERATION_ABORTED) twice in a row while the port is not
//   closing, or a wait that ends with no event and nothing new, or twice in a row with
//   received characters and nothing new, are a port whose wait cannot watch the line (Wine 8
//   ends every wait on a pseudo-terminal after a millisecond this way, and reports queued
//   bytes as new at each start). The loop then looks at the input queue instead, until the
//   port is closed: closely while an answer may be coming (after a write, until its first
//   bytes come or it is overdue, and for a while after each look that found bytes), seldom
//   otherwise. That holds for this opening only: the next one waits again.
// A real port's wait ends in none of these ways, so there the loop only waits. Its driver
// ends a single wait aborted around a suspend and resume (the loop looks at the queue and
// waits again), and when its device is pulled out (that look fails and reports the line
// gone). A line error or another event without a handler is handed over only with received
// bytes: a burst of line errors from a noisy line does not wake the port's thread.
//
// The requests a closing port cancels are given CancelLimitMs to end: a driver that never
// ends one would otherwise hold the port's thread, and the window that closes the port,
// for good.

#include "ComEventLoop_win.h"

#include "PortInfo.h"

namespace {

// The system's event bits for the component's events, in TComEvent order.
const DWORD EventBits[] = {EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_RING, EV_BREAK,
                           EV_CTS,    EV_DSR,     EV_ERR,    EV_RLSD, EV_RX80FULL};

const DWORD ModemLineEvents = EV_CTS | EV_DSR | EV_RING | EV_RLSD;
const TComEvents RxChar = 1u << evRxChar;

}  // namespace

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

bool CancelPending(TPendingIo &io)
{
    io.Cancel();
    if (io.Ended(CancelLimitMs))
        return true;
    io.Abandon();
    return false;
}

TWriteEnd FinishWrite(TPendingIo &io, DWORD limitMs)
{
    TWriteEnd end;
    if (io.Ended(limitMs)) {
        // Ended by itself: aborted means cut off (a device pulled out), not timed out.
        end.Error = io.Result(end.Written);
        return end;
    }
    // A driver ends a write at its time-out itself; one that has not is cancelled.
    if (!CancelPending(io)) {
        end.Abandoned = true;
        end.Error = ERROR_DEVICE_NOT_CONNECTED;
        return end;
    }
    end.Error = io.Result(end.Written);
    if (end.Error == ERROR_OPERATION_ABORTED)
        end.Error = 0;  // timed out: what went out is the result
    return end;
}

int DispatchCount(int queued, DWORD error, TComEvents got, bool lineGone)
{
    if (queued >= 0)
        return queued;
    if ((got & (1u << evError)) || lineGone || DeviceGoneError(int(error)))
        return 0;
    throw EComPort(EComPort::StatusFailed, int(error));
}

TComEventLoop::TComEventLoop(TComEventPort &port, TComEvents events, quint64 arrivedAtStart)
    : port_(port), events_(events), handedOver_(arrivedAtStart)
{
}

void TComEventLoop::Run(bool watch)
{
    if (watch || WaitForEvents())
        Watch();
    // A wait still pending is ended; one whose driver never ends it leaves the port gone.
    if (TPendingIo *wait = port_.PendingWait(); wait && !CancelPending(*wait))
        port_.MarkLineGone();
}

bool TComEventLoop::WaitForEvents()
{
    if (Look(0) < 0)
        return false;
    DWORD mask = SystemMask(events_);
    bool lookAgain = false;
    int nothingNewInARow = 0;
    int abortedInARow = 0;
    for (;;) {
        using End = TComEventPort::TWaitEnd;
        const End end = port_.Wait(lookAgain ? LookAgainMs : INFINITE);
        switch (end.Kind) {
        case End::Stopped:
            return false;
        case End::TimedOut:
            lookAgain = false;
            if (Look(0) < 0)
                return false;
            continue;
        case End::Failed:
            if (end.AtOnce && (end.Error == ERROR_NOT_SUPPORTED || end.Error == ERROR_INVALID_PARAMETER)) {
                if (!(mask & ModemLineEvents))
                    return true;
                mask &= ~ModemLineEvents;
                port_.SetMask(mask);
                continue;
            }
            if (end.Error == ERROR_OPERATION_ABORTED) {
                if (port_.Stopping())
                    return false;  // closing: the close's purge ended the wait
                if (++abortedInARow > 1)
                    return true;
                // Once: a suspend and resume, or a device pulled out, which the look finds.
                if (Look(0) < 0)
                    return false;
                continue;
            }
            LineGone();
            return false;
        case End::Completed:
            break;
        }
        abortedInARow = 0;
        const TComEvents reported = ComponentEvents(end.Mask) & events_;
        const int handed = Look(reported & ~RxChar);
        if (handed < 0)
            return false;
        lookAgain = (reported & RxChar) != 0;
        // A real port's wait may end once with received characters and nothing new: the
        // events of bytes that the last hand-over read already, or of bytes not counted yet.
        // Never without events, never twice in a row. Other events (a line error, the
        // transmit queue emptied) are the line's own, with or without bytes.
        if (handed)
            nothingNewInARow = 0;
        else if (!(reported & ~RxChar))
            ++nothingNewInARow;
        if (!handed && (!end.Mask || nothingNewInARow > 1))
            return true;
    }
}

void TComEventLoop::Watch()
{
    // Bytes may have come while the loop found out that the port cannot wait.
    if (Look(0) < 0)
        return;
    watched_ = true;
    // Until when the queue is looked at closely (the first bytes of an answer after a write,
    // the rest of it after bytes have come).
    qint64 closeUntil = -1;
    for (;;) {
        const bool close = port_.Now() < closeUntil;
        const TComEventPort::TWake wake = port_.Sleep(close ? WatchCloseMs : WatchSeldomMs);
        if (wake == TComEventPort::TWake::Stop)
            return;
        if (wake == TComEventPort::TWake::Wrote)
            closeUntil = port_.Now() + WatchAnswerMs;
        const int handed = Look(0);
        if (handed < 0)
            return;
        // A look with nothing new may fall in a pause of the sender in the middle of an
        // answer: the close looks go on for a while after the last bytes.
        if (handed > 0)
            closeUntil = port_.Now() + WatchRestMs;
    }
}

int TComEventLoop::Look(TComEvents got)
{
    if (events_ & RxChar) {
        quint64 arrived = 0;
        if (!port_.Arrived(arrived)) {
            LineGone();
            return -1;
        }
        if (arrived > handedOver_)
            got |= RxChar;
        handedOver_ = arrived;
    }
    // The other events have no handler: they ride along with received bytes.
    if (!(got & RxChar))
        return 0;
    return port_.HandOver(got) ? 1 : -1;
}

void TComEventLoop::LineGone()
{
    port_.MarkLineGone();
    if ((events_ & (1u << evError)) && !port_.HandOver(1u << evError))
        return;
    port_.WaitForStop();
}
