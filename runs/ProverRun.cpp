#include "ProverRun.h"

#include "ModeMap.h"
#include "ModeRecordRows.h"
#include "PassFinder.h"

#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace ProverRun {

namespace {

// No line of a record comes near this: the header is about 1,600 bytes, a row under 400.
constexpr qsizetype MaxLineBytes = 8192;
constexpr qint64 ChunkBytes = 1 << 20;
constexpr int FieldCount = 22;  // time, mode and the 20 values
constexpr int ShownTextChars = 40;

TRefusal Refusal(TRefusalCause cause, qint64 line, const QString &detail)
{
    TRefusal refusal;
    refusal.Cause = cause;
    refusal.Line = line;
    refusal.Detail = detail;
    return refusal;
}

QByteArray HeaderOf(const TModeMap &map)
{
    QByteArray header = TModeRecordRows(map).CsvHeader().toUtf8();
    header.chop(1);  // its newline
    return header;
}

// The values of a row in the grid's order, where TRow keeps them.
double *ValueSlot(TRow &row, int index)
{
    static constexpr struct {
        char Kind;  // 'f' frequency, 'q' flow, 'n' N, 'w' whole, 't' time, 's' sum
        int Slot;
    } Slots[20] = {{'f', 0}, {'q', 0}, {'n', 0}, {'s', 0}, {'w', 0}, {'s', 1}, {'t', 0}, {'s', 2}, {'n', 1}, {'w', 1},
                   {'t', 1}, {'n', 2}, {'w', 2}, {'t', 2}, {'n', 3}, {'w', 3}, {'t', 3}, {'s', 3}, {'s', 4}, {'s', 5}};
    switch (Slots[index].Kind) {
    case 'f': return &row.Frequency;
    case 'q': return &row.Flow;
    case 'n': return &row.N[Slots[index].Slot];
    case 'w': return &row.Whole[Slots[index].Slot];
    case 't': return &row.Tus[Slots[index].Slot];
    default: return &row.S[Slots[index].Slot];
    }
}

bool Digits(const char *p, int count, int &value)
{
    value = 0;
    for (int i = 0; i < count; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        value = value * 10 + (p[i] - '0');
    }
    return true;
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
qint64 DaysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = int(y - era * 400);
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// A row's time in milliseconds since 1970 (UTC): the records' own form
// 2026-12-09T00:11:08.150Z at once, any other ISO 8601 time through QDateTime.
bool ParseTime(const char *p, qsizetype size, qint64 &ms)
{
    int y, mo, d, h, mi, s, z;
    if (size == 24 && p[4] == '-' && p[7] == '-' && p[10] == 'T' && p[13] == ':' && p[16] == ':' && p[19] == '.'
        && p[23] == 'Z' && Digits(p, 4, y) && Digits(p + 5, 2, mo) && Digits(p + 8, 2, d) && Digits(p + 11, 2, h)
        && Digits(p + 14, 2, mi) && Digits(p + 17, 2, s) && Digits(p + 20, 3, z) && mo >= 1 && mo <= 12 && d >= 1
        && d <= 31 && h < 24 && mi < 60 && s < 60) {
        ms = ((DaysFromCivil(y, mo, d) * 24 + h) * 60 + mi) * 60000 + s * 1000 + z;
        return true;
    }
    if (size < 10 || size > 40)
        return false;
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(p, size), Qt::ISODateWithMs);
    if (!time.isValid())
        return false;
    ms = time.toMSecsSinceEpoch();
    return true;
}

bool IsNoNumber(const char *p, qsizetype size)
{
    auto is = [&](const char *word) {
        const qsizetype n = qsizetype(std::strlen(word));
        return size == n && qstrnicmp(p, word, n) == 0;
    };
    return is("nan") || is("inf") || is("-inf") || is("+inf");
}

bool ParseReal(const char *p, qsizetype size, double &value)
{
    if (size == 0) {
        value = NAN;
        return true;
    }
    const auto [end, ec] = std::from_chars(p, p + size, value, std::chars_format::general);
    if (ec == std::errc() && end == p + size && std::isfinite(value))
        return true;
    value = NAN;
    return IsNoNumber(p, size);
}

bool ParseCount(const char *p, qsizetype size, double &value)
{
    if (size == 0) {
        value = NAN;
        return true;
    }
    uint32_t count = 0;
    const auto [end, ec] = std::from_chars(p, p + size, count);
    if (ec != std::errc() || end != p + size)
        return false;
    value = double(count);
    return true;
}

QString Shown(const char *p, qsizetype size)
{
    QString text = QString::fromUtf8(p, std::min<qsizetype>(size, 4 * ShownTextChars));
    if (text.size() > ShownTextChars)
        text = text.left(ShownTextChars);
    return text;
}

class TReader {
public:
    // bytes: the size of the file when known, for room for its rows.
    TReader(TRecord &record, qint64 bytes) : record_(record), bytes_(bytes)
    {
        header_ = HeaderOf(ModeMapOf(TModeId::TprTpu1));
        for (int i = 0; i < 20; ++i)
            float_[i] = ModeRows::TprTpu[i].Kind == TValueKind::Float;
    }

