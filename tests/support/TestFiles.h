#pragma once
// Files in tests: a file's bytes, a file put in place, the folder a test makes its own
// folders in (under Wine the Linux side, through a Z: path as a user's dialog gives it),
// the rows of the whole-file writer's table and a record begun.

#include "FileAccess.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

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

// What a folder holds, hidden entries and system files too, by name.
inline QStringList FolderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// A row of the whole-file writer's table: the situation the test sets up for the target
// file t in a folder of the row's own, the cause the write must fail with (TFileCause),
// t's content after the write and what the folder holds after.
struct TWriteWholeRow {
    QString Situation;
    int Cause = 0;
    QByteArray After;
    QStringList Entries;
    QTemporaryDir Dir{TestFolder() + QStringLiteral("/karven-files-XXXXXX")};
    QString Target = Dir.filePath(QStringLiteral("t"));

    static void AddColumns()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("cause");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QStringList>("entries");
    }
    // The row of the running test.
    TWriteWholeRow()
    {
        QFETCH(QString, situation);
        QFETCH(int, cause);
        QFETCH(QByteArray, after);
        QFETCH(QStringList, entries);
        Situation = situation;
        Cause = cause;
        After = after;
        Entries = entries;
    }
};

// Opens the record at path and writes a head line and the row into it; whether all of it
// went well.
inline bool RecordHeadAndRow(TRecordFile &record, const QString &path, const QByteArray &row)
{
    return !record.Open(path).Failed() && !record.Append("head\n").Failed() && !record.Append(row).Failed();
}
