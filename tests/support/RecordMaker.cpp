#include "RecordMaker.h"

#include "ModeMap.h"

#include <QFile>

#include <bit>
#include <cmath>
#include <limits>

namespace {

void PutCount(QByteArray &answer, int offset, uint32_t v)
{
    // Word-swapped: the device sends b2 b3 b0 b1 of the value's big-endian bytes.
    answer[offset] = char(v >> 8);
    answer[offset + 1] = char(v);
    answer[offset + 2] = char(v >> 24);
    answer[offset + 3] = char(v >> 16);
}

void PutFloat(QByteArray &answer, int offset, float v)
{
    PutCount(answer, offset, std::bit_cast<uint32_t>(v));
}

}  // namespace

TRecordMaker::TRecordMaker(int channel, const QDateTime &start)
    : channel_(channel), start_(start),
      record_(ModeMapOf(channel == 2 ? TModeId::TprTpu2 : TModeId::TprTpu1)),
      text_(record_.CsvHeader().toUtf8())
{
}

QDateTime TRecordMaker::DefaultStart()
{
    return QDateTime(QDate(2026, 12, 9), QTime(8, 0), Qt::UTC);
}

QByteArray TRecordMaker::StatusAnswer(int channel, bool on)
{
    QByteArray answer(6, 0);
    answer[0] = 1;
    answer[1] = 1;
    answer[2] = 1;
    answer[3] = char(on ? (channel == 2 ? 0x02 : 0x01) : 0);
    return answer;
}

QByteArray TRecordMaker::ValuesAnswer(const TRecordValues &v)
{
    QByteArray answer(3 + 80 + 2, 0);
    answer[0] = 1;
    answer[1] = 4;
    answer[2] = char(80);
    const float reals[] = {v.Frequency, v.Flow, v.N[0], v.S1, v.N[1], v.N[2], v.N[3], v.S4};
    const int realRows[] = {0, 1, 2, 3, 8, 11, 14, 17};
    for (int i = 0; i < 8; ++i)
        PutFloat(answer, ModeRows::TprTpu[realRows[i]].Offset, reals[i]);
    const uint32_t counts[] = {v.Whole[0], v.S2, v.Tus[0], v.S3, v.Whole[1], v.Tus[1],
                               v.Whole[2], v.Tus[2], v.Whole[3], v.Tus[3], v.S5, v.S6};
    const int countRows[] = {4, 5, 6, 7, 9, 10, 12, 13, 15, 16, 18, 19};
    for (int i = 0; i < 12; ++i)
        PutCount(answer, ModeRows::TprTpu[countRows[i]].Offset, counts[i]);
    return answer;
}

void TRecordMaker::Row(double seconds, const TRecordValues &values)
{
    record_.TakeStatus(StatusAnswer(channel_, values.On));
    record_.TakeValues(ValuesAnswer(values));
    text_ += record_.CsvRow(start_.addMSecs(qint64(std::llround(seconds * 1000)))).toUtf8();
    ++rows_;
}

bool TRecordMaker::Save(const QString &path) const
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text_) == text_.size();
}

std::vector<double> PassEnds(const TProverScript &script)
{
    std::vector<double> ends;
    double t = script.Lead;
    for (const TProverPass &pass : script.Passes) {
        t += pass.Gap + pass.Seconds;
        ends.push_back(t);
    }
    return ends;
}

TRecordMaker Play(const TProverScript &script)
{
    const std::vector<double> ends = PassEnds(script);
    const double last = ends.empty() ? script.Lead : ends.back();
    TRecordMaker maker;
    TRecordValues v;
    double s1[2] = {0, 0}, s3[2] = {script.S3Start, 0};
    uint32_t s2[2] = {0, 0};
    int done[2] = {0, 0};  // completed passes of each series
    size_t half[2] = {size_t(-1), size_t(-1)};  // the first pass of a measurement whose sums wait
    bool cleared = false;
    size_t next = 0;  // the first pass not completed
    // A pass completed: its values stay until the section's next one; the sums take it.
    auto complete = [&](size_t k) {
        const TProverPass &pass = script.Passes[k];
        const int s = pass.Section;
        const int g = s / 2;
        const bool nan = script.NanN && k + 1 == script.Passes.size();
        v.N[s] = nan ? std::numeric_limits<float>::quiet_NaN() : float(pass.N);
        v.Whole[s] = uint32_t(pass.N);
        v.Tus[s] = uint32_t(std::llround(pass.Seconds * 1e6));
        v.Frequency = float(pass.N / pass.Seconds);
        if (script.SumsPerMeasurement && done[g] % 2 == 0) {
            s1[g] = 0;
            s2[g] = 0;
            s3[g] = 0;
        }
        if (script.SumsAtMeasurementEnd && done[g]++ % 2 == 0) {
            half[g] = k;
            return;
        }
        if (!script.SumsAtMeasurementEnd)
            ++done[g];
        for (size_t j : {half[g], k}) {
            if (j == size_t(-1))
                continue;
            const TProverPass &part = script.Passes[j];
            s1[g] += part.N;
            s2[g] += uint32_t(part.N);
            s3[g] = std::fmod(s3[g] + double(std::llround(part.Seconds * 1e6)), 4294967296.0);
        }
    };
    for (long i = 0;; ++i) {
        const double t = double(i) * script.Interval;
        if (t > last + script.Tail)
            break;
        const bool on = !(script.StopAt >= 0 && t >= script.StopAt);
        // The device sees nothing after it was switched off.
        const double seen = on ? t : script.StopAt;
        const bool reset = script.ResetAt >= 0 && seen >= script.ResetAt;
        for (; next < ends.size() && ends[next] <= seen; ++next) {
            if (reset && !cleared && ends[next] > script.ResetAt)
                break;
            complete(next);
        }
        if (reset && !cleared) {
            cleared = true;
            s1[0] = s1[1] = s3[0] = s3[1] = 0;
            s2[0] = s2[1] = 0;
            for (; next < ends.size() && ends[next] <= seen; ++next)
                complete(next);
        }
        if (t >= script.PauseFrom && t < script.PauseTo)
            continue;
        TRecordValues row = v;
        row.On = on;
        if (script.WhileTravelling && next < ends.size() && ends[next] - script.Passes[next].Seconds <= seen) {
            const TProverPass &pass = script.Passes[next];
            const double travelled = seen - (ends[next] - pass.Seconds);
            const double part = travelled / pass.Seconds;
            row.N[pass.Section] = float(std::round(pass.N * part * 100) / 100);
            row.Whole[pass.Section] = uint32_t(pass.N * part);
            row.Tus[pass.Section] = uint32_t(std::llround(travelled * 1e6));
            row.Frequency = float(pass.N / pass.Seconds);
        }
        row.Flow = row.Frequency * 0.36f;
        row.S1 = float(s1[0]);
        row.S2 = s2[0];
        row.S3 = uint32_t(s3[0]);
        row.S4 = float(s1[1]);
        row.S5 = s2[1];
        row.S6 = uint32_t(s3[1]);
        maker.Row(t, row);
    }
    return maker;
}
