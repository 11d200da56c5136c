// How long the processing of a recorded prover run takes for a day's record: read from the
// file as a stream and processed (passes, measurements, series), the way the window program
// and `karven-cli passes` do it. Two records, written first into a temporary folder:
//  - the window program's day: one row a second, 86,400 rows;
//  - the companion's day: seven rows a second, 604,800 rows;
// each a run of 30 s passes with 10 s between them, values set at the detector, and Auto
// deciding that from the record. Prints the median of the runs.
//
//   bench_passes [runs]   (default 5, at least 3)

#include "ProverRun.h"
#include "RecordMaker.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <vector>

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

TProverScript DayScript(double interval)
{
    TProverScript script;
    script.Interval = interval;
    script.Lead = 0;
    script.Tail = 0;
    for (double t = 0; t + 40 <= 86400;  t += 40) {
        const int i = int(t / 40);
        const double spread = 1 + 1e-4 * ((i * 7) % 5 - 2);
        script.Passes.push_back({0, std::round(123.4 * 100 * spread * 100) / 100, 30 * spread, 10 - 30 * (spread - 1)});
    }
    return script;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = std::max(3, argc > 1 ? std::atoi(argv[1]) : 5);
    QTemporaryDir dir;
    struct TCase {
        const char *Name;
        double Interval;
        double LimitMs;
    } cases[] = {{"window-day", 1.0, 2000}, {"companion-day", 1.0 / 7, 5000}};

    for (const TCase &c : cases) {
        const QString path = dir.filePath(QStringLiteral("%1.csv").arg(QLatin1String(c.Name)));
        if (!Play(DayScript(c.Interval)).Save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        ProverRun::TSettings settings;
        settings.Volume12 = 100;
        std::vector<double> reads, processes, totals, cpus;
        size_t rows = 0, measurements = 0;
        for (int run = 0; run <= runs; ++run) {
            using Clock = std::chrono::steady_clock;
            const std::clock_t c0 = std::clock();
            const auto t0 = Clock::now();
            ProverRun::TRecord record;
            const ProverRun::TRefusal refusal = ProverRun::ReadRecordFile(path, record);
            const auto t1 = Clock::now();
            const ProverRun::TResult result = ProverRun::Process(record, settings);
            const auto t2 = Clock::now();
            const std::clock_t c2 = std::clock();
            if (refusal.Refused() || result.Measurements.empty()) {
                std::fprintf(stderr, "%s: refused at line %lld\n", c.Name, refusal.Line);
                return 1;
            }
            rows = record.Rows.size();
            measurements = result.Measurements.size();
            if (run == 0)
                continue;  // the first run warms the caches
            reads.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
            processes.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
            totals.push_back(std::chrono::duration<double, std::milli>(t2 - t0).count());
            cpus.push_back(double(c2 - c0) * 1000 / CLOCKS_PER_SEC);
        }
        std::printf("%s: %zu rows, %.1f MB, %zu measurements; read %.1f ms, process %.1f ms, total %.1f ms "
                    "(processor time %.1f ms; median of %d runs; limit %.0f ms)\n",
                    c.Name, rows, double(QFileInfo(path).size()) / 1e6, measurements, Median(reads), Median(processes),
                    Median(totals), Median(cpus), runs, c.LimitMs);
    }
    return 0;
}
