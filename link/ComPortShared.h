#pragma once
// What the system sources of the serial component share (CPort_posix.cpp, CPort_win.cpp):
// the line speed of the settings, the order of the port list, and the hand-over of device
// events from a port's event thread to the port's own (user-interface) thread.

#include "CPort.h"

#include <QStringList>

#include <memory>

// The line speed in baud that the settings ask for (the custom value for brCustom).
int BaudValue(const TCustomComPort &port);

// Sorts port names with the locale's case-insensitive comparison: COM1, COM10, COM3.
void SortPortNames(QStringList &names);

// The hand-over. The event thread posts the dispatch of the events it saw to the port's
// thread and blocks until the dispatch has run, or until the port is being closed. Because
// the event thread never waits for the port's thread without also waiting for the closing
// flag, a close never deadlocks, whether it comes from outside or from inside a dispatch (a
// receive handler that runs a nested event loop).
class TComHandOver {
public:
    explicit TComHandOver(TCustomComPort *port);

    // Event thread: runs the dispatch of got on the port's thread and waits for it; false when
    // the port is closing (the event thread then ends).
    bool HandOver(TComEvents got);
    // Closing thread: pending dispatches do nothing, a waiting HandOver returns false.
    void Cancel();

private:
    struct State;
    static void Dispatch(TCustomComPort *port, const std::shared_ptr<State> &state, TComEvents got);

    TCustomComPort *port_;
    std::shared_ptr<State> state_;
};
