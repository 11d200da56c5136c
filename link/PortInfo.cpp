#include "PortInfo.h"

#include "CPort.h"
#include "PortCalls.h"

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

TPortStage PortFailureStage(const std::exception &e)
{
    const auto *port = dynamic_cast<const EComPort *>(&e);
    if (!port)
        return TPortStage::InUse;
    switch (port->Code) {
    case EComPort::OpenFailed:  // the open itself
    case EComPort::SetStateFailed:  // the settings applied with it
    case EComPort::SetTimeoutsFailed:
    case EComPort::SetupFailed:
        return TPortStage::Opening;
    default:
        return TPortStage::InUse;
    }
}

TPortCause ClassifyPortError(int err, TPortStage stage)
{
    if (err <= 0)
        return TPortCause::None;
    for (const TPortErrorCauses &causes : SystemPortErrorCauses()) {
        if (causes.Errors.contains(err))
            return stage == TPortStage::Opening ? causes.Opening : causes.InUse;
    }
    return TPortCause::Other;
}

bool DeviceGoneError(int err)
{
    const TPortCause cause = ClassifyPortError(err, TPortStage::InUse);
    return cause == TPortCause::Gone || cause == TPortCause::NoSuchPort;
}

TOpenFailure ClassifyOpenFailure(int err)
{
    switch (ClassifyPortError(err, TPortStage::Opening)) {
    case TPortCause::None:
        return TOpenFailure::None;
    case TPortCause::NoSuchPort:
    case TPortCause::NoDevice:
    case TPortCause::Gone:
    case TPortCause::NoAnswer:
        return TOpenFailure::Gone;
    case TPortCause::NoPermission:
        return TOpenFailure::NoPermission;
    case TPortCause::Busy:
        return TOpenFailure::Busy;
    default:
        return TOpenFailure::Other;
    }
}

QString PortCauseText(TPortCause cause, int err, const QStringList &holders)
{
    const QString again = QStringLiteral(" Подключите устройство и выберите порт в списке заново.");
    switch (cause) {
    case TPortCause::None:
        return {};
    case TPortCause::NoSuchPort:
        return QStringLiteral("Причина: такого порта нет (адаптер отключён или порт удалён).") + again;
    case TPortCause::NoDevice:
    case TPortCause::Gone:
        return QStringLiteral("Причина: такого устройства больше нет (адаптер отключён или порт удалён).") + again;
    case TPortCause::NoAnswer:
        return QStringLiteral("Причина: устройство за портом не отвечает (устройство Bluetooth выключено или вне "
                              "досягаемости).") + again;
    case TPortCause::NoPermission:
        return QStringLiteral("Причина: нет прав на доступ к порту. Добавьте себя в группу dialout: "
                              "sudo usermod -aG dialout $USER, затем войдите в систему заново.");
    case TPortCause::Busy:
        if (holders.isEmpty())
            return QStringLiteral("Причина: порт занят другой программой.");
        return QStringLiteral("Причина: порт занят другой программой: %1.").arg(holders.join(QStringLiteral(", ")));
    default:
        break;
    }
    return QStringLiteral("Причина: ошибка системы %1.").arg(SystemErrorNote(err));
}

QString OpenFailureCause(int err, const QStringList &holders)
{
    return PortCauseText(ClassifyPortError(err, TPortStage::Opening), err, holders);
}

QString WithFailureCause(const QString &text, const std::exception &e, const QString &portName)
{
    const int err = PortFailureErrno(e);
    const TPortCause cause = ClassifyPortError(err, PortFailureStage(e));
    QStringList holders;
    if (cause == TPortCause::Busy && !portName.isEmpty())
        holders = PortHolders(PortDevicePath(portName));
    const QString words = PortCauseText(cause, err, holders);
    return words.isEmpty() ? text : text + QStringLiteral("\n\n") + words;
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