    // One line (without its newline), numbered from 1; a refusal stops the reading.
    TRefusal Line(const char *p, qsizetype size, qint64 line, bool last)
    {
        if (size > 0 && p[size - 1] == '\r')
            --size;
        if (std::memchr(p, 0, size_t(size)))
            return Refusal(TRefusalCause::NotARecord, line, QStringLiteral("NUL"));
        if (line == 1) {
            TRefusal refusal = Header(p, size, last);
            if (!refusal.Refused())
                record_.Rows.reserve(size_t(bytes_ / 128));  // a row is about 130 bytes
            return refusal;
        }
        if (size == 0)
            return {};  // an empty line (an editor's at the end) holds no row
        TRow row;
        row.Line = line;
        TRefusal refusal = Row(p, size, row);
        if (refusal.Refused()) {
            // A last line without its newline that does not read as a row: the file was cut
            // inside it.
            if (last)
                return Refusal(TRefusalCause::CutFile, line, QStringLiteral("row"));
            return refusal;
        }
        if (last) {
            record_.DroppedLastLine = line;
            return {};
        }
        if (record_.Rows.empty()) {
            firstMs_ = rowMs_;
            record_.Start = QDateTime::fromMSecsSinceEpoch(rowMs_, Qt::UTC);
        }
        row.Seconds = double(rowMs_ - firstMs_) / 1000.0;
        record_.Rows.push_back(row);
        return {};
    }

private:
    TRefusal Header(const char *p, qsizetype size, bool last)
    {
        if (size >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) {
            p += 3;
            size -= 3;
        }
        const QByteArray line = QByteArray::fromRawData(p, size);
        if (line == header_)
            return {};
        if (last && size > 0 && header_.startsWith(line))
            return Refusal(TRefusalCause::CutFile, 1, QStringLiteral("header"));
        for (const TModeMap &map : ModeMaps())
            if (line == HeaderOf(map))
                return Refusal(TRefusalCause::OtherMode, 1, QLatin1String(map.Name));
        if (line.startsWith("time,mode"))
            return Refusal(TRefusalCause::OtherMode, 1, QString());
        if (size == 0)
            return Refusal(TRefusalCause::NotARecord, 1, QStringLiteral("empty"));
        if (line.startsWith("{\"time\""))
            return Refusal(TRefusalCause::NotARecord, 1, QStringLiteral("json"));
        for (qsizetype i = 0; i < size; ++i) {
            const auto c = uchar(p[i]);
            if (c < 0x20 && c != '\t')
                return Refusal(TRefusalCause::NotARecord, 1, QStringLiteral("binary"));
        }
        return Refusal(TRefusalCause::NotARecord, 1, QString());
    }

