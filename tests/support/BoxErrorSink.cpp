// Every test program shows the general error report as the window program does: in a
// modal box, which the tests read and close. What the window program keeps from run to
// run goes to the test mode's folder, not the user's own settings.
#include "Messages.h"

#include <QStandardPaths>

namespace {
const bool boxSinkInstalled = (InstallMessageBoxErrorSink(), QStandardPaths::setTestModeEnabled(true), true);
}
