#pragma once
// How a command of karven-cli ends when it fails: the exit status and the message, raised
// as TCliFailure by the commands and the output alike.

#include <QString>

#include <stdexcept>

enum ExitStatus {
    ExitOk = 0,
    ExitDiffers = 1,  // diff: the device differs from the file
    ExitUsage = 2,    // bad command line, bad file, output that cannot be written
    ExitPort = 3,     // the port cannot be opened
    ExitDevice = 4,   // the device does not answer, or answers wrongly, after the retries
};

class TCliFailure : public std::runtime_error {
public:
    TCliFailure(int status, const QString &message)
        : std::runtime_error(message.toStdString()), Status(status), Message(message) {}
    int Status;
    QString Message;  // may hold several lines
};

// A run that a request from outside (Ctrl+C, SIGTERM) cut short: an exchange in progress, or
// an output that waited for its reader. The status is the one a shell gives for the signal.
class TInterruptedRun : public TCliFailure {
public:
    using TCliFailure::TCliFailure;
};
