#pragma once
// The plain causes the companion gives for the system's error numbers: why a port cannot
// be opened or has failed, and why a file cannot be read or written. The one place that
// turns an error number into words: Causes.cpp for every system, Causes_<system>.cpp for
// the port failures in the system's own codes.

#include "FileAccess.h"

#include <QString>
#include <QStringList>

#include <exception>

enum class TPortStage {
    Opening,  // the port was being opened
    InUse,    // the port was open and failed in the middle of a run
};

// Why the port at path failed with err, the system error code of the failure (Linux: errno;
// Windows: GetLastError()); holders are the programs that hold a busy port.
QString PortCause(int err, const QString &path, TPortStage stage, const QStringList &holders = {});
// The cause of a failure of the port, with the component's own text when it carries no
// error number.
QString PortFailureCause(const std::exception &e, const QString &path, TPortStage stage);
// Why a file or a standard stream could not be read or written (err: the C library's
// error number).
QString FileCause(int err);
// Why the core's file access failed, in the same words.
QString FileCauseText(const TFileFailure &failure);
