#pragma once
// The window program's words for serial ports: what a port is (the port list's tooltips),
// why it could not be used, and the boxes of the main window's configuration exchange. The
// core sorts a port and its failures into structured values (TPortDescription, TPortCause,
// TExchangeNotice); the companion words the same values in its own language.

#include "ConfigExchange.h"
#include "PortInfo.h"

#include <QString>
#include <QStringList>

#include <exception>

// Texts of the configuration exchange's message boxes.
inline constexpr const char *PortBusyText = "Порт занят! Выберите другой порт.";
inline constexpr const char *NoLinkText = "Нет связи!";
inline constexpr const char *WriteDoneText = "Загрузка конфигурации произведена успешно!";

// One line that tells what the port is, for the port list's tooltips.
QString PortDescriptionText(const TPortDescription &port);

// The cause for the message boxes; empty for None. err is the system error behind it, told
// in the system's words when the cause is no other; holders (see PortHolders) are named for
// a busy port.
QString PortCauseText(TPortCause cause, int err, const QStringList &holders = {});
// The cause of a failure to open with system error err (PortCauseText at opening); empty
// when err tells nothing (0 or -1).
QString OpenFailureCause(int err, const QStringList &holders = {});

// text, and under it, as a second paragraph, the cause of the port failure e on the port
// named portName (as the port list names it); text alone when e carries no system error.
QString WithFailureCause(const QString &text, const std::exception &e, const QString &portName = {});
QString WithFailureCause(const QString &text, std::exception_ptr e, const QString &portName = {});

// The box's text for what the configuration exchange tells; failure and portName for a port
// that could not be used.
QString ExchangeNoticeText(TExchangeNotice notice, std::exception_ptr failure = {}, const QString &portName = {});
