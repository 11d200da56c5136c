// The causes of port failures from the system's error numbers (errno), in the companion's
// words.

#include "Causes.h"

#include <QFileInfo>

#include <cerrno>

QString PortCause(int err, const QString &path, TPortStage stage, const QStringList &holders)
{
    const bool opening = stage == TPortStage::Opening;
    switch (err) {
    case ENOENT:
    case ENODEV:
        return QStringLiteral("there is no such port (not present, or unplugged)");
    case ENXIO:
    case EIO:
        if (!opening)
            return QStringLiteral("the port is gone (the adapter was unplugged, or the other end of the line closed)");
        return err == ENXIO ? QStringLiteral("there is no device behind this port (not present, or unplugged)")
                            : QStringLiteral("the port does not work: there is no serial line behind it");
    case EACCES:
    case EPERM:
        return QStringLiteral("no permission; a member of the dialout group may open serial ports: "
                              "sudo usermod -aG dialout $USER, then log in again");
    case EBUSY:
    case EWOULDBLOCK:
        return QStringLiteral("the port is busy, another program holds it")
             + (holders.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(holders.join(QStringLiteral(", "))));
    case EISDIR:
        return QStringLiteral("it is a directory, not a serial port");
    case ENOTTY:
        if (QFileInfo(path).isFile())
            return QStringLiteral("it is a regular file, not a serial port");
        return QStringLiteral("it is not a serial port (the system has no serial line settings for it)");
    case EINVAL:
        return QStringLiteral("it takes no serial line settings of 9600 baud, 8 data bits, 2 stop bits");
    default:
        return FileCause(err);
    }
}
