// Every test program shows the general error report as the window program does: in a
// modal box, which the tests read and close.
#include "Messages.h"

namespace {
const bool boxSinkInstalled = (InstallMessageBoxErrorSink(), true);
}
