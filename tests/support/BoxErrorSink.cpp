// Every test program shows the general error report as the window program does: in a
// modal box, which the tests read and close. What the window program keeps from run to
// run goes to the test mode's folder, not the user's own settings.
//
// The offscreen platform's own screen (800×600) is smaller than the main window, which
// would then scroll; the tests' windows are shown on a desktop screen instead, beside
// smaller ones that the tests of fitting a window to its screen use:
//   "desktop"  1920×1080 at 100 % (the first, where windows open)
//   "laptop"   1920×1080 at 150 %, less Windows' 48-pixel taskbar: 1280×688 in the
//              program's pixels
//   "small"    1366×768 at 100 %
//   "tiny"     800×600 at 125 %: 640×480 in the program's pixels
// Qt splits the platform's options at colons, so the file is named relative to the working
// folder (a Windows path's drive would split it). Once the platform has read it, the file
// goes and the plain platform name is back for the programs the tests start.
#include "Messages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace {

QString screensFile;

void SetOffscreenScreens()
{
    if (qgetenv("QT_QPA_PLATFORM") != "offscreen")
        return;
    const QString name = QStringLiteral("karven-test-screens-%1.json").arg(QCoreApplication::applicationPid());
    QFile config(name);
    const QByteArray screens = R"({"screens": [
 {"name": "desktop", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
 {"name": "laptop", "x": 1920, "y": 0, "width": 1920, "height": 1032, "logicalDpi": 144, "logicalBaseDpi": 96, "dpr": 1},
 {"name": "small", "x": 3840, "y": 0, "width": 1366, "height": 768, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
 {"name": "tiny", "x": 5206, "y": 0, "width": 800, "height": 600, "logicalDpi": 120, "logicalBaseDpi": 96, "dpr": 1}]}
)";
    if (!config.open(QIODevice::WriteOnly) || config.write(screens) != screens.size())
        return;
    screensFile = QDir::current().absoluteFilePath(name);
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + name).toLocal8Bit());
}

void PlatformStarted()
{
    if (screensFile.isEmpty())
        return;
    QFile::remove(screensFile);
    qputenv("QT_QPA_PLATFORM", "offscreen");
}
Q_COREAPP_STARTUP_FUNCTION(PlatformStarted)

const bool boxSinkInstalled = (InstallMessageBoxErrorSink(), QStandardPaths::setTestModeEnabled(true), true);
const bool screensSet = (SetOffscreenScreens(), true);
}  // namespace
