#pragma once
// Configuration files for tests: one parameter's value replaced by raw JSON text; a file's
// bytes read and written whole.

#include <QFile>
#include <QRegularExpression>
#include <QString>

// The file's text with the value of `field` replaced by `json` as it stands.
inline QString WithValue(QString text, const char *field, const QString &json)
{
    const QRegularExpression re(QStringLiteral("(\"field\": \"%1\", \"value\": )[^,]*").arg(QLatin1String(field)));
    return text.replace(re, QStringLiteral("\\1") + json);
}

// The file's bytes; empty when it cannot be read.
inline QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
