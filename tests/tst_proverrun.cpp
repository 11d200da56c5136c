// The processing of a recorded prover run: the statistics against an independent
// reference, the passes of every build and update way, the passes that do not count, the
// refusals of bad records and the one number formatter.
#include "ProverRun.h"
#include "RecordMaker.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

using namespace ProverRun;

Q_DECLARE_METATYPE(TRefusalCause)
Q_DECLARE_METATYPE(TUpdate)
Q_DECLARE_METATYPE(TLimitFigure)

namespace {

TRecord Read(const QByteArray &text, TRefusal *refusal = nullptr)
{
    QByteArray bytes = text;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TRecord record;
    const TRefusal r = ReadRecord(buffer, record);
    if (refusal)
        *refusal = r;
    else if (r.Refused())
        qWarning("refused: line %lld %s", r.Line, qPrintable(r.Detail));
    return record;
}

bool Near(double a, double b, double relative = 1e-9)
{
    return std::fabs(a - b) <= relative * std::fabs(b);
}

QString Whys(const TResult &result)
{
    QStringList whys;
    for (const TCutPass &cut : result.Cut)
        whys << QString::number(int(cut.Why));
    return whys.join(QLatin1Char(','));
}

}  // namespace

class TestProverRun : public QObject {
    Q_OBJECT

private slots:
    // A fixed vector of N and T gives the mean K, its СКО and range as Welford's running
    // variance and a plain minimum and maximum give them.
    void statistics_data()
    {
        QTest::addColumn<QList<double>>("n");
        QTest::addColumn<QList<double>>("t");
        QTest::addColumn<double>("volume");
        QTest::addColumn<TLimitFigure>("figure");
        QTest::addColumn<double>("limit");
        QTest::newRow("10 passes, range") << QList<double>{12345.67, 12347.12, 12344.03, 12346.55, 12345.98, 12343.71, 12348.02, 12345.11, 12346.40, 12344.87}
                                          << QList<double>{10.123456, 10.124001, 10.122513, 10.123999, 10.1235, 10.12201, 10.125, 10.1231, 10.12399, 10.1229}
                                          << 100.0 << TLimitFigure::Range << 0.05;
        QTest::newRow("5 passes, sko fails") << QList<double>{5000.01, 5003.5, 4997.25, 5001.75, 4999.99}
                                             << QList<double>{20.5, 20.51, 20.49, 20.505, 20.4999}
                                             << 0.04 << TLimitFigure::Sko << 0.01;
        QTest::newRow("2 passes") << QList<double>{999.99, 1000.01} << QList<double>{3.0, 3.000001} << 1.0
                                  << TLimitFigure::Range << 0.05;
        QTest::newRow("1 pass: no statistics") << QList<double>{777.77} << QList<double>{7.0} << 1.0 << TLimitFigure::Range << 0.05;
    }
    void statistics()
    {
        QFETCH(QList<double>, n);
        QFETCH(QList<double>, t);
        QFETCH(double, volume);
        QFETCH(TLimitFigure, figure);
        QFETCH(double, limit);
        TProverScript script;
        for (int i = 0; i < n.size(); ++i)
            script.Passes.push_back({0, n[i], t[i], 4});
        TSettings settings;
        settings.Volume12 = volume;
        settings.Unit = volume < 1 ? TVolumeUnit::CubicMetre : TVolumeUnit::Litre;
        settings.LimitOf = figure;
        settings.LimitPercent = limit;
        const TResult result = Process(Read(Play(script).Text()), settings);

        QCOMPARE(int(result.Measurements.size()), int(n.size()));
        // Welford's running mean and variance, and the extremes.
        double mean = 0, m2 = 0, min = INFINITY, max = -INFINITY;
        for (int i = 0; i < n.size(); ++i) {
            const double k = n[i] / volume;
            const double delta = k - mean;
            mean += delta / (i + 1);
            m2 += delta * (k - mean);
            min = std::min(min, k);
            max = std::max(max, k);
            const TMeasurement &m = result.Measurements[size_t(i)];
            QCOMPARE(m.Number, i + 1);
            QCOMPARE(m.N, n[i]);
            QCOMPARE(m.Seconds, t[i]);
            QVERIFY(Near(m.K, k));
            QVERIFY(Near(m.FlowM3h, (settings.Unit == TVolumeUnit::Litre ? volume / 1000 : volume) / t[i] * 3600));
        }
        const TSeries &series = result.Series.at(0);
        QCOMPARE(series.Count, int(n.size()));
        QVERIFY(Near(series.KMean, mean));
        if (n.size() < 2) {
            QVERIFY(std::isnan(series.SkoPercent) && std::isnan(series.RangePercent));
            QVERIFY(!series.HasVerdict);
            return;
        }
        const double sko = std::sqrt(m2 / (n.size() - 1)) / mean * 100;
        const double range = (max - min) / mean * 100;
        QVERIFY2(Near(series.SkoPercent, sko), qPrintable(QString::number(series.SkoPercent - sko)));
        QVERIFY(Near(series.RangePercent, range));
        QVERIFY(series.HasVerdict);
        QCOMPARE(series.LimitHolds, (figure == TLimitFigure::Sko ? sko : range) <= limit);

        // A measurement left out leaves the series.
        settings.Excluded = {1};
        const TResult less = Process(Read(Play(script).Text()), settings);
        QCOMPARE(less.Series.at(0).Count, int(n.size()) - 1);
        QVERIFY(!less.Measurements.at(0).Included && std::isnan(less.Measurements.at(0).DeviationPercent));
    }

