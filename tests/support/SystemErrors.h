#pragma once
// A system error code of each kind of open failure, as this system reports it, for tests
// that make a port fail the way a real one does.

#include "PortInfo.h"

// 0 for None, and for a kind this system does not have.
int SampleSystemError(TOpenFailure kind);
