// A recorded prover run's reading and processing, on whatever bytes a file may hold: a
// refusal leaves no rows and names a line within the file; a record read is processed for
// the build, update way and sum method byte 0 picks, and what comes out holds together:
// measurements numbered from 1 in the order they completed, each with its own numbers,
// every series' mean between its least and greatest K, figures only for n of 2 or more.
//
// Input: byte 0: bit 0 4 detectors, bit 1 2-directional, bit 2 over 2 passes, bits 3-4 the
// update way (0 auto, 1 at the detector, 2 while travelling), bit 5 no volume; the rest is
// the record.

#include "FuzzSupport.h"

#include "ProverRun.h"

#include <QBuffer>
#include <QByteArray>

#include <cmath>
#include <cstddef>
#include <cstdint>

using namespace ProverRun;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    QByteArray text(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    QBuffer buffer(&text);
    buffer.open(QIODevice::ReadOnly);
    TRecord record;
    const TRefusal refusal = ReadRecord(buffer, record);
    const qint64 lines = text.count('\n') + 1;
    if (refusal.Refused()) {
        fuzz::Check(record.Rows.empty());
        fuzz::Check(refusal.Line >= 0 && refusal.Line <= lines);
        return 0;
    }
    for (size_t r = 1; r < record.Rows.size(); ++r)
        fuzz::Check(record.Rows[r].Line == record.Rows[r - 1].Line + 1);

    TSettings settings;
    settings.Build.Detectors = (data[0] & 1) ? 4 : 2;
    settings.Build.Directions = (data[0] & 2) ? TDirections::Two : TDirections::One;
    settings.Build.SumMethod = (data[0] & 4) ? TSumMethod::TwoPasses : TSumMethod::OnePass;
    settings.Update = TUpdate(((data[0] >> 3) & 3) % 3);
    settings.Volume12 = (data[0] & 32) ? 0 : 10;
    settings.Volume34 = 5;
    settings.LimitPercent = 0.05;
    settings.Excluded = {2};
    const TResult result = Process(record, settings);

    fuzz::Check(int(result.Series.size()) == settings.Build.Detectors / 2);
    int number = 0;
    int counted[2] = {0, 0};
    for (const TMeasurement &m : result.Measurements) {
        fuzz::Check(m.Number == ++number);
        fuzz::Check(std::isfinite(m.N) && std::isfinite(m.Seconds));
        fuzz::Check(m.Included == (m.Number != 2));
        fuzz::Check(m.Series == 0 || m.Series == 1);
        if (m.Included)
            ++counted[m.Series];
        fuzz::Check(!Fixed(m.K, Decimals::K).isEmpty() && !Fixed(m.FlowM3h, Decimals::Flow).isEmpty());
    }
    for (const TSeries &s : result.Series) {
        fuzz::Check(s.Count == counted[s.Series]);
        fuzz::Check(s.Count >= 2 || (std::isnan(s.SkoPercent) && std::isnan(s.RangePercent) && !s.HasVerdict));
        double least = INFINITY, most = -INFINITY;
        for (const TMeasurement &m : result.Measurements)
            if (m.Series == s.Series && m.Included && std::isfinite(m.K)) {
                least = std::min(least, m.K);
                most = std::max(most, m.K);
            }
        if (std::isfinite(s.KMean) && std::isfinite(least) && std::isfinite(most))
            fuzz::Check(s.KMean >= least - 1e-9 * std::fabs(least) && s.KMean <= most + 1e-9 * std::fabs(most));
    }
    return 0;
}
