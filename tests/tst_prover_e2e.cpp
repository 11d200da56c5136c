// A prover run end to end: the simulator's pipe prover polled as the programs poll it, its
// answers written as their record, the record processed. The mean K must be the true K the
// simulator printed, within the bound its spread gives, and every measurement it completed
// must be found, no more.
#include "ModeMap.h"
#include "ModeRecordRows.h"
#include "ProverRun.h"
#include "SimModel.h"

#include <QBuffer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

Q_DECLARE_METATYPE(sim::ProverUpdate)

namespace {

// The figures of the prover's line: "prover k_per_l=1000 v12_l=10 ...".
std::map<QString, double> Figures(const QString &line)
{
    std::map<QString, double> figures;
    const QString text = line.mid(line.indexOf(QLatin1String("prover ")));
    for (const QString &pair : text.split(QLatin1Char(' '), Qt::SkipEmptyParts).mid(1))
        figures[pair.section(QLatin1Char('='), 0, 0)] = pair.section(QLatin1Char('='), 1).toDouble();
    return figures;
}

// The simulator's memory driven on virtual time, asked what the programs ask (the status,
// then the values) at every poll, each pair of answers a row of the record.
struct VirtualRun {
    explicit VirtualRun(const TModeMap &mode) : Map(mode), Record(mode) { Csv = Record.CsvHeader().toUtf8(); }

    QByteArray Ask(uint8_t function, uint16_t first, uint16_t second)
    {
        std::vector<uint8_t> frame{10, function, uint8_t(first >> 8), uint8_t(first), uint8_t(second >> 8), uint8_t(second)};
        sim::AppendDeviceCrc(frame);
        const std::vector<uint8_t> reply = Model.Handle(frame);
        return QByteArray(reinterpret_cast<const char *>(reply.data()), qsizetype(reply.size()));
    }
    void Switch(bool on) { Ask(5, uint16_t(Map.Coil), on ? 0xFF00 : 0); }
    void Poll(double seconds)
    {
        Model.Advance(seconds);
        Now += seconds;
        Record.TakeStatus(Ask(1, 0, Map.StatusCoilCount));
        Record.TakeValues(Ask(4, Map.ValuesFirst, Map.ValuesCount));
        Csv += Record.CsvRow(Start.addMSecs(std::llround(Now * 1000))).toUtf8();
    }
    // Polls until done holds, for at most an hour of the run.
    bool PollUntil(double seconds, const std::function<bool()> &done)
    {
        for (const double end = Now + 3600; Now < end;) {
            Poll(seconds);
            if (done())
                return true;
        }
        return false;
    }

    sim::SimModel Model;
    const TModeMap &Map;
    TModeRecordRows Record;
    QDateTime Start{QDate(2026, 12, 9), QTime(10, 0), Qt::UTC};
    double Now = 0;
    QByteArray Csv;
};

// |K̄ − K| / K within 4σ/√n and the record's rounding of N to 0.01 pulse.
void CheckMeanK(const ProverRun::TSeries &series, double k, double sigmaPercent, double volume)
{
    const double bound = 4 * sigmaPercent / 100 / std::sqrt(double(series.Count)) + 0.01 / (k * volume);
    const double off = std::fabs(series.KMean - k) / k;
    QVERIFY2(off <= bound, qPrintable(QStringLiteral("series %1: K̄ %2 against %3, off by %4 (bound %5), n %6")
                                          .arg(series.Series).arg(series.KMean, 0, 'g', 12).arg(k).arg(off).arg(bound).arg(series.Count)));
}

}  // namespace

class TestProverE2e : public QObject {
    Q_OBJECT
private slots:
    void meanKIsTheTrueK_data();
    void meanKIsTheTrueK();
    void overTheLine();
};

