#pragma once
// Files in tests: a file's bytes, a file put in place, and the folder a test makes its own
// folders in (under Wine the Linux side, through a Z: path as a user's dialog gives it).

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

// The file's bytes, or "(none)" when it cannot be read.
inline QByteArray FileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

inline bool PutFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

inline QString TestFolder()
{
    return QDir(QStringLiteral("Z:/tmp")).exists() ? QStringLiteral("Z:/tmp") : QDir::tempPath();
}
