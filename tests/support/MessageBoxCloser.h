#pragma once
// Clicks OK on the next modal message box that appears and stores its text in *text, so a
// test can drive code that reports through a message box without a person at the screen.
// The poll timer deletes itself once it has closed a box.

#include <QString>
#include <QStringList>
#include <QTimer>

void CloseNextMessageBox(QString *text);

// Clicks OK on every modal message box that appears while it lives; keeps their texts.
class MessageBoxCollector {
public:
    MessageBoxCollector();
    QStringList Texts;

private:
    QTimer timer_;
};