    TRefusal Bad(qint64 line, int column, const QString &detail, const char *p, qsizetype size)
    {
        TRefusal refusal = Refusal(TRefusalCause::BadRow, line, detail);
        refusal.Column = column;
        refusal.Text = Shown(p, size);
        return refusal;
    }

    TRefusal Row(const char *p, qsizetype size, TRow &row)
    {
        const char *fields[FieldCount + 1];
        qsizetype sizes[FieldCount + 1];
        int count = 0;
        const char *start = p;
        const char *end = p + size;
        for (const char *q = p;; ++q) {
            if (q == end || *q == ',') {
                if (count < FieldCount) {
                    fields[count] = start;
                    sizes[count] = q - start;
                }
                ++count;
                start = q + 1;
                if (q == end)
                    break;
            }
        }
        if (count != FieldCount) {
            TRefusal refusal = Refusal(TRefusalCause::BadRow, row.Line, QStringLiteral("fields"));
            refusal.Text = QString::number(count);
            return refusal;
        }
        if (!ParseTime(fields[0], sizes[0], rowMs_))
            return Bad(row.Line, 1, QStringLiteral("time"), fields[0], sizes[0]);
        const QByteArray mode = QByteArray::fromRawData(fields[1], sizes[1]);
        if (mode == "on")
            row.On = true;
        else if (mode != "off")
            return Bad(row.Line, 2, QStringLiteral("mode"), fields[1], sizes[1]);
        for (int i = 0; i < 20; ++i) {
            double *slot = ValueSlot(row, i);
            const bool ok = float_[i] ? ParseReal(fields[i + 2], sizes[i + 2], *slot)
                                      : ParseCount(fields[i + 2], sizes[i + 2], *slot);
            if (!ok)
                return Bad(row.Line, i + 3, QLatin1String(ModeRows::TprTpu[i].Key), fields[i + 2], sizes[i + 2]);
        }
        return {};
    }

    TRecord &record_;
    qint64 bytes_;
    QByteArray header_;
    bool float_[20];
    qint64 firstMs_ = 0;
    qint64 rowMs_ = 0;
};

}  // namespace

TRefusal ReadRecord(QIODevice &in, TRecord &record, const std::atomic<bool> *cancel)
{
    record.Rows.clear();
    record.Notes.clear();
    record.DroppedLastLine = 0;
    record.Start = QDateTime();
    if (!in.isSequential() && in.size() > MaxRecordBytes)
        return Refusal(TRefusalCause::TooLarge, 0, QString::number(in.size()));

    TReader reader(record, in.isSequential() ? 0 : in.size());
    QByteArray buffer;      // the bytes read and not yet taken as lines
    qsizetype taken = 0;    // of buffer
    qint64 total = 0;
    qint64 line = 1;
    bool atEnd = false;
    auto refused = [&](TRefusal refusal) {
        record.Rows.clear();
        record.Rows.shrink_to_fit();
        return refusal;
    };
    while (!atEnd) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return refused(Refusal(TRefusalCause::Cancelled, line, QString()));
        // Keep what is left of the last chunk and read the next one after it.
        buffer.remove(0, taken);
        taken = 0;
        const qsizetype kept = buffer.size();
        buffer.resize(kept + ChunkBytes);
        const qint64 got = in.read(buffer.data() + kept, ChunkBytes);
        if (got < 0)
            return refused(Refusal(TRefusalCause::Unreadable, line, in.errorString()));
        buffer.resize(kept + got);
        total += got;
        if (total > MaxRecordBytes)
            return refused(Refusal(TRefusalCause::TooLarge, 0, QString::number(total)));
        atEnd = got == 0;

        const char *data = buffer.constData();
        const qsizetype size = buffer.size();
        while (taken < size) {
            const void *nl = std::memchr(data + taken, '\n', size_t(size - taken));
            if (!nl)
                break;
            const qsizetype length = static_cast<const char *>(nl) - (data + taken);
            if (length > MaxLineBytes)
                break;
            const TRefusal refusal = reader.Line(data + taken, length, line, false);
            if (refusal.Refused())
                return refused(refusal);
            taken += length + 1;
            ++line;
            if ((line & 0x3fff) == 0 && cancel && cancel->load(std::memory_order_relaxed))
                return refused(Refusal(TRefusalCause::Cancelled, line, QString()));
        }
        const qsizetype rest = size - taken;
        if (rest > MaxLineBytes) {
            const TRefusal refusal = line == 1 ? Refusal(TRefusalCause::NotARecord, 1, QStringLiteral("too long"))
                                               : Refusal(TRefusalCause::BadRow, line, QStringLiteral("too long"));
            // A line 1 of binary bytes says so before its length does.
            if (line == 1) {
                const TRefusal first = reader.Line(data + taken, MaxLineBytes, 1, false);
                if (first.Cause == TRefusalCause::NotARecord && !first.Detail.isEmpty())
                    return refused(first);
            } else if (std::memchr(data + taken, 0, size_t(MaxLineBytes))) {
                return refused(Refusal(TRefusalCause::NotARecord, line, QStringLiteral("NUL")));
            }
            return refused(refusal);
        }
        if (atEnd && rest > 0) {
            const TRefusal refusal = reader.Line(data + taken, rest, line, true);
            if (refusal.Refused())
                return refused(refusal);
        } else if (atEnd && line == 1) {
            return refused(Refusal(TRefusalCause::NotARecord, 1, QStringLiteral("empty")));
        }
    }
    return {};
}

