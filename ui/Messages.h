#pragma once
// Message boxes of the program, and the general error report shown as a box.

#include "ErrorReport.h"

#include <QString>
#include <QStringList>

class QWidget;

// Modal warning box with an OK button.
void ShowWarning(QWidget *parent, const QString &text);
// The same with details the box shows on request (none when empty).
void ShowWarning(QWidget *parent, const QString &text, const QString &details);
// Modal information box with an OK button.
void ShowInformation(QWidget *parent, const QString &text);
// Modal question with two buttons, the second the default: true when the first is chosen.
bool AskQuestion(QWidget *parent, const QString &text, const QString &yes, const QString &no);
// The same with details the box shows on request (none when empty).
bool AskQuestion(QWidget *parent, const QString &text, const QString &yes, const QString &no, const QString &details);
// Modal question with a button per answer, the last one the default and what Esc or the
// close box gives: the index of the answer chosen.
int AskChoice(QWidget *parent, const QString &text, const QStringList &answers);

// Makes the general error report a modal box with the error's text, after which the
// program goes on. While one report is on screen a further one is dropped, not stacked.
// The program installs it at start, before its first window.
void InstallMessageBoxErrorSink();
