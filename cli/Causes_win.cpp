// The causes of port failures from Win32 error codes (GetLastError()), in the companion's
// words; a code they do not cover is told in the system's own words, in English.

#include "Causes.h"

#include <windows.h>

namespace {

QString SystemText(DWORD err)
{
    wchar_t *buffer = nullptr;
    auto format = [&](DWORD language) {
        return FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                              nullptr, err, language, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    };
    DWORD length = format(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (!length)
        length = format(0);
    QString text = length && buffer ? QString::fromWCharArray(buffer, int(length)).trimmed() : QString();
    if (buffer)
        LocalFree(buffer);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text.isEmpty() ? QStringLiteral("system error %1").arg(err) : QStringLiteral("%1 (system error %2)").arg(text).arg(err);
}

}  // namespace

QString PortCause(int err, const QString &, TPortStage stage, const QStringList &holders)
{
    const bool opening = stage == TPortStage::Opening;
    const QString gone = QStringLiteral("the port is gone (the adapter was unplugged, or the other end of the line closed)");
    switch (DWORD(err)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return opening ? QStringLiteral("there is no such port (not present, or unplugged)") : gone;
    case ERROR_INVALID_NAME:
        return QStringLiteral("there is no such port: the system names its ports COM1, COM2, ...");
    case ERROR_ACCESS_DENIED:  // a COM port is opened by one program at a time
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
    case ERROR_LOCK_VIOLATION:  // Wine: the device is another program's alone
        return QStringLiteral("the port is busy, another program holds it")
             + (holders.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(holders.join(QStringLiteral(", "))));
    case ERROR_BAD_COMMAND:  // the driver of a USB adapter that was pulled out
    case ERROR_BROKEN_PIPE:  // Wine: the other end of a pseudo-terminal closed
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return opening ? QStringLiteral("there is no device behind this port (not present, or unplugged)") : gone;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        if (opening)
            return QStringLiteral("it is not a serial port (the system has no serial line settings for it)");
        break;
    case ERROR_INVALID_PARAMETER:
        if (opening)
            return QStringLiteral("it takes no serial line settings of 9600 baud, 8 data bits, 2 stop bits");
        break;
    default:
        break;
    }
    return SystemText(DWORD(err));
}