TRefusal ReadRecordFile(const QString &path, TRecord &record, const std::atomic<bool> *cancel)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Refusal(TRefusalCause::Unreadable, 0, file.errorString());
    TRefusal refusal = ReadRecord(file, record, cancel);
    record.Channel = ChannelFromFileName(path);
    return refusal;
}

int ChannelFromFileName(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    for (int channel : {1, 2}) {
        for (const QString &stem : {QStringLiteral("ТПР по ТПУ%1").arg(channel), QStringLiteral("tpr-tpu%1").arg(channel)}) {
            if (name.startsWith(stem, Qt::CaseInsensitive)) {
                const QChar next = name.size() > stem.size() ? name.at(stem.size()) : QChar();
                if (!next.isDigit())
                    return channel;
            }
        }
    }
    return 0;
}

QString Fixed(double value, int decimals, QChar decimalSign, bool dash)
{
    if (!std::isfinite(value))
        return dash ? QStringLiteral("—") : QString();
    char buffer[400];
    decimals = std::clamp(decimals, 0, 30);
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (ec != std::errc())
        return dash ? QStringLiteral("—") : QString();
    const char *first = buffer;
    // A value that rounds to zero has no sign.
    if (*first == '-' && std::all_of(first + 1, static_cast<const char *>(end), [](char c) { return c == '0' || c == '.'; }))
        ++first;
    QString text = QString::fromLatin1(first, end - first);
    if (decimalSign != QLatin1Char('.'))
        text.replace(QLatin1Char('.'), decimalSign);
    return text;
}

TSettingsProblem CheckSettings(const TSettings &settings)
{
    if (settings.Build.Detectors != 2 && settings.Build.Detectors != 4)
        return TSettingsProblem::BadDetectors;
    auto bad = [](double v) { return std::isnan(v) || std::isinf(v) || v < 0; };
    if (bad(settings.Volume12) || bad(settings.Volume21) || bad(settings.Volume34) || bad(settings.Volume43))
        return TSettingsProblem::BadVolume;
    if (std::isinf(settings.LimitPercent) || settings.LimitPercent < 0)
        return TSettingsProblem::BadLimit;
    if (std::isnan(settings.FromSeconds) || std::isnan(settings.ToSeconds) || settings.FromSeconds > settings.ToSeconds)
        return TSettingsProblem::BadSpan;
    if (settings.Volume12 <= 0)
        return TSettingsProblem::NoVolume12;
    if (settings.Build.Detectors == 4 && settings.Volume34 <= 0)
        return TSettingsProblem::NoVolume34;
    return TSettingsProblem::None;
}

