#pragma once
// The record of a mode run, row by row, the same in both programs: the companion's `mode`
// prints it, the window program keeps it in a file while a mode window polls. Fed with the
// answers as they come from the line (a status answer, a values answer), it gives the CSV
// header and one row per values answer (per status answer for a mode without values): the
// time, the mode's state ("on", "off"), and each value of the grid with a point and without
// grouping; the S2 sum of TPR by TPU relative to its value when the mode was seen starting,
// as the window shows it; a real that is no number as nan, inf, -inf. The JSON line of a
// row gives the values at the registers' full precision (null for no number).

#include "ModeMap.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>

class TModeRecordRows {
public:
    explicit TModeRecordRows(const TModeMap &map);

    const TModeMap &Map() const { return *map_; }
    // "time,mode,<the grid's captions>\n"
    QString CsvHeader() const;

    // A status answer (function 1, from the address on) notes the mode's state. For a mode
    // without values it makes a row: true.
    bool TakeStatus(const QByteArray &answer);
    // A values answer (function 4) takes the values it carries (a short one those it
    // holds; the others keep their last); it makes a row: true.
    bool TakeValues(const QByteArray &answer);

    // S2 is made relative to base, which outlives the record (the window's own, which it
    // takes first from the same answers), instead of a base of the record's own: the
    // record then writes the S2 the window shows.
    void UseS2Base(uint32_t &base) { sharedBase_ = &base; }

    bool On() const { return on_; }
    // The row of the answers taken so far, stamped with time (shown in UTC, milliseconds).
    QString CsvRow(const QDateTime &time) const;
    // The same as one JSON line: {"time":...,"mode":"on","values":{"frequency_hz":12.5,...}}.
    QString JsonLine(const QDateTime &time) const;

    // The time as a row gives it: 2026-12-09T00:11:08.150Z.
    static QString TimeText(const QDateTime &time);

private:
    const TModeMap *map_;
    bool on_ = false;
    uint8_t seenOn_ = 0;
    uint8_t capturePending_ = 0;
    uint32_t s2Base_ = 0;
    uint32_t *sharedBase_ = nullptr;
    QStringList texts_;    // the CSV's value texts ("" until a value came)
    QStringList numbers_;  // the JSON numbers ("null" until a value came)
};
