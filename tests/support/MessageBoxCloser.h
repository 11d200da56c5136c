#pragma once
// Clicks OK on the next modal message box that appears within timeoutMs while the object
// lives and keeps its text, so a test can drive code that reports through a message box
// without a person at the screen. The poll timer ends with the object or at the deadline.

#include <QString>
#include <QStringList>
#include <QTimer>

class NextMessageBoxCloser {
public:
    explicit NextMessageBoxCloser(int timeoutMs = 10000);
    QString Text;

private:
    QTimer timer_;
};

// Clicks OK on every modal message box that appears while it lives; keeps their texts.
// It looks for one every pollMs.
class MessageBoxCollector {
public:
    explicit MessageBoxCollector(int pollMs = 20);
    QStringList Texts;

private:
    QTimer timer_;
};
