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
// - a wait that ends aborted (ERROR_OPERATION_ABORTED) while the port is not closing, or with
//   no event and nothing new, or that twice in a row ends with nothing new, is a port whose
//   wait cannot watch the line (Wine 8 ends every wait on a pseudo-terminal after a
//   millisecond this way, and reports queued bytes as new at each start). The loop then
//   looks at the input queue instead, until the port is closed: closely while an answer may
//   be coming (after a write, until its first bytes come or it is overdue, and for a while
//   after each look that found bytes), seldom otherwise. A driver also ends a wait aborted
//   when its device is pulled out; the watch's first look then fails and reports the line
//   gone, and only a port whose queue could be looked at is watched from the start when it
//   is opened again.
// A real port's wait ends in none of these ways, so there the loop only waits.

#include "ComEventLoop_win.h"

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

TComEventLoop::TComEventLoop(TComEventPort &port, TComEvents events, quint64 arrivedAtStart)
    : port_(port), events_(events), handedOver_(arrivedAtStart)
{
}

void TComEventLoop::Run(bool watch)
{
    if (watch || WaitForEvents())
        Watch();
}

bool TComEventLoop::WaitForEvents()
{
    if (Look(0) < 0)
        return false;
    DWORD mask = SystemMask(events_);
    bool lookAgain = false;
    int nothingNewInARow = 0;
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
            if (end.Error == ERROR_OPERATION_ABORTED)
                return !port_.Stopping();  // closing: the close's purge ended the wait
            LineGone();
            return false;
        case End::Completed:
            break;
        }
        const TComEvents reported = ComponentEvents(end.Mask) & events_;
        const int handed = Look(reported & ~RxChar);
        if (handed < 0)
            return false;
        lookAgain = (reported & RxChar) != 0;
        nothingNewInARow = handed ? 0 : nothingNewInARow + 1;
        // A real port's wait may end once with nothing new: the events of bytes that the last
        // hand-over read already, or of bytes not counted yet. Never without events, never
        // twice in a row.
        if (!handed && (!end.Mask || nothingNewInARow > 1))
            return true;
    }
}

void TComEventLoop::Watch()
{
    // Bytes may have come while the loop found out that the port cannot wait.
    if (Look(0) < 0)
        return;
    port_.MarkUnableToWait();
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
    if (!got)
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