namespace {

using Passes::TPass;
using TWhy = TCutPass::TWhy;

const char *const SectionNames[4] = {"1-2", "2-1", "3-4", "4-3"};

// A measurement in the making: one pass, or two.
struct TCandidate {
    int Series = 0;
    int EndRow = 0;
    TMeasurement Measurement;
    bool Cut = false;
    TWhy Why = TWhy::EndOfRecord;
};

class TBuilder {
public:
    TBuilder(const TRecord &record, const TSettings &settings, const Passes::TRowIndex &index, const Passes::TFound &found)
        : record_(record), settings_(settings), index_(index), found_(found)
    {
    }

    void Series(int g, const std::vector<const TPass *> &passes)
    {
        if (settings_.Build.SumMethod == TSumMethod::OnePass) {
            for (const TPass *p : passes)
                Add(g, {p}, p->Cut, p->Why);
        } else if (settings_.Build.Directions == TDirections::One) {
            PairedOneWay(g, passes);
        } else {
            PairedTwoWays(g, passes);
        }
    }

    std::vector<TCandidate> Candidates;

private:
    // Why two passes cannot make one measurement: the mode off, a pause or a reset of the
    // sums between them.
    bool Broken(int g, const TPass &a, const TPass &b, TWhy &why) const
    {
        if (index_.AnyOff(a.EndRow, b.EndRow)) {
            why = TWhy::ModeOff;
            return true;
        }
        if (index_.AnyPause(a.EndRow + 1, b.EndRow)) {
            why = TWhy::Pause;
            return true;
        }
        const auto &resets = found_.Resets[g];
        const auto it = std::upper_bound(resets.begin(), resets.end(), a.EndRow);
        if (it != resets.end() && *it <= b.EndRow) {
            why = TWhy::SumsReset;
            return true;
        }
        return false;
    }

    // Where a pass stands in its measurement, as the series' pulse sum tells it: it holds
    // that pass alone (sums kept per measurement: the first); it did not step while it steps
    // at other passes (sums that step as a measurement completes: the first); it stepped by
    // more than the pass (the same: the second).
    enum class TPhase { Unknown, First, Second };
    TPhase PhaseOf(int g, const TPass &p, bool sumsStep) const
    {
        const auto &rows = record_.Rows;
        const double sum = rows[size_t(p.EndRow)].S[3 * g];
        const double before = p.EndRow > 0 ? rows[size_t(p.EndRow) - 1].S[3 * g] : NAN;
        if (!std::isfinite(sum) || !std::isfinite(p.N) || p.N <= 0)
            return TPhase::Unknown;
        // A float sum: its last digit moves by a few units of its least place.
        const double room = 0.015 + 3e-7 * std::fabs(sum);
        if (std::fabs(sum - p.N) <= room)
            return TPhase::First;
        if (!sumsStep || !std::isfinite(before))
            return TPhase::Unknown;
        const double step = sum - before;
        if (std::fabs(step) <= room)
            return TPhase::First;
        if (step > p.N + room + 0.5 * p.N)
            return TPhase::Second;
        return TPhase::Unknown;
    }

