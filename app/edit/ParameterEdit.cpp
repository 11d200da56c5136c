// Placeholder until the input dialogs land.
#include "ParameterEdit.h"
bool EditParameter(QWidget *, int) { return false; }
