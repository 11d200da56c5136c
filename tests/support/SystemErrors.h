#pragma once
// A system error code of each kind of open failure, as this system reports it, for tests
// that make a port fail the way a real one does; and errors a port meets on this system,
// with the causes they are sorted into.

#include "PortInfo.h"

#include <QList>
#include <QString>

#include <memory>

// 0 for None, and for a kind this system does not have.
int SampleSystemError(TOpenFailure kind);

struct TPortErrorSample {
    const char *What;
    int Err;
    TPortStage Stage;
    TPortCause Cause;
};
QList<TPortErrorSample> PortErrorSamples();

// What each system gives the two above (SystemErrors_<system>.cpp): an error of each kind of
// open failure it has, and its errors beyond no error at all.
struct TOpenFailureError {
    TOpenFailure Kind;
    int Err;
};
QList<TOpenFailureError> SystemOpenFailureErrors();
QList<TPortErrorSample> SystemPortErrorSamples();

// Holds the single-instance guard under lockName (the name the system knows it by) as a copy
// run with rights this user lacks (Windows: a mutex that this user may not open, as an
// administrator's copy makes it) until the returned object goes; null where this system has
// no such guard.
std::shared_ptr<void> GuardOfAnotherUser(const QString &lockName);
