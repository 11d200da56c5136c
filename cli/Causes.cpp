#include "Causes.h"

#include "CPort.h"
#include "PortInfo.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>

QString PortCause(int err, const QString &path, TPortStage stage, const QStringList &holders)
{
    switch (ClassifyPortError(err, stage)) {
    case TPortCause::NoSuchPort:
        return QStringLiteral("there is no such port (not present, or unplugged)");
    case TPortCause::NoDevice:
        return QStringLiteral("there is no device behind this port (not present, or unplugged)");
    case TPortCause::NoLine:
        return QStringLiteral("the port does not work: there is no serial line behind it");
    case TPortCause::Gone:
        return QStringLiteral("the port is gone (the adapter was unplugged, or the other end of the line closed)");
    case TPortCause::NoAnswer:
        return QStringLiteral("the device behind the port does not answer (a Bluetooth device switched off or out of range)");
    case TPortCause::NoPermission:
        return QStringLiteral("no permission; a member of the dialout group may open serial ports: "
                              "sudo usermod -aG dialout $USER, then log in again");
    case TPortCause::Busy:
        return QStringLiteral("the port is busy, another program holds it")
             + (holders.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(holders.join(QStringLiteral(", "))));
    case TPortCause::BadName:
        return QStringLiteral("there is no such port: the system names its ports COM1, COM2, ...");
    case TPortCause::IsFolder:
        return QStringLiteral("it is a directory, not a serial port");
    case TPortCause::NotSerial:
        if (QFileInfo(path).isFile())
            return QStringLiteral("it is a regular file, not a serial port");
        return QStringLiteral("it is not a serial port (the system has no serial line settings for it)");
    case TPortCause::BadSettings:
        return QStringLiteral("it takes no serial line settings of 9600 baud, 8 data bits, 2 stop bits");
    case TPortCause::None:
    case TPortCause::Other:
        break;
    }
    return SystemCauseText(err);
}

QString SystemCauseText(int err)
{
    // The core's file access knows the system's words for its error codes: a cause that
    // files share (no space, no permission) in the same words, else the system's own.
    return FileCauseText(FileFailureOf(err));
}

QString PortFailureCause(const std::exception &e, const QString &path, TPortStage stage)
{
    const int err = PortFailureErrno(e);
    if (err > 0) {
        QStringList holders;
        if (ClassifyPortError(err, stage) == TPortCause::Busy)
            holders = PortHolders(path);
        return PortCause(err, path, stage, holders);
    }
    if (const auto *port = dynamic_cast<const EComPort *>(&e))
        return EComPort::CodeText(port->Code);
    return QString::fromLocal8Bit(e.what());
}

QString FileCauseText(const TFileFailure &failure)
{
    switch (failure.Cause) {
    case TFileCause::None:
        return QString();
    case TFileCause::NoSpace:
        return QStringLiteral("no space left on the device");
    case TFileCause::NoPermission:
        return QStringLiteral("no permission");
    case TFileCause::ReadOnly:
        return QStringLiteral("the file system is read-only");
    case TFileCause::BadName:
        return QStringLiteral("the system does not take this name (%1)").arg(failure.SystemText);
    case TFileCause::IsFolder:
        return QStringLiteral("it is a folder");
    case TFileCause::FolderNoWrite:
        return QStringLiteral("no permission to create files in its folder");
    case TFileCause::NoFolder:
        return QStringLiteral("there is no such file or folder");
    case TFileCause::LinkLoop:
        return QStringLiteral("its symbolic links lead round in a loop");
    case TFileCause::TooLarge:
        return QStringLiteral("it is too large");
    case TFileCause::Other:
        break;
    }
    QString text = failure.SystemText;
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

QString FileCause(int err)
{
    // The causes the C library's numbers share with the system's file access.
    TFileFailure failure;
    failure.SystemText = QString::fromLocal8Bit(std::strerror(err));
    switch (err) {
    case EPIPE:
        return QStringLiteral("the reader has gone (broken pipe)");
    case EBADF:
        return QStringLiteral("it is closed");
    case ENOSPC:
        failure.Cause = TFileCause::NoSpace;
        break;
    case EACCES:
    case EPERM:
        failure.Cause = TFileCause::NoPermission;
        break;
    case ENOENT:
        failure.Cause = TFileCause::NoFolder;
        break;
    case EISDIR:
        failure.Cause = TFileCause::IsFolder;
        break;
    case EROFS:
        failure.Cause = TFileCause::ReadOnly;
        break;
    default:
        failure.Cause = TFileCause::Other;
        break;
    }
    return FileCauseText(failure);
}

QString PortListingText(const TPortDescription &port)
{
    if (!port.FriendlyName.isEmpty())
        return port.FriendlyName;
    switch (port.Kind) {
    case TPortKind::UsbAdapter: {
        QString text = QStringLiteral("USB adapter %1 %2").arg(port.Maker, port.Product);
        if (!port.Driver.isEmpty())
            text += QStringLiteral(", driver %1").arg(port.Driver);
        if (!port.ById.isEmpty())
            text += QStringLiteral(", %1").arg(port.ById);
        return text;
    }
    case TPortKind::BoardUart:
        return QStringLiteral("serial port of the computer's main board");
    case TPortKind::Virtual:
        return QStringLiteral("virtual port, leads to %1").arg(port.Pty);
    case TPortKind::Unknown:
        break;
    }
    return QStringLiteral("serial port");
}