void TestProverE2e::meanKIsTheTrueK_data()
{
    QTest::addColumn<int>("detectors");
    QTest::addColumn<bool>("twoDirections");
    QTest::addColumn<bool>("twoPasses");
    QTest::addColumn<sim::ProverUpdate>("update");
    QTest::addColumn<double>("pollSeconds");  // the companion's pace, or the window's
    QTest::addColumn<int>("channel");
    QTest::addColumn<bool>("stop");  // the mode is switched off with the ball between detectors
    int row = 0;
    for (int detectors : {2, 4})
        for (bool twoDirections : {false, true})
            for (bool twoPasses : {false, true})
                for (sim::ProverUpdate update : {sim::ProverUpdate::AtDetector, sim::ProverUpdate::WhileTravelling}) {
                    const bool travel = update == sim::ProverUpdate::WhileTravelling;
                    const double poll = (row + row / 2) % 2 ? 1.0 : 0.15;
                    const int channel = (row + row / 4) % 2 ? 2 : 1;
                    const bool stop = row % 3 == 0 || row == 5;  // row 5: 2-directional, over 1 pass, moving
                    QTest::addRow("%d detectors, %s, over %d pass%s, %s, poll %g s, TPU%d%s", detectors,
                                  twoDirections ? "2-directional" : "1-directional", twoPasses ? 2 : 1, twoPasses ? "es" : "",
                                  travel ? "moving" : "set at the detector", poll, channel, stop ? ", stopped" : "")
                        << detectors << twoDirections << twoPasses << update << poll << channel << stop;
                    ++row;
                }
}

