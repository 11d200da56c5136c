#pragma once
// The plain causes the companion gives for the system's error numbers: why a port cannot
// be opened or has failed, and why a file cannot be read or written. The one place that
// turns an error number into words.

#include <QString>
#include <QStringList>

#include <exception>

enum class TPortStage {
    Opening,  // the port was being opened
    InUse,    // the port was open and failed in the middle of a run
};

// Why the port at path failed with err; holders are the programs that hold a busy port.
QString PortCause(int err, const QString &path, TPortStage stage, const QStringList &holders = {});
// The cause of a failure of the port, with the component's own text when it carries no
// error number.
QString PortFailureCause(const std::exception &e, const QString &path, TPortStage stage);
// Why a file or a standard stream could not be read or written.
QString FileCause(int err);
