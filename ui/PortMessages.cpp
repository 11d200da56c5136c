#include "PortMessages.h"

QString PortDescriptionText(const TPortDescription &port)
{
    if (!port.FriendlyName.isEmpty())
        return port.FriendlyName;
    switch (port.Kind) {
    case TPortKind::UsbAdapter: {
        QString text = QStringLiteral("USB-адаптер %1 %2").arg(port.Maker, port.Product);
        if (!port.Driver.isEmpty())
            text += QStringLiteral(", драйвер %1").arg(port.Driver);
        if (!port.ById.isEmpty())
            text += QStringLiteral(", %1").arg(port.ById);
        return text;
    }
    case TPortKind::BoardUart:
        return QStringLiteral("Последовательный порт на системной плате");
    case TPortKind::Virtual:
        return QStringLiteral("Виртуальный порт, ведёт к %1").arg(port.Pty);
    case TPortKind::Unknown:
        break;
    }
    return QStringLiteral("Последовательный порт");
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
    const TPortFailure failure = PortFailureOf(e, portName);
    const QString words = PortCauseText(failure.Cause, failure.Err, failure.Holders);
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

QString ExchangeNoticeText(TExchangeNotice notice, std::exception_ptr failure, const QString &portName)
{
    switch (notice) {
    case TExchangeNotice::PortBusy:
        return WithFailureCause(QString::fromUtf8(PortBusyText), failure, portName);
    case TExchangeNotice::NoLink:
        return QString::fromUtf8(NoLinkText);
    case TExchangeNotice::WriteDone:
        break;
    }
    return QString::fromUtf8(WriteDoneText);
}