    void PairedOneWay(int g, const std::vector<const TPass *> &passes)
    {
        // The sums are seen stepping when they step at the end of a pass that counts.
        bool sumsStep = false;
        for (const TPass *p : passes) {
            const auto &rows = record_.Rows;
            if (!p->Cut && p->EndRow > 0 && rows[size_t(p->EndRow)].S[3 * g] != rows[size_t(p->EndRow) - 1].S[3 * g])
                sumsStep = true;
        }
        const TPass *pending = nullptr;
        bool seen = false;
        for (const TPass *p : passes) {
            if (p->Cut) {
                if (pending)
                    Add(g, {pending, p}, true, p->Why);
                else
                    Add(g, {p}, true, p->Why);
                pending = nullptr;
                seen = true;
                continue;
            }
            TWhy why = TWhy::Unpaired;
            const TPhase phase = PhaseOf(g, *p, sumsStep);
            if (pending && (phase == TPhase::First || Broken(g, *pending, *p, why))) {
                Add(g, {pending}, true, why);
                pending = nullptr;
            }
            if (pending) {
                Add(g, {pending, p}, false, why);
                pending = nullptr;
            } else if (phase == TPhase::Second) {
                Add(g, {p}, true, seen ? TWhy::Unpaired : TWhy::StartOfRecord);
            } else {
                pending = p;
            }
            seen = true;
        }
        if (pending)
            Add(g, {pending}, true, TWhy::EndOfRecord);
    }

    void PairedTwoWays(int g, const std::vector<const TPass *> &passes)
    {
        const TPass *pending = nullptr;
        bool seen = false;
        for (const TPass *p : passes) {
            const bool forward = p->Section % 2 == 0;
            if (p->Cut) {
                if (pending && !forward)
                    Add(g, {pending, p}, true, p->Why);
                else {
                    if (pending)
                        Add(g, {pending}, true, TWhy::Unpaired);
                    Add(g, {p}, true, p->Why);
                }
                pending = nullptr;
            } else if (forward) {
                if (pending) {
                    TWhy why = TWhy::Unpaired;
                    Broken(g, *pending, *p, why);
                    Add(g, {pending}, true, why);
                }
                pending = p;
            } else {
                TWhy why = TWhy::Unpaired;
                if (pending && !Broken(g, *pending, *p, why)) {
                    Add(g, {pending, p}, false, why);
                } else {
                    if (pending)
                        Add(g, {pending}, true, why);
                    Add(g, {p}, true, pending || seen ? why : TWhy::StartOfRecord);
                }
                pending = nullptr;
            }
            seen = true;
        }
        if (pending)
            Add(g, {pending}, true, TWhy::EndOfRecord);
    }

    double VolumeOf(int section, int passes) const
    {
        const bool second = section >= 2;
        const double forward = second ? settings_.Volume34 : settings_.Volume12;
        const double back = second ? settings_.Volume43 : settings_.Volume21;
        double v = forward;
        if (passes == 2)
            v = settings_.Build.Directions == TDirections::One ? 2 * forward : forward;
        else if (section % 2 == 1 && back > 0)
            v = back;
        return std::isfinite(v) && v > 0 ? v : NAN;
    }

    void Add(int g, std::initializer_list<const TPass *> parts, bool cut, TWhy why)
    {
        const TPass &a = **parts.begin();
        const TPass &b = *parts.begin()[parts.size() - 1];
        TCandidate c;
        c.Series = g;
        c.EndRow = b.EndRow;
        c.Cut = cut;
        c.Why = why;
        TMeasurement &m = c.Measurement;
        m.Series = g;
        m.Section = QLatin1String(SectionNames[a.Section]);
        if (parts.size() == 2)
            m.Section += QLatin1Char('+') + QLatin1String(SectionNames[b.Section]);
        m.StartSeconds = a.Start;
        m.EndSeconds = b.End;
        m.Line = b.Line;
        m.N = parts.size() == 2 ? a.N + b.N : a.N;
        m.Seconds = parts.size() == 2 ? a.Seconds + b.Seconds : a.Seconds;
        m.Frequency = m.Seconds > 0 ? m.N / m.Seconds : NAN;
        m.Volume = VolumeOf(a.Section, int(parts.size()));
        const double cubicMetres = settings_.Unit == TVolumeUnit::Litre ? m.Volume / 1000 : m.Volume;
        m.FlowM3h = m.Seconds > 0 ? cubicMetres / m.Seconds * 3600 : NAN;
        m.K = m.N / m.Volume;
        m.DeviceFlow = index_.MeanFlow(index_.RowAt(m.StartSeconds), c.EndRow);
        Candidates.push_back(c);
    }

