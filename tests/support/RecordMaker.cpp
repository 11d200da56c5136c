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
    for (long i = 0;; ++i) {
        const double t = double(i) * script.Interval;
        if (t > last + script.Tail)
            break;
        if (t >= script.PauseFrom && t < script.PauseTo)
            continue;
        const bool on = !(script.StopAt >= 0 && t >= script.StopAt);
        // The device sees nothing after it was switched off.
        const double seen = on ? t : script.StopAt;
        TRecordValues v;
        v.On = on;
        const bool cleared = script.ResetAt >= 0 && seen >= script.ResetAt;
        double s1[2] = {0, 0}, s3[2] = {cleared ? 0 : script.S3Start, 0};
        uint32_t s2[2] = {0, 0};
        int done[2] = {0, 0};  // completed passes of each series
        for (size_t k = 0; k < script.Passes.size(); ++k) {
            const TProverPass &pass = script.Passes[k];
            const int s = pass.Section;
            const int g = s / 2;
            const double start = ends[k] - pass.Seconds;
            const bool nan = script.NanN && k + 1 == script.Passes.size();
            if (ends[k] <= seen) {
                v.N[s] = nan ? std::numeric_limits<float>::quiet_NaN() : float(pass.N);
                v.Whole[s] = uint32_t(pass.N);
                v.Tus[s] = uint32_t(std::llround(pass.Seconds * 1e6));
                v.Frequency = float(pass.N / pass.Seconds);
                if (cleared && ends[k] <= script.ResetAt)
                    continue;  // cleared with the sums
                if (script.SumsPerMeasurement && done[g] % 2 == 0) {
                    s1[g] = 0;
                    s2[g] = 0;
                    s3[g] = 0;
                }
                ++done[g];
                s1[g] += pass.N;
                s2[g] += uint32_t(pass.N);
                s3[g] = std::fmod(s3[g] + double(v.Tus[s]), 4294967296.0);
            } else if (script.WhileTravelling && start <= seen) {
                const double part = (seen - start) / pass.Seconds;
                v.N[s] = float(std::round(pass.N * part * 100) / 100);
                v.Whole[s] = uint32_t(pass.N * part);
                v.Tus[s] = uint32_t(std::llround((seen - start) * 1e6));
                v.Frequency = float(pass.N / pass.Seconds);
            }
        }
        v.Flow = v.Frequency * 0.36f;
        v.S1 = float(s1[0]);
        v.S2 = s2[0];
        v.S3 = uint32_t(s3[0]);
        v.S4 = float(s1[1]);
        v.S5 = s2[1];
        v.S6 = uint32_t(s3[1]);
        maker.Row(t, v);
    }
    return maker;
}