    // Every build, each update way found by Auto and forced: the measurements are the
    // script's, grouped by the sum method, with the volume the table gives.
    void builds_data()
    {
        QTest::addColumn<int>("detectors");
        QTest::addColumn<int>("directions");
        QTest::addColumn<int>("passesPerMeasurement");
        QTest::addColumn<bool>("travelling");
        QTest::addColumn<bool>("forced");
        for (int detectors : {2, 4})
            for (int directions : {1, 2})
                for (int sum : {1, 2})
                    for (bool travelling : {false, true})
                        for (bool forced : {false, true})
                            QTest::addRow("%d det, %d-dir, over %d, %s%s", detectors, directions, sum, travelling ? "travel" : "detector",
                                          forced ? ", forced" : "")
                                << detectors << directions << sum << travelling << forced;
    }
    void builds()
    {
        QFETCH(int, detectors);
        QFETCH(int, directions);
        QFETCH(int, passesPerMeasurement);
        QFETCH(bool, travelling);
        QFETCH(bool, forced);
        const double v12 = 100, v34 = 60, k = 123.4;
        TProverScript script;
        script.WhileTravelling = travelling;
        script.Tail = 2;  // shorter than any gap: no pass begun at the end
        std::vector<double> expected[2];  // K per measurement, per series
        for (int i = 0; i < 6; ++i) {
            for (int g = 0; g < detectors / 2; ++g) {
                const double v = g ? v34 : v12;
                double sum = 0;
                for (int p = 0; p < passesPerMeasurement; ++p) {
                    const int section = 2 * g + (directions == 2 ? p % 2 : 0);
                    const double spread = 1 + 1e-4 * ((i * 7 + p * 3 + g) % 5 - 2);
                    const double n = std::round(k * v * spread * 100) / 100;
                    script.Passes.push_back({section, n, v / 10 * spread, directions == 2 && p % 2 ? 0.5 : 3});
                    sum += n;
                    if (passesPerMeasurement == 1 && directions == 2) {
                        // Each direction a measurement of its own.
                        const double back = std::round(k * v * (2 - spread) * 100) / 100;
                        script.Passes.push_back({section + 1, back, v / 10, 0.5});
                        expected[g].push_back(sum / v);
                        sum = back;
                    }
                }
                const double volume = passesPerMeasurement == 2 && directions == 1 ? 2 * v : v;
                expected[g].push_back(sum / volume);
            }
        }
        TSettings settings;
        settings.Build.Detectors = detectors;
        settings.Build.Directions = directions == 2 ? TDirections::Two : TDirections::One;
        settings.Build.SumMethod = passesPerMeasurement == 2 ? TSumMethod::TwoPasses : TSumMethod::OnePass;
        settings.Volume12 = v12;
        settings.Volume34 = v34;
        const TUpdate way = travelling ? TUpdate::WhileTravelling : TUpdate::AtDetector;
        settings.Update = forced ? way : TUpdate::Auto;
        const TResult result = Process(Read(Play(script).Text()), settings);

        QCOMPARE(result.UpdateSeen, way);
        QCOMPARE(result.UpdateDecided, !forced);
        QVERIFY2(result.Cut.empty(), qPrintable(Whys(result)));
        QCOMPARE(int(result.Series.size()), detectors / 2);
        for (int g = 0; g < detectors / 2; ++g) {
            std::vector<double> found;
            for (const TMeasurement &m : result.Measurements)
                if (m.Series == g)
                    found.push_back(m.K);
            QCOMPARE(found.size(), expected[g].size());
            for (size_t i = 0; i < found.size(); ++i)
                QVERIFY2(Near(found[i], expected[g][i]), qPrintable(QStringLiteral("%1: %2 %3").arg(i).arg(found[i]).arg(expected[g][i])));
        }
        for (size_t i = 0; i < result.Measurements.size(); ++i)
            QCOMPARE(result.Measurements[i].Number, int(i) + 1);
    }

