#include "ModeRecordRows.h"

#include "ValueText.h"

#include <cmath>

namespace {

QString CsvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// A real that is no number as programs that read CSV take it (Python, pandas, spreadsheets).
QString CsvReal(float value, const uint8_t *answer, const TValueRow &row)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    return ValueRowPlainText(answer, row);
}

}  // namespace

TModeRecordRows::TModeRecordRows(const TModeMap &map)
    : map_(&map), texts_(int(map.Rows.size())), numbers_(int(map.Rows.size()), QStringLiteral("null"))
{
}

QString TModeRecordRows::CsvHeader() const
{
    QStringList header{QStringLiteral("time"), QStringLiteral("mode")};
    for (const TValueRow &row : map_->Rows)
        header << CsvField(QString::fromUtf8(row.Caption));
    return header.join(QLatin1Char(',')) + QLatin1Char('\n');
}

bool TModeRecordRows::TakeStatus(const QByteArray &answer)
{
    on_ = answer.size() > map_->StatusByteOffset && map_->StatusBitSet(reinterpret_cast<const uint8_t *>(answer.constData()));
    if (map_->RelativeS2)
        NoteS2ModeState(seenOn_, capturePending_, on_);
    return !map_->HasValues();
}

bool TModeRecordRows::TakeValues(const QByteArray &answer)
{
    const auto *bytes = reinterpret_cast<const uint8_t *>(answer.constData());
    for (size_t r = 0; r < map_->Rows.size(); ++r) {
        const TValueRow &row = map_->Rows[r];
        if (!ValueRowPresent(int(answer.size()), row))
            continue;
        if (map_->RelativeS2 && int(r) == ModeRows::TprTpuS2Row) {
            const uint32_t s2 = RelativeS2Value(seenOn_, capturePending_, sharedBase_ ? *sharedBase_ : s2Base_,
                                              WordSwappedCount(bytes + row.Offset));
            texts_[int(r)] = FormatCount(s2);
            numbers_[int(r)] = QString::number(s2);
        } else if (row.Kind == TValueKind::Count) {
            texts_[int(r)] = ValueRowPlainText(bytes, row);
            numbers_[int(r)] = QString::number(WordSwappedCount(bytes + row.Offset));
        } else {
            const float value = WordSwappedFloat(bytes + row.Offset);
            texts_[int(r)] = CsvReal(value, bytes, row);
            numbers_[int(r)] = std::isfinite(value) ? ShortestRealText(value) : QStringLiteral("null");
        }
    }
    return true;
}

QString TModeRecordRows::TimeText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QString TModeRecordRows::CsvRow(const QDateTime &time) const
{
    return (QStringList{TimeText(time), on_ ? QStringLiteral("on") : QStringLiteral("off")} + texts_).join(QLatin1Char(','))
         + QLatin1Char('\n');
}

QString TModeRecordRows::JsonLine(const QDateTime &time) const
{
    // Keys in the grid's order; the captions are in `karven-cli mode --help`.
    QString line = QStringLiteral("{\"time\":\"%1\",\"mode\":\"%2\"").arg(TimeText(time), on_ ? QStringLiteral("on") : QStringLiteral("off"));
    if (map_->HasValues()) {
        QStringList values;
        for (size_t r = 0; r < map_->Rows.size(); ++r)
            values << QStringLiteral("\"%1\":%2").arg(QLatin1String(map_->Rows[r].Key), numbers_[int(r)]);
        line += QStringLiteral(",\"values\":{%1}").arg(values.join(QLatin1Char(',')));
    }
    return line + QStringLiteral("}\n");
}
