#pragma once
// Message boxes of the program, and the general error report shown as a box.

#include "ErrorReport.h"

#include <QString>

class QWidget;

// Modal warning box with an OK button.
void ShowWarning(QWidget *parent, const QString &text);
// Modal information box with an OK button.
void ShowInformation(QWidget *parent, const QString &text);

// Makes the general error report a modal box with the error's text, after which the
// program goes on. While one report is on screen a further one is dropped, not stacked.
// The program installs it at start, before its first window.
void InstallMessageBoxErrorSink();
