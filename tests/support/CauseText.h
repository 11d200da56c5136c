#pragma once
// The box about a port that could not be used: its fixed text, then, as a second paragraph,
// the cause of the given kind.

#include "PortMessages.h"
#include "SystemErrors.h"

#include <QString>
#include <QStringList>

inline bool SaysWithCause(const QString &shown, const QString &text, TOpenFailure cause)
{
    const int err = SampleSystemError(cause);
    const QStringList parts = shown.split(QStringLiteral("\n\n"));
    if (err == 0 || parts.size() != 2 || parts[0] != text)
        return false;
    // A busy port's cause goes on to name who holds it, where that can be seen.
    const QString expected = OpenFailureCause(err);
    return cause == TOpenFailure::Busy ? parts[1].startsWith(expected.chopped(1)) : parts[1] == expected;
}
