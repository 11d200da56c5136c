// How long the processing window takes over a day's TPR-by-TPU record as the window
// program writes it (one row a second, about 86,400 rows): reading it, processing it, and
// writing its protocol (the chart drawn, the PDF made). Prints the median of each over the
// runs; run with QT_QPA_PLATFORM=offscreen.
//
//   bench_protocol [runs] [rows] [PDF]   (default 5 runs of 86400 rows; the last protocol
//                                         is kept in PDF when it is named)

#include "Measure.h"
#include "ModeMap.h"
#include "ModeRecordRows.h"
#include "ProverRun.h"
#include "RunChart.h"
#include "RunReport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <random>

namespace {

// A one-directional prover with 2 detectors, the values set at the closing detector: a
// pass of about 20 s every 30 s, K about 100 pulses per litre over 50 litres.
QByteArray DayRecord(int rows)
{
    const TModeRecordRows header(ModeMapOf(TModeId::TprTpu1));
    QByteArray text = header.CsvHeader().toUtf8();
    text.reserve(rows * 200);
    std::mt19937 random(12);
    std::normal_distribution<double> spread(0, 2e-4);
    const QDateTime start(QDate(2026, 12, 9), QTime(6, 0), Qt::UTC);
    double n = 0, s1 = 0;
    uint32_t whole = 0, s2 = 0, t = 0, s3 = 0;
    for (int r = 0; r < rows; ++r) {
        const int inCycle = r % 30;
        if (inCycle == 20) {  // the ball reaches detector 2
            const double k = 100 * (1 + spread(random));
            t = uint32_t(20e6 * (1 + spread(random)));
            n = k * 50;
            whole = uint32_t(n);
            s1 += n;
            s2 += whole;
            s3 += t;
        }
        const double f = inCycle < 20 ? 250 + spread(random) * 1e4 : 0.5;
        const QString row = QStringLiteral("%1,on,%2,%3,%4,%5,%6,%7,%8,%9,0,0,0,0,0,0,0,0,0,0,0,0\n")
                                .arg(TModeRecordRows::TimeText(start.addSecs(r)))
                                .arg(f, 0, 'f', 3)
                                .arg(f / 100 * 3.6, 0, 'f', 4)
                                .arg(n, 0, 'f', 2)
                                .arg(s1, 0, 'f', 2)
                                .arg(whole)
                                .arg(s2)
                                .arg(t)
                                .arg(s3);
        text += row.toUtf8();
    }
    return text;
}

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int runs = std::max(1, argc > 1 ? std::atoi(argv[1]) : 5);
    const int rows = std::max(100, argc > 2 ? std::atoi(argv[2]) : 86400);

    QTemporaryDir dir;
    const QString recordPath = dir.filePath(QStringLiteral("ТПР по ТПУ1 2026-12-09 06-00-00.csv"));
    {
        QFile file(recordPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(DayRecord(rows)) < 0) {
            std::fprintf(stderr, "bench_protocol: cannot write %s\n", qPrintable(recordPath));
            return 1;
        }
    }
    std::printf("record: %d rows, %.1f MB\n", rows, QFileInfo(recordPath).size() / 1e6);

    ProverRun::TSettings settings;
    settings.Volume12 = 50;
    std::vector<double> reads, processes, charts, protocols, total;
    ProverRun::TResult result;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        ProverRun::TRecord record;
        const ProverRun::TRefusal refusal = ProverRun::ReadRecordFile(recordPath, record);
        const double read = clock.nsecsElapsed() / 1e6;
        if (refusal.Refused()) {
            std::fprintf(stderr, "bench_protocol: the record was refused (line %lld)\n", refusal.Line);
            return 1;
        }
        result = ProverRun::Process(record, settings);
        const double process = clock.nsecsElapsed() / 1e6 - read;

        TProtocol protocol;
        protocol.RecordFile = QFileInfo(recordPath).fileName();
        protocol.Made = QDateTime::currentDateTime();
        protocol.Settings = settings;
        protocol.Result = result;
        protocol.Channel = 1;
        QString error;
        const double beforeChart = clock.nsecsElapsed() / 1e6;
        const QImage chart = RunChartImage(record, result, ProtocolChartSize());
        charts.push_back(clock.nsecsElapsed() / 1e6 - beforeChart);
        if (!WriteProtocolPdf(dir.filePath(QStringLiteral("protocol.pdf")), protocol, chart, &error)) {
            std::fprintf(stderr, "bench_protocol: %s\n", qPrintable(error));
            return 1;
        }
        const double all = clock.nsecsElapsed() / 1e6;
        reads.push_back(read);
        processes.push_back(process);
        protocols.push_back(all - read - process);
        total.push_back(all);
    }
    std::printf("measurements: %zu, protocol: %.1f kB\n", result.Measurements.size(),
                QFileInfo(dir.filePath(QStringLiteral("protocol.pdf"))).size() / 1e3);
    if (argc > 3) {
        QFile::remove(QString::fromLocal8Bit(argv[3]));
        QFile::copy(dir.filePath(QStringLiteral("protocol.pdf")), QString::fromLocal8Bit(argv[3]));
    }
    std::printf("read the record      %8.1f ms (median of %d)\n", Median(reads), runs);
    std::printf("process it           %8.1f ms\n", Median(processes));
    std::printf("write the protocol   %8.1f ms (chart and PDF)\n", Median(protocols));
    std::printf("  of which the chart %8.1f ms\n", Median(charts));
    std::printf("all three            %8.1f ms   limit 2000 ms for the protocol, ratio %.2f\n", Median(total),
                Median(protocols) / 2000);
    return 0;
}
