#include "Causes.h"

#include "CPort.h"
#include "PortInfo.h"

#include <cerrno>
#include <cstring>

QString PortFailureCause(const std::exception &e, const QString &path, TPortStage stage)
{
    const int err = PortFailureErrno(e);
    if (err > 0) {
        QStringList holders;
        if (ClassifyOpenFailure(err) == TOpenFailure::Busy)
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
