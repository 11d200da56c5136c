#include "ModeRecordWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

TModeRecordWriter::TModeRecordWriter(const TModeMap &map, uint32_t *s2Base) : record_(map)
{
    if (s2Base)
        record_.UseS2Base(*s2Base);
}

TFileFailure TModeRecordWriter::Start(const QString &folder, const QString &modeName, const QDateTime &localTime)
{
    const QString stem = QDir(folder).filePath(
        QStringLiteral("%1 %2").arg(modeName, localTime.toString(QStringLiteral("yyyy-MM-dd HH-mm-ss"))));
    path_ = stem + QStringLiteral(".csv");
    for (int n = 2; QFileInfo::exists(path_); ++n)
        path_ = QStringLiteral("%1 (%2).csv").arg(stem).arg(n);
    TFileFailure failure = file_.Open(path_);
    if (!failure.Failed())
        failure = file_.Append(record_.CsvHeader().toUtf8());
    if (failure.Failed() && file_.IsOpen()) {
        // "File not made" leaves no empty file behind (the name was free before).
        file_.Close();
        QFile::remove(path_);
    }
    return failure;
}

TFileFailure TModeRecordWriter::TakeStatus(const QByteArray &answer, const QDateTime &time)
{
    return Write(record_.TakeStatus(answer), time);
}

TFileFailure TModeRecordWriter::TakeValues(const QByteArray &answer, const QDateTime &time)
{
    return Write(record_.TakeValues(answer), time);
}

TFileFailure TModeRecordWriter::Write(bool row, const QDateTime &time)
{
    if (!row || !file_.IsOpen())
        return {};
    const TFileFailure failure = file_.Append(record_.CsvRow(time).toUtf8());
    if (failure.Failed())
        file_.Close();
    return failure;
}

QString TModeRecordWriter::FileName() const
{
    return QFileInfo(path_).fileName();
}

TFileFailure ProbeRecordFolder(const QString &folder)
{
    const QString path = QDir(folder).filePath(
        QStringLiteral(".karven-probe-%1.csv").arg(QRandomGenerator::global()->generate64(), 0, 36));
    TRecordFile file;
    TFileFailure failure = file.Open(path);
    if (!failure.Failed()) {
        failure = file.Append(QByteArrayLiteral("time,mode\n"));
        file.Close();
        QFile::remove(path);
    }
    return failure;
}