void TestProverE2e::meanKIsTheTrueK()
{
    QFETCH(int, detectors);
    QFETCH(bool, twoDirections);
    QFETCH(bool, twoPasses);
    QFETCH(sim::ProverUpdate, update);
    QFETCH(double, pollSeconds);
    QFETCH(int, channel);
    QFETCH(bool, stop);

    sim::ProverOptions options;
    options.SigmaPercent = 0.05;
    options.Update = update;
    options.Seed = uint64_t(qHash(QByteArray(QTest::currentDataTag())));
    auto figures = Figures(QString::fromStdString(sim::ProverFiguresLine(options)));

    VirtualRun run(ModeMapOf(channel == 1 ? TModeId::TprTpu1 : TModeId::TprTpu2));
    run.Model.SetProver(options);
    const int group = channel == 1 ? 0 : 7;  // the channel's configuration registers
    run.Model.SetHolding(group + 0, detectors == 4);
    run.Model.SetHolding(group + 3, twoDirections);
    run.Model.SetHolding(group + 4, twoPasses);
    run.Model.SetHoldingFloat(group + 5, 4321.0f);  // Кф2 is not the transducer's K
    const sim::ProverModel &prover = *run.Model.Prover(channel - 1);
    const int seriesCount = detectors == 4 ? 2 : 1;
    const int wanted = 8;

    run.Poll(pollSeconds);
    run.Switch(true);
    if (stop) {
        // Off between detectors 1 and 2 (over 2 passes: in the measurement's second pass),
        // a few rows later on again: that measurement is lost.
        QVERIFY(run.PollUntil(pollSeconds, [&] {
            return prover.Measurements(0) >= wanted / 2 && (prover.OpenSection() == 0 || prover.OpenSection() == 1)
                && (!twoPasses || prover.Passes(0) % 2 == 1);
        }));
        run.Switch(false);
        const double off = run.Now;
        QVERIFY(run.PollUntil(pollSeconds, [&] { return run.Now > off + 3; }));
        run.Switch(true);
    }
    QVERIFY(run.PollUntil(pollSeconds, [&] {
        return prover.Measurements(0) >= wanted && prover.Measurements(1) >= (seriesCount == 2 ? wanted : 0);
    }));
    // The record ends with the ball between detectors 1 and 2 again: that pass is cut too.
    QVERIFY(run.PollUntil(pollSeconds, [&] { return prover.OpenSection() == 0 || prover.OpenSection() == 1; }));
    run.Poll(pollSeconds);

    QBuffer file(&run.Csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    ProverRun::TRecord record;
    const ProverRun::TRefusal refusal = ProverRun::ReadRecord(file, record);
    QVERIFY2(!refusal.Refused(), qPrintable(QStringLiteral("line %1: %2").arg(refusal.Line).arg(refusal.Detail)));

    ProverRun::TSettings settings;
    settings.Build.Detectors = detectors;
    settings.Build.Directions = twoDirections ? ProverRun::TDirections::Two : ProverRun::TDirections::One;
    settings.Build.SumMethod = twoPasses ? ProverRun::TSumMethod::TwoPasses : ProverRun::TSumMethod::OnePass;
    // A two-directional prover summed over two passes is given its round trip.
    const double trip = twoDirections && twoPasses ? 2 : 1;
    settings.Volume12 = trip * figures["v12_l"];
    settings.Volume34 = trip * figures["v34_l"];
    const ProverRun::TResult result = ProverRun::Process(record, settings);

    QCOMPARE(result.UpdateSeen, update == sim::ProverUpdate::AtDetector ? ProverRun::TUpdate::AtDetector
                                                                        : ProverRun::TUpdate::WhileTravelling);
    QCOMPARE(int(result.Series.size()), seriesCount);
    for (int s = 0; s < seriesCount; ++s) {
        QCOMPARE(result.Series[s].Count, prover.Measurements(s));
        CheckMeanK(result.Series[s], figures["k_per_l"], figures["sigma_percent"], s == 0 ? figures["v12_l"] : figures["v34_l"]);
    }
    // The pass the stop cut is listed as such.
    using TWhy = ProverRun::TCutPass::TWhy;
    auto listed = [&](const std::function<bool(const ProverRun::TCutPass &)> &which) {
        return std::any_of(result.Cut.begin(), result.Cut.end(), which);
    };
    if (stop)
        QVERIFY(listed([](const ProverRun::TCutPass &cut) { return cut.Why == TWhy::ModeOff; }));
    // The values a mode's start puts at zero are no pass.
    QVERIFY(!listed([](const ProverRun::TCutPass &cut) { return cut.N == 0; }));
}

// karven-sim with its prover and karven-cli recording the mode, at the line's real speed:
// the values make the whole way over the wire and come out as the right K.
void TestProverE2e::overTheLine()
{
#if !defined(KARVEN_SIM_EXE) || !defined(KARVEN_CLI_EXE)
    QSKIP("needs karven-sim and karven-cli of this build");
#else
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyV0"));
    QProcess device;
    // The simulator's starting configuration of TPU1: 4 detectors, 2-directional, over one pass.
    device.start(QStringLiteral(KARVEN_SIM_EXE),
                 {QStringLiteral("--quiet"), QStringLiteral("--link"), link, QStringLiteral("--prover"), QStringLiteral("--k-factor"),
                  QStringLiteral("500"), QStringLiteral("--volume"), QStringLiteral("1-2=1"), QStringLiteral("--volume"),
                  QStringLiteral("3-4=0.5"), QStringLiteral("--flow"), QStringLiteral("3.6"), QStringLiteral("--pause"),
                  QStringLiteral("0.5"), QStringLiteral("--sigma"), QStringLiteral("0.05"), QStringLiteral("--seed"), QStringLiteral("7")});
    QByteArray printed;
    QDeadlineTimer deadline(5000);
    while (!(printed.contains("prover ") && printed.endsWith('\n')) && device.waitForReadyRead(int(deadline.remainingTime())))
        printed += device.readAll();
    QVERIFY2(printed.contains("prover ") && printed.endsWith('\n'), printed.constData());
    auto figures = Figures(QString::fromUtf8(printed.mid(printed.indexOf("prover "))).trimmed());

    QProcess cli;
    cli.start(QStringLiteral(KARVEN_CLI_EXE), {QStringLiteral("mode"), QStringLiteral("tpr-tpu1"), QStringLiteral("--start"),
                                               QStringLiteral("--stop"), QStringLiteral("--duration"), QStringLiteral("12"),
                                               QStringLiteral("--port"), link});
    QVERIFY(cli.waitForFinished(30000));
    device.terminate();
    QVERIFY(device.waitForFinished(5000));
    QCOMPARE(cli.exitCode(), 0);
    QByteArray csv = cli.readAllStandardOutput();

    QBuffer file(&csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    ProverRun::TRecord record;
    const ProverRun::TRefusal refusal = ProverRun::ReadRecord(file, record);
    QVERIFY2(!refusal.Refused(), qPrintable(QStringLiteral("line %1: %2").arg(refusal.Line).arg(refusal.Detail)));
    ProverRun::TSettings settings;
    settings.Build = {4, ProverRun::TDirections::Two, ProverRun::TSumMethod::OnePass};
    settings.Volume12 = figures["v12_l"];
    settings.Volume34 = figures["v34_l"];
    const ProverRun::TResult result = ProverRun::Process(record, settings);
    QCOMPARE(int(result.Series.size()), 2);
    // A travel and its rest take 2.3 s: about five passes of each pair in 12 s.
    for (const ProverRun::TSeries &series : result.Series) {
        QVERIFY2(series.Count >= 3 && series.Count <= 6, qPrintable(QString::number(series.Count)));
        CheckMeanK(series, figures["k_per_l"], figures["sigma_percent"], series.Series == 0 ? figures["v12_l"] : figures["v34_l"]);
    }
#endif
}

QTEST_GUILESS_MAIN(TestProverE2e)
#include "tst_prover_e2e.moc"
