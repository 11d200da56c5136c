#pragma once
// The record of one mode window's run in a CSV file: the companion's header and rows
// (config/ModeRecordRows), one row per values answer (per status answer for a mode without
// values), each on the disk before the next answer is taken (config/FileAccess).

#include "FileAccess.h"
#include "ModeRecordRows.h"

#include <QDateTime>
#include <QString>

class TModeRecordWriter {
public:
    // s2Base: the base the window shows S2 against (TModeRecordRows::UseS2Base), or null.
    explicit TModeRecordWriter(const TModeMap &map, uint32_t *s2Base = nullptr);

    // Makes "<folder>/<modeName> 2026-12-09 14-05-31.csv" (with " (2)" and on where that
    // name is taken) and writes the header into it.
    TFileFailure Start(const QString &folder, const QString &modeName, const QDateTime &localTime);
    // An answer with a good CRC, from the address on; writes the row it makes.
    TFileFailure TakeStatus(const QByteArray &answer, const QDateTime &time);
    TFileFailure TakeValues(const QByteArray &answer, const QDateTime &time);

    QString Path() const { return path_; }
    QString FileName() const;

private:
    TFileFailure Write(bool row, const QDateTime &time);

    TModeRecordRows record_;
    TRecordFile file_;
    QString path_;
};

// Whether records can be made in folder: a small file is written there and removed.
TFileFailure ProbeRecordFolder(const QString &folder);
