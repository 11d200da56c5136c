#pragma once
// The one way into an operating mode's window. The main window names the mode; the mode
// windows' library, which alone knows their classes, defines this call (modes/ModeLauncher),
// so the main window stands on this layer and never on the windows themselves.

#include "ModeMap.h"

class QString;
class QWidget;
class TCustomComPort;

// The main window's steps to run a mode: create the mode's window over parent (the TPU
// channel chosen for the TPR-by-TPU modes), keep its record in recordFolder under
// modeName's file name when the folder is not empty, then close the main port, give the
// window its name, start polling and show the window modally. The window is freed when
// it closes; returns what its modal run returned.
int OpenModeWindow(TModeId mode, QWidget *parent, TCustomComPort &mainPort, const QString &recordFolder,
                   const QString &modeName);
