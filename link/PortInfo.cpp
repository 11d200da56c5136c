#include "PortInfo.h"

#include "CPort.h"

QString TPortDescription::Text() const
{
    if (!FriendlyName.isEmpty())
        return FriendlyName;
    switch (Kind) {
    case TPortKind::UsbAdapter: {
        QString text = QStringLiteral("USB-адаптер %1 %2").arg(Maker, Product);
        if (!Driver.isEmpty())
            text += QStringLiteral(", драйвер %1").arg(Driver);
        if (!ById.isEmpty())
            text += QStringLiteral(", %1").arg(ById);
        return text;
    }
    case TPortKind::BoardUart:
        return QStringLiteral("Последовательный порт на системной плате");
    case TPortKind::Virtual:
        return QStringLiteral("Виртуальный порт, ведёт к %1").arg(Pty);
    case TPortKind::Unknown:
        break;
    }
    return QStringLiteral("Последовательный порт");
}

int PortFailureErrno(const std::exception &e)
{
    const auto *port = dynamic_cast<const EComPort *>(&e);
    return port && port->WinCode > 0 ? port->WinCode : 0;
}

QString WithFailureCause(const QString &text, const std::exception &e, const QString &portName)
{
    const int err = PortFailureErrno(e);
    QStringList holders;
    if (ClassifyOpenFailure(err) == TOpenFailure::Busy && !portName.isEmpty())
        holders = PortHolders(PortDevicePath(portName));
    const QString cause = OpenFailureCause(err, holders);
    return cause.isEmpty() ? text : text + QStringLiteral("\n\n") + cause;
}

QString WithFailureCause(const QString &text, std::exception_ptr e, const QString &portName)
{
    try {
        if (e)
            std::rethrow_exception(e);
    } catch (const std::exception &failure) {
        return WithFailureCause(text, failure, portName);
    } catch (...) {
    }
    return text;
}
