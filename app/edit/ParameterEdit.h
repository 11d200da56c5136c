#pragma once
// Editing one parameter: the dispatch from a tree leaf to its input dialog and the
// conversion of the dialog's result into the field of DeviceConfig.

class QWidget;

// Opens the dialog of tree leaf `index` and stores an accepted result in DeviceConfig.
// Returns true when a value was accepted and stored; false when nothing was chosen or the
// index has no row (the root, a group, or an index above 49), in which case nothing changed.
bool EditParameter(QWidget *parent, int index);
