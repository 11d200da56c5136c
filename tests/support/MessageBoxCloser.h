#pragma once
// Clicks OK on the next modal message box that appears and stores its text in *text, so a
// test can drive code that reports through a message box without a person at the screen.
// The poll timer deletes itself once it has closed a box.

#include <QString>

void CloseNextMessageBox(QString *text);
