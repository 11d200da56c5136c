// The system's own words for a port failure on Windows: those of its Win32 error code
// (GetLastError()), in English.

#include "Causes.h"

#include <windows.h>

QString SystemCauseWords(int err)
{
    wchar_t *buffer = nullptr;
    auto format = [&](DWORD language) {
        return FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                              nullptr, DWORD(err), language, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
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