    const TRecord &record_;
    const TSettings &settings_;
    const Passes::TRowIndex &index_;
    const Passes::TFound &found_;
};

}  // namespace

TResult Process(const TRecord &record, const TSettings &given)
{
    TSettings settings = given;
    if (settings.Build.Detectors != 4)
        settings.Build.Detectors = 2;
    TResult result;
    const Passes::TRowIndex index(record, settings.PauseSeconds);
    const Passes::TFound found = Passes::Find(record, index, settings.Build, settings.Update);
    result.UpdateSeen = found.Update;
    result.UpdateDecided = found.Decided;
    result.UpdateChanges = found.Changes;
    result.UpdateRunningChanges = found.RunningChanges;

    const int seriesCount = settings.Build.Detectors == 4 ? 2 : 1;
    TBuilder builder(record, settings, index, found);
    for (int g = 0; g < seriesCount; ++g) {
        std::vector<const TPass *> passes;
        for (const TPass &p : found.Passes)
            if (Passes::SeriesOf(p.Section) == g)
                passes.push_back(&p);
        builder.Series(g, passes);
    }
    std::vector<TCandidate> &candidates = builder.Candidates;
    std::stable_sort(candidates.begin(), candidates.end(), [](const TCandidate &a, const TCandidate &b) {
        return a.EndRow != b.EndRow ? a.EndRow < b.EndRow : a.Series < b.Series;
    });

    int number = 0;
    for (TCandidate &c : candidates) {
        TMeasurement &m = c.Measurement;
        if (!c.Cut && (m.StartSeconds < settings.FromSeconds || m.EndSeconds > settings.ToSeconds)) {
            c.Cut = true;
            c.Why = TWhy::OutsideSpan;
        }
        if (c.Cut) {
            TCutPass cut;
            cut.Series = c.Series;
            cut.StartSeconds = m.StartSeconds;
            cut.EndSeconds = m.EndSeconds;
            cut.Line = m.Line;
            cut.Why = c.Why;
            cut.Section = m.Section;
            cut.N = m.N;
            cut.Seconds = m.Seconds;
            result.Cut.push_back(cut);
            continue;
        }
        m.Number = ++number;
        m.Included = settings.Excluded.count(m.Number) == 0;
        result.Measurements.push_back(m);
    }

    const bool limit = std::isfinite(settings.LimitPercent) && settings.LimitPercent > 0;
    for (int g = 0; g < seriesCount; ++g) {
        TSeries series;
        series.Series = g;
        std::vector<double> k;
        for (const TMeasurement &m : result.Measurements)
            if (m.Series == g && m.Included)
                k.push_back(m.K);
        series.Count = int(k.size());
        if (!k.empty()) {
            double sum = 0;
            for (double v : k)
                sum += v;
            series.KMean = sum / double(k.size());
        }
        if (k.size() >= 2 && std::isfinite(series.KMean)) {
            // Two passes: the mean first, then the squares of the deviations from it.
            double squares = 0;
            for (double v : k)
                squares += (v - series.KMean) * (v - series.KMean);
            series.SkoPercent = std::sqrt(squares / double(k.size() - 1)) / series.KMean * 100;
            const auto [min, max] = std::minmax_element(k.begin(), k.end());
            series.RangePercent = (*max - *min) / series.KMean * 100;
            if (limit) {
                series.HasVerdict = true;
                const double figure = settings.LimitOf == TLimitFigure::Sko ? series.SkoPercent : series.RangePercent;
                series.LimitHolds = figure <= settings.LimitPercent;
            }
        }
        for (TMeasurement &m : result.Measurements)
            if (m.Series == g && m.Included)
                m.DeviationPercent = (m.K - series.KMean) / series.KMean * 100;
        result.Series.push_back(series);
    }
    return result;
}

}  // namespace ProverRun
