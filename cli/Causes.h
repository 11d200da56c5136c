#pragma once
// The plain causes the companion gives for the system's error numbers: why a port cannot
// be opened or has failed, and why a file cannot be read or written; and what a port is.
// The one place that turns an error number into the companion's words; the core sorts the
// numbers into causes (ClassifyPortError, FileFailureOf) and knows the system's own words
// for the rest.

#include "PortInfo.h"

#include "FileAccess.h"

#include <QString>
#include <QStringList>

#include <exception>

// Why the port at path failed with err, the system error code of the failure (Linux: errno;
// Windows: GetLastError()); holders are the programs that hold a busy port.
QString PortCause(int err, const QString &path, TPortStage stage, const QStringList &holders = {});
// The words for a port failure with err that has no cause of the companion's: the system's own.
QString SystemCauseText(int err);
// The cause of a failure of the port, with the component's own text when it carries no
// error number.
QString PortFailureCause(const std::exception &e, const QString &path, TPortStage stage);
// Why a file or a standard stream could not be read or written (err: the C library's
// error number).
QString FileCause(int err);
// Why the core's file access failed, in the same words.
QString FileCauseText(const TFileFailure &failure);

// What the port is, for the port listing: "USB adapter FTDI FT232R USB UART, driver ftdi_sio, ...".
QString PortListingText(const TPortDescription &port);
