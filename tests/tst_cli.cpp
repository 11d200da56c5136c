// karven-cli end to end: the real binary against the device simulator over a pty.
#include "CPort.h"
#include "ModeMap.h"
#include "RegisterMap.h"
#include "SimDevice.h"
#include "ValueText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <csignal>

namespace {

struct Run {
    int Status = -1;
    QString Out;
    QString Err;
};

}  // namespace

class TestCli : public QObject {
    Q_OBJECT

    Run Cli(const QStringList &arguments)
    {
        QProcess process;
        process.start(QStringLiteral(KARVEN_CLI_EXE), arguments);
        Run run;
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.Status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.Out = QString::fromUtf8(process.readAllStandardOutput());
        run.Err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }
    QStringList Link() const { return {QStringLiteral("--port"), link_}; }
    QString Path(const QString &name) const { return dir_.filePath(name); }
    void Save(const QString &name, const QString &text)
    {
        QFile file(Path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
    }
    // The file's text with one parameter's value replaced by raw JSON text.
    static QString WithValue(QString text, const char *field, const QString &value)
    {
        const QRegularExpression re(QStringLiteral("(\"field\": \"%1\", \"value\": )[^,]*").arg(QLatin1String(field)));
        return text.replace(re, QStringLiteral("\\1") + value);
    }
    int Requests() const
    {
        const auto log = device_->Log();
        return int(std::count_if(log.begin(), log.end(), [](const sim::LogEntry &e) { return e.kind == sim::LogEntry::Request; }));
    }

private slots:
    void init()
    {
        link_ = Path(QStringLiteral("ttyV0"));
        sim::SimOptions options;
        options.linkPath = link_.toStdString();
        device_ = std::make_unique<sim::SimDevice>(options);
        std::string error;
        QVERIFY2(device_->Start(&error), error.c_str());
    }
    void cleanup() { device_.reset(); }

    // read -> file -> two parameters changed -> write -> the device holds them -> diff equal.
    void roundTrip()
    {
        const Run read = Cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), Path(QStringLiteral("a.json"))} + Link());
        QCOMPARE(read.Status, 0);
        QFile file(Path(QStringLiteral("a.json")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString original = QString::fromUtf8(file.readAll());
        const QJsonObject root = QJsonDocument::fromJson(original.toUtf8()).object();
        QCOMPARE(root.value(QStringLiteral("parameters")).toArray().size(), 39);
        const QJsonArray registers = root.value(QStringLiteral("registers")).toArray();
        for (int r = 0; r < ConfigRegisterCount; ++r)
            QCOMPARE(registers.at(r).toInt(), int(device_->Holding(r)));

        Save(QStringLiteral("b.json"), WithValue(WithValue(original, "Tpu2DetectorType", QStringLiteral("0")),
                                                 "TprKFactor1", QStringLiteral("1234.56")));
        QCOMPARE(Cli(QStringList{QStringLiteral("write"), Path(QStringLiteral("b.json"))} + Link()).Status, 0);
        QCOMPARE(device_->Holding(8), uint16_t(0));
        QCOMPARE(device_->WithModel([](sim::SimModel &m) { return m.HoldingFloat(18); }), 1234.56f);

        const Run same = Cli(QStringList{QStringLiteral("diff"), Path(QStringLiteral("b.json"))} + Link());
        QCOMPARE(same.Status, 0);
        QCOMPARE(same.Out, QString());
        const Run differs = Cli(QStringList{QStringLiteral("diff"), Path(QStringLiteral("a.json"))} + Link());
        QCOMPARE(differs.Status, 1);
        QCOMPARE(differs.Out.count(QLatin1Char('\n')), 2);
        QVERIFY(differs.Out.contains(QStringLiteral("Tpu2DetectorType")) && differs.Out.contains(QStringLiteral("TprKFactor1")));
    }

    // Every bad file is refused as a whole, naming the parameter, with nothing on the line.
    void badFiles_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");  // raw JSON; a field of "" replaces the whole file
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("takenOutOfRange");
        QTest::newRow("not JSON") << "" << "{\"format\": 1," << "not JSON" << false;
        QTest::newRow("format 2") << "" << "{\"format\": 2, \"parameters\": []}" << "format 1" << false;
        QTest::newRow("missing") << "" << "{\"format\": 1, \"parameters\": []}" << "Tpu1KFactor2 (ТПР по ТПУ1" << false;
        QTest::newRow("text for a number") << "TprKFactor1" << "\"1.5\"" << "TprKFactor1" << false;
        QTest::newRow("real for a code") << "Tpu1DetectorCount" << "1.0" << "Tpu1DetectorCount" << false;
        QTest::newRow("negative") << "PackCount" << "-1" << "PackCount" << false;
        QTest::newRow("too large") << "ImitTpuCount" << "4294967296" << "ImitTpuCount" << false;
        QTest::newRow("NaN") << "TqFrequency" << "\"NaN\"" << "TqFrequency" << false;
        QTest::newRow("code not in the list") << "Tpu1DetectorType" << "2" << "0 (НО), 1 (НЗ)" << true;
        QTest::newRow("out of range") << "GenTPeriod" << "50" << "from 100 to 100000" << true;
        QTest::newRow("more decimals") << "PackFrequency" << "100.25" << "at most 1 decimal" << true;
    }
    void badFiles()
    {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(QString, message);
        QFETCH(bool, takenOutOfRange);
        QCOMPARE(Cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), Path(QStringLiteral("a.json"))} + Link()).Status, 0);
        QFile file(Path(QStringLiteral("a.json")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(file.readAll());
        text = field.isEmpty() ? value : WithValue(text, field.toLatin1().constData(), value);
        if (field == QLatin1String("TprKFactor1"))  // an unknown one as well
            text.replace(QStringLiteral("\"field\": \"TprKFactor2\""), QStringLiteral("\"field\": \"TprKFactor3\""));
        Save(QStringLiteral("bad.json"), text);
        device_->ClearLog();

        const Run run = Cli(QStringList{QStringLiteral("write"), Path(QStringLiteral("bad.json"))} + Link());
        QCOMPARE(run.Status, 2);
        QVERIFY2(run.Err.contains(message), qPrintable(run.Err));
        if (!field.isEmpty())
            QVERIFY2(run.Err.contains(QStringLiteral("parameter %1 (").arg(field)) && run.Err.contains(QStringLiteral("is not allowed")),
                     qPrintable(run.Err));
        if (field == QLatin1String("TprKFactor1"))
            QVERIFY2(run.Err.contains(QStringLiteral("unknown parameter (\"field\": \"TprKFactor3\")")), qPrintable(run.Err));
        QCOMPARE(Requests(), 0);

        const Run allowed = Cli(QStringList{QStringLiteral("write"), QStringLiteral("--allow-out-of-range"),
                                            Path(QStringLiteral("bad.json"))} + Link());
        QCOMPARE(allowed.Status, takenOutOfRange ? 0 : 2);
    }

    // A silent device, a busy port and a missing one.
    void failures()
    {
        device_->QueueFault(sim::Fault::NoReply, 10);
        const Run silent = Cli(QStringList{QStringLiteral("read"), QStringLiteral("--timeout"), QStringLiteral("150"),
                                           QStringLiteral("--retries"), QStringLiteral("1")} + Link());
        QCOMPARE(silent.Status, 4);
        QVERIFY2(silent.Err.contains(QStringLiteral("no answer within 150 ms (2 attempts)")), qPrintable(silent.Err));
        QCOMPARE(Requests(), 2);

        TComPort holder;
        holder.SetPort(link_);
        holder.Open();
        const Run busy = Cli(QStringList{QStringLiteral("read")} + Link());
        QCOMPARE(busy.Status, 3);
        QVERIFY2(busy.Err.contains(QStringLiteral("busy")), qPrintable(busy.Err));
        holder.Close();

        const Run missing = Cli({QStringLiteral("read"), QStringLiteral("--port"), Path(QStringLiteral("ttyNone"))});
        QCOMPARE(missing.Status, 3);
        QVERIFY2(missing.Err.contains(QStringLiteral("no such port")), qPrintable(missing.Err));
    }

    // Three rows of the values the simulator sent, under the grid's captions.
    void mode()
    {
        const Run run = Cli(QStringList{QStringLiteral("mode"), QStringLiteral("tpr-tpu1"), QStringLiteral("--start"),
                                        QStringLiteral("--count"), QStringLiteral("3")} + Link());
        QCOMPARE(run.Status, 0);
        QVERIFY(device_->Coil(0));
        const QStringList lines = run.Out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[0].startsWith(QStringLiteral("time,mode,\"Частота, Гц\",Расход,")));
        std::vector<std::vector<uint8_t>> answers;
        for (const sim::LogEntry &e : device_->Log())
            if (e.kind == sim::LogEntry::Reply && e.bytes.size() > 1 && e.bytes[1] == 4)
                answers.push_back(e.bytes);
        QCOMPARE(answers.size(), size_t(3));
        const auto &rows = ModeMapOf(TModeId::TprTpu1).Rows;
        const uint32_t s2Base = WordSwappedCount(answers[0].data() + rows[ModeRows::TprTpuS2Row].Offset);
        for (int i = 0; i < 3; ++i) {
            const QStringList fields = lines[i + 1].split(QLatin1Char(','));
            QCOMPARE(fields.size(), 22);
            QVERIFY(QDateTime::fromString(fields[0], Qt::ISODateWithMs).isValid());
            QCOMPARE(fields[1], QStringLiteral("on"));
            for (int r = 0; r < 20; ++r) {
                const QString expected = r == ModeRows::TprTpuS2Row
                    ? FormatCount(WordSwappedCount(answers[i].data() + rows[r].Offset) - s2Base)
                    : ValueRowPlainText(answers[i].data(), rows[r]);
                QCOMPARE(fields[r + 2], expected);
            }
        }
    }

    // Ctrl+C ends a run without a count cleanly: whole rows, the mode switched off, status 0.
    void interrupted()
    {
        QProcess process;
        process.start(QStringLiteral(KARVEN_CLI_EXE), QStringList{QStringLiteral("mode"), QStringLiteral("tq"),
                                                                   QStringLiteral("--start"), QStringLiteral("--stop")} + Link());
        QByteArray out;
        QDeadlineTimer deadline(20000);
        while (out.count('\n') < 3 && !deadline.hasExpired() && process.waitForReadyRead(int(deadline.remainingTime())))
            out += process.readAllStandardOutput();
        QVERIFY(device_->Coil(4));
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        out += process.readAllStandardOutput();
        QVERIFY(out.endsWith('\n'));
        QVERIFY(!device_->Coil(4));
    }

private:
    QTemporaryDir dir_;
    QString link_;
    std::unique_ptr<sim::SimDevice> device_;
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
