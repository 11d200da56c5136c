#pragma once
// Configuration files for tests: one parameter's value replaced by raw JSON text.

#include <QRegularExpression>
#include <QString>

// The file's text with the value of `field` replaced by `json` as it stands.
inline QString WithValue(QString text, const char *field, const QString &json)
{
    const QRegularExpression re(QStringLiteral("(\"field\": \"%1\", \"value\": )[^,]*").arg(QLatin1String(field)));
    return text.replace(re, QStringLiteral("\\1") + json);
}
