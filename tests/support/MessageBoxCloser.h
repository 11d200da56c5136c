#pragma once
// Clicks OK on the next modal message box that appears and stores its text in *text, so a
// test can drive code that reports through a message box without a person at the screen.
// The poll timer deletes itself once it has closed a box.

#include <QString>
#include <QStringList>
#include <QTimer>

void CloseNextMessageBox(QString *text);

// Clicks OK on every modal message box that appears while it lives; keeps their texts.
// It looks for one every pollMs.
class MessageBoxCollector {
public:
    explicit MessageBoxCollector(int pollMs = 20);
    QStringList Texts;

private:
    QTimer timer_;
};
