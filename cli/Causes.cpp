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

QString FileCause(int err)
{
    switch (err) {
    case ENOSPC:
        return QStringLiteral("no space left on the device");
    case EPIPE:
        return QStringLiteral("the reader has gone (broken pipe)");
    case EBADF:
        return QStringLiteral("it is closed");
    case EACCES:
    case EPERM:
        return QStringLiteral("no permission");
    case ENOENT:
        return QStringLiteral("there is no such file or folder");
    case EISDIR:
        return QStringLiteral("it is a folder");
    case EROFS:
        return QStringLiteral("the file system is read-only");
    default: {
        QString text = QString::fromLocal8Bit(std::strerror(err));
        if (!text.isEmpty())
            text[0] = text[0].toLower();
        return text;
    }
    }
}