    // Passes that do not count, and what does not cut one.
    void cut_data()
    {
        QTest::addColumn<bool>("travelling");
        QTest::addColumn<int>("sumMethod");
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("counted");
        QTest::addColumn<QString>("whys");
        const QString none;
        const auto why = [](TCutPass::TWhy w) { return QString::number(int(w)); };
        for (bool travel : {false, true}) {
            const char *way = travel ? "travel" : "detector";
            QTest::addRow("%s: stop in the last pass", way) << travel << 1 << "stop" << 3 << why(TCutPass::TWhy::ModeOff);
            QTest::addRow("%s: pause in pass 3", way) << travel << 1 << "pause" << 3 << why(TCutPass::TWhy::Pause);
            QTest::addRow("%s: sums reset in pass 3", way) << travel << 1 << "reset" << 3 << why(TCutPass::TWhy::SumsReset);
            QTest::addRow("%s: S3 wraps", way) << travel << 1 << "wrap" << 4 << none;
            QTest::addRow("%s: nan", way) << travel << 1 << "nan" << 3 << why(TCutPass::TWhy::NotANumber);
            QTest::addRow("%s: over 2, the last alone", way) << travel << 2 << "odd" << 2 << why(TCutPass::TWhy::EndOfRecord);
            // The sums step as a measurement completes: they tell a pair's second pass.
            QTest::addRow("%s: over 2, begun in a pair's second pass", way) << travel << 2 << "midpair" << 2
                                                                             << why(TCutPass::TWhy::StartOfRecord);
            QTest::addRow("%s: end of record in the last pass", way) << travel << 1 << "end" << 3 << why(TCutPass::TWhy::EndOfRecord);
        }
    }
    void cut()
    {
        QFETCH(bool, travelling);
        QFETCH(int, sumMethod);
        QFETCH(QString, what);
        QFETCH(int, counted);
        QFETCH(QString, whys);
        TProverScript script;
        script.WhileTravelling = travelling;
        script.Tail = 2;
        const bool midpair = what == QLatin1String("midpair");
        script.SumsAtMeasurementEnd = midpair;
        if (midpair)
            script.Lead = -15;  // the first pass ends before the record begins
        for (int i = 0; i < (what == QLatin1String("odd") ? 5 : midpair ? 6 : 4); ++i)
            script.Passes.push_back({0, 1234.56 + i, 10 + 0.01 * i, 4});
        const std::vector<double> ends = PassEnds(script);
        if (what == QLatin1String("stop"))
            script.StopAt = ends[3] - 4;
        else if (what == QLatin1String("pause")) {
            script.PauseFrom = ends[2] - 8;
            script.PauseTo = ends[2] - 1;
        } else if (what == QLatin1String("reset"))
            script.ResetAt = ends[2] - 5;
        else if (what == QLatin1String("wrap"))
            script.S3Start = 4294967296.0 - 15e6;
        else if (what == QLatin1String("nan"))
            script.NanN = true;
        else if (what == QLatin1String("end"))
            script.Tail = -4;
        TSettings settings;
        settings.Volume12 = 10;
        settings.Build.SumMethod = sumMethod == 2 ? TSumMethod::TwoPasses : TSumMethod::OnePass;
        settings.Update = TUpdate::Auto;
        const TResult result = Process(Read(Play(script).Text()), settings);
        QCOMPARE(result.UpdateSeen, travelling ? TUpdate::WhileTravelling : TUpdate::AtDetector);
        QCOMPARE(int(result.Measurements.size()), counted);
        QCOMPARE(Whys(result), whys);
    }

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<TRefusalCause>("cause");
        QTest::addColumn<qint64>("line");
        QTest::addColumn<QString>("detail");
        TRecordMaker maker;
        TRecordValues v;
        for (int i = 0; i < 3; ++i)
            maker.Row(i, v);
        const QByteArray good = maker.Text();
        const QByteArray header = good.left(good.indexOf('\n') + 1);
        QByteArray other = TModeRecordRows(ModeMapOf(TModeId::TprTpr)).CsvHeader().toUtf8() + "2026-12-09T08:00:00.000Z,on,1,2,3,4,5,6\n";
        QByteArray nul = good;
        nul[nul.lastIndexOf(',') - 2] = 0;
        QByteArray badField = good;
        badField.replace(",on,", ",of,");
        QTest::newRow("another mode") << other << TRefusalCause::OtherMode << qint64(1) << "tpr-tpr";
        QTest::newRow("cut in a row") << good.left(good.size() - 20) << TRefusalCause::CutFile << qint64(4) << "row";
        QTest::newRow("cut in the header") << header.left(100) << TRefusalCause::CutFile << qint64(1) << "header";
        QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << TRefusalCause::NotARecord << qint64(1) << "";
        QTest::newRow("NUL in a row") << nul << TRefusalCause::NotARecord << qint64(4) << "NUL";
        QTest::newRow("bad mode") << badField << TRefusalCause::BadRow << qint64(2) << "mode";
        QTest::newRow("a field short") << QByteArray(header + "2026-12-09T08:00:00.000Z,on,1\n") << TRefusalCause::BadRow << qint64(2) << "fields";
        QTest::newRow("not a number") << QByteArray(good + good.mid(header.size()).replace(",0,0,", ",0,x,").split('\n').first() + "\n")
                                      << TRefusalCause::BadRow << qint64(5) << "s2";
        QTest::newRow("empty") << QByteArray() << TRefusalCause::NotARecord << qint64(1) << "empty";
        QTest::newRow("JSON lines") << QByteArray("{\"time\":\"2026\"}\n") << TRefusalCause::NotARecord << qint64(1) << "json";
        QTest::newRow("no last newline") << good.left(good.size() - 1) << TRefusalCause::None << qint64(0) << "";
    }
    void refusals()
    {
        QFETCH(QByteArray, text);
        QFETCH(TRefusalCause, cause);
        QFETCH(qint64, line);
        QFETCH(QString, detail);
        TRefusal refusal;
        const TRecord record = Read(text, &refusal);
        QCOMPARE(refusal.Cause, cause);
        QCOMPARE(refusal.Line, line);
        QCOMPARE(refusal.Detail, detail);
        if (cause == TRefusalCause::None) {
            QCOMPARE(int(record.Rows.size()), 2);
            QCOMPARE(record.DroppedLastLine, qint64(4));
        } else {
            QVERIFY(record.Rows.empty());
        }
    }

    // Big files are refused at once: junk at its first line, a record past the limit by its size.
    void bigFiles()
    {
        QTemporaryDir dir;
        QByteArray block(1 << 20, 'x');
        for (int i = 0; i < block.size(); i += 61)
            block[i] = (i / 61) % 3 ? ',' : '\n';
        const QString junk = dir.filePath(QStringLiteral("junk.csv"));
        QFile file(junk);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 200; ++i)
            QCOMPARE(file.write(block), qint64(block.size()));
        file.close();
        const QString huge = dir.filePath(QStringLiteral("ТПР по ТПУ2 huge.csv"));
        QFile big(huge);
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(MaxRecordBytes + 1));
        big.close();

        for (const QString &path : {junk, huge}) {
            QElapsedTimer clock;
            clock.start();
            TRecord record;
            const TRefusal refusal = ReadRecordFile(path, record);
            QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(refusal.Cause, path == junk ? TRefusalCause::NotARecord : TRefusalCause::TooLarge);
            QCOMPARE(record.Channel, path == junk ? 0 : 2);
        }
    }

    // Before the prover's data are given the passes are found all the same; a reading that is
    // asked to stop stops.
    void withoutVolumeAndCancelled()
    {
        TProverScript script;
        for (int i = 0; i < 3; ++i)
            script.Passes.push_back({0, 1000.5 + i, 8, 4});
        const QByteArray text = Play(script).Text();
        const TSettings settings;
        QCOMPARE(CheckSettings(settings), TSettingsProblem::NoVolume12);
        const TResult result = Process(Read(text), settings);
        QCOMPARE(int(result.Measurements.size()), 3);
        QCOMPARE(result.Measurements[2].N, 1002.5);
        QVERIFY(Near(result.Measurements[2].Frequency, 1002.5 / 8));
        QVERIFY(std::isnan(result.Measurements[2].K) && std::isnan(result.Series[0].KMean) && !result.Series[0].HasVerdict);

        QByteArray bytes = text;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        TRecord record;
        const std::atomic<bool> cancel{true};
        QCOMPARE(ReadRecord(buffer, record, &cancel).Cause, TRefusalCause::Cancelled);
        QVERIFY(record.Rows.empty());
    }

    void fixed_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QChar>("sign");
        QTest::addColumn<QString>("text");
        QTest::newRow("binary below the half") << 1.005 << 2 << QChar('.') << "1.00";
        QTest::newRow("tie to even") << 2.5 << 0 << QChar('.') << "2";
        QTest::newRow("comma, minus") << -1234567.125 << 2 << QChar(',') << "-1234567,12";
        QTest::newRow("negative zero") << -0.00001 << 4 << QChar('.') << "0.0000";
        QTest::newRow("nan") << double(NAN) << 4 << QChar('.') << "—";
    }
    void fixed()
    {
        QFETCH(double, value);
        QFETCH(int, decimals);
        QFETCH(QChar, sign);
        QFETCH(QString, text);
        QCOMPARE(Fixed(value, decimals, sign), text);
        QCOMPARE(Fixed(NAN, 2, sign, false), QString());
    }
};

QTEST_GUILESS_MAIN(TestProverRun)
#include "tst_proverrun.moc"
