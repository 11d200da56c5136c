#pragma once
// Message boxes of the program, and the general error report shown as a box.

#include "ErrorReport.h"

#include <QString>

class QWidget;

// Modal warning box with an OK button.
void ShowWarning(QWidget *parent, const QString &text);
// The same with details the box shows on request (none when empty).
void ShowWarning(QWidget *parent, const QString &text, const QString &details);
// Modal information box with an OK button.
void ShowInformation(QWidget *parent, const QString &text);
// Modal question with two buttons, the second the default: true when the first is chosen.
bool AskQuestion(QWidget *parent, const QString &text, const QString &yes, const QString &no);

// Makes the general error report a modal box with the error's text, after which the
// program goes on. While one report is on screen a further one is dropped, not stacked.
// The program installs it at start, before its first window.
void InstallMessageBoxErrorSink();
