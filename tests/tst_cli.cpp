// karven-cli end to end: the real binary against the device simulator over a pty.
#include "CPort.h"
#include "ConfigText.h"
#include "ModeMap.h"
#include "PtyPair.h"
#include "RecordMaker.h"
#include "RegisterMap.h"
#include "SimFixture.h"
#include "ValueText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Run {
    int Status = -1;
    QString Out;
    QString Err;
};

}  // namespace

class TestCli : public QObject {
    Q_OBJECT

    Run Cli(const QStringList &arguments) { return Finish(QStringLiteral(KARVEN_CLI_EXE), arguments); }
    // A bash script in the test's folder, with the companion as $KC and the port as $PORT.
    Run Shell(const QString &script)
    {
        return Finish(QStringLiteral("bash"), {QStringLiteral("-c"), QStringLiteral("cd \"$DIR\" && ") + script});
    }
    Run Finish(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KC"), QStringLiteral(KARVEN_CLI_EXE));
        env.insert(QStringLiteral("PORT"), link_);
        env.insert(QStringLiteral("DIR"), sim_.Folder());
        process.setProcessEnvironment(env);
        process.start(program, arguments);
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
    QString Path(const QString &name) const { return sim_.Path(name); }
    void Save(const QString &name, const QString &text) { Save(name, text.toUtf8()); }
    void Save(const QString &name, const QByteArray &bytes)
    {
        QFile file(Path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    // Starts `mode ARGUMENTS` and waits for the header and two rows.
    bool StartMode(QProcess &process, const QStringList &arguments)
    {
        process.start(QStringLiteral(KARVEN_CLI_EXE), QStringList{QStringLiteral("mode")} + arguments + Link());
        QByteArray out;
        QDeadlineTimer deadline(20000);
        while (out.count('\n') < 3 && !deadline.hasExpired() && process.waitForReadyRead(int(deadline.remainingTime())))
            out = process.peek(1 << 20);
        return out.count('\n') >= 3;
    }
    int Requests() const { return int(sim_.Requests().size()); }

private slots:
    void init()
    {
        QVERIFY(sim_.Start());
        link_ = sim_.Link();
    }
    void cleanup() { sim_.Discard(); }

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
            QCOMPARE(registers.at(r).toInt(), int(sim_->Holding(r)));

        Save(QStringLiteral("b.json"), WithValue(WithValue(original, "Tpu2DetectorType", QStringLiteral("0")),
                                                 "TprKFactor1", QStringLiteral("1234.56")));
        // At the least time-out: the pty takes the 115-byte request at once, the simulator's
        // line carries it for 132 ms, and the time-out runs from its end.
        QCOMPARE(Cli(QStringList{QStringLiteral("write"), QStringLiteral("--timeout"), QStringLiteral("117"),
                                 Path(QStringLiteral("b.json"))} + Link()).Status, 0);
        QCOMPARE(sim_->Holding(8), uint16_t(0));
        QCOMPARE(sim_->WithModel([](sim::SimModel &m) { return m.HoldingFloat(18); }), 1234.56f);

        const Run same = Cli(QStringList{QStringLiteral("diff"), Path(QStringLiteral("b.json"))} + Link());
        QCOMPARE(same.Status, 0);
        QCOMPARE(same.Out, QString());
        const Run differs = Cli(QStringList{QStringLiteral("diff"), Path(QStringLiteral("a.json"))} + Link());
        QCOMPARE(differs.Status, 1);
        QCOMPARE(differs.Out.count(QLatin1Char('\n')), 2);
        QVERIFY(differs.Out.contains(QStringLiteral("Tpu2DetectorType")) && differs.Out.contains(QStringLiteral("TprKFactor1")));
        // A code is shown with what it means, as the grid shows it.
        QVERIFY2(differs.Out.contains(QStringLiteral("\tfile 1 (НЗ)\tdevice 0 (НО)\n")), qPrintable(differs.Out));
    }

    // Every bad file is refused as a whole, naming the parameter, with nothing on the line;
    // one that is only spelled otherwise is taken.
    void badFiles_data()
    {
        QTest::addColumn<QString>("field");   // "": the whole file is value
        QTest::addColumn<QString>("value");   // raw JSON
        QTest::addColumn<QString>("find");    // then this text is replaced
        QTest::addColumn<QString>("replace");
        QTest::addColumn<QByteArray>("prefix");  // put before the file; "UTF-16": the file in UTF-16
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("outOfRangeStatus");  // with --allow-out-of-range
        const QString packKey = QStringLiteral("\"field\": \"PackCount\", \"value\"");
        QTest::newRow("not JSON") << "" << "{\"format\": 1," << "" << "" << QByteArray() << "not JSON: line 1, column 14" << 2 << 2;
        QTest::newRow("format 2") << "" << "{\"format\": 2, \"parameters\": []}" << "" << "" << QByteArray() << "format 1" << 2 << 2;
        QTest::newRow("missing") << "" << "{\"format\": 1, \"parameters\": []}" << "" << "" << QByteArray()
                                 << "Tpu1KFactor2 (ТПР по ТПУ1" << 2 << 2;
        QTest::newRow("text for a number") << "TprKFactor1" << "\"1.5\"" << "" << "" << QByteArray() << "TprKFactor1" << 2 << 2;
        QTest::newRow("fraction for a code") << "Tpu1DetectorCount" << "1.5" << "" << "" << QByteArray() << "Tpu1DetectorCount"
                                             << 2 << 2;
        QTest::newRow("negative") << "PackCount" << "-1" << "" << "" << QByteArray() << "PackCount" << 2 << 2;
        QTest::newRow("too large") << "ImitTpuCount" << "4294967296" << "" << "" << QByteArray() << "ImitTpuCount" << 2 << 2;
        QTest::newRow("NaN") << "TqFrequency" << "\"NaN\"" << "" << "" << QByteArray() << "TqFrequency" << 2 << 2;
        QTest::newRow("code not in the list") << "Tpu1DetectorType" << "2" << "" << "" << QByteArray() << "0 (НО), 1 (НЗ)" << 2 << 0;
        QTest::newRow("out of range") << "GenTPeriod" << "50" << "" << "" << QByteArray() << "from 100 to 100000" << 2 << 0;
        QTest::newRow("more decimals") << "PackFrequency" << "100.25" << "" << "" << QByteArray() << "at most 1 decimal" << 2 << 0;
        QTest::newRow("byte-order mark and a fraction") << "PackCount" << "5.7" << "" << "" << QByteArray("\xEF\xBB\xBF")
                                                        << "PackCount" << 2 << 2;
        QTest::newRow("escaped key and a fraction") << "PackCount" << "5.7" << packKey << "\"field\": \"PackCount\", \"v\\u0061lue\""
                                                    << QByteArray() << "value 5.7 is not allowed" << 2 << 2;
        QTest::newRow("value twice") << "" << "" << packKey << packKey + ": 3, \"value\"" << QByteArray()
                                     << "\"value\" is given twice in parameter 17 of the list" << 2 << 2;
        QTest::newRow("parameters twice") << "" << "" << "\"format\": 1," << "\"format\": 1, \"parameters\": []," << QByteArray()
                                          << "\"parameters\" is given twice in the file's top level" << 2 << 2;
        QTest::newRow("value missing") << "" << "" << packKey << "\"field\": \"PackCount\", \"valeu\"" << QByteArray()
                                       << "PackCount (Пачка импульсов / Преднабор (N)): the value is missing" << 2 << 2;
        QTest::newRow("over a MiB") << "" << "{}" << "" << "" << QByteArray(1 << 20, ' ') << "larger than 1048576 bytes" << 2 << 2;
        QTest::newRow("999.0 for a whole number") << "PackCount" << "999.0" << "" << "" << QByteArray() << "" << 0 << 0;
        // A refused value is quoted as the file writes it.
        QTest::newRow("beyond a double's digits") << "ImitTpuCount" << "9007199254740993" << "" << "" << QByteArray()
                                                  << "value 9007199254740993 is not allowed" << 2 << 2;
        QTest::newRow("below a double's least") << "TprKFactor2" << "1e-400" << "" << "" << QByteArray()
                                                << "value 1e-400 is not allowed" << 2 << 0;
        QTest::newRow("minus zero") << "Tpu1KFactor2" << "-0.0" << "" << "" << QByteArray() << "value -0.0 is not allowed" << 2 << 0;
        QTest::newRow("all but whole") << "PackCount" << "999999.00000000001" << "" << "" << QByteArray()
                                       << "value 999999.00000000001 is not allowed" << 2 << 2;
        // Nothing after a NUL is passed over; UTF-16 is told as such.
        QTest::newRow("a NUL after the end") << "" << "" << "]\n}\n" << QStringLiteral("]\n}\n") + QChar(0) + "garbage}}}"
                                             << QByteArray() << "not JSON: line 49, column 1: a NUL byte" << 2 << 2;
        QTest::newRow("UTF-16") << "" << "" << "" << "" << QByteArray("UTF-16") << "the file is UTF-16; save it as UTF-8" << 2 << 2;
    }
    void badFiles()
    {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(QString, find);
        QFETCH(QString, replace);
        QFETCH(QByteArray, prefix);
        QFETCH(QString, message);
        QFETCH(int, status);
        QFETCH(int, outOfRangeStatus);
        QCOMPARE(Cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), Path(QStringLiteral("a.json"))} + Link()).Status, 0);
        QFile file(Path(QStringLiteral("a.json")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(file.readAll());
        if (!value.isEmpty())
            text = field.isEmpty() ? value : WithValue(text, field.toLatin1().constData(), value);
        if (!find.isEmpty()) {
            QVERIFY(text.contains(find));
            text.replace(find, replace);
        }
        if (field == QLatin1String("TprKFactor1"))  // an unknown one as well
            text.replace(QStringLiteral("\"field\": \"TprKFactor2\""), QStringLiteral("\"field\": \"TprKFactor3\""));
        if (prefix == "UTF-16")  // little-endian with its byte-order mark, as Windows' editors save it
            Save(QStringLiteral("bad.json"), QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char *>(text.utf16()), 2 * text.size()));
        else
            Save(QStringLiteral("bad.json"), prefix + text.toUtf8());
        sim_->ClearLog();

        const Run run = Cli(QStringList{QStringLiteral("write"), Path(QStringLiteral("bad.json"))} + Link());
        QCOMPARE(run.Status, status);
        QVERIFY2(run.Err.contains(message), qPrintable(run.Err));
        if (status == 0) {
            QCOMPARE(sim_->WithModel([](sim::SimModel &m) { return m.HoldingU32(22); }), 999u);  // PackCount
        } else {
            if (!field.isEmpty() && find.isEmpty())
                QVERIFY2(run.Err.contains(QStringLiteral("parameter %1 (").arg(field)) && run.Err.contains(QStringLiteral("is not allowed")),
                         qPrintable(run.Err));
            QCOMPARE(Requests(), 0);
        }
        if (field == QLatin1String("TprKFactor1"))
            QVERIFY2(run.Err.contains(QStringLiteral("unknown parameter (\"field\": \"TprKFactor3\")")), qPrintable(run.Err));

        const Run allowed = Cli(QStringList{QStringLiteral("write"), QStringLiteral("--allow-out-of-range"),
                                            Path(QStringLiteral("bad.json"))} + Link());
        QCOMPARE(allowed.Status, outOfRangeStatus);
    }

    // A silent device, a busy port and a missing one.
    void failures()
    {
        sim_->QueueFault(sim::Fault::NoReply, 10);
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

        // A program that holds the port without a lock is named when the answers do not come.
        QProcess sharer;
        sharer.setStandardInputFile(link_);
        sharer.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(sharer.waitForStarted());
        sim_->QueueFault(sim::Fault::NoReply, 1);
        const Run shared = Cli(QStringList{QStringLiteral("read"), QStringLiteral("--timeout"), QStringLiteral("150"),
                                           QStringLiteral("--retries"), QStringLiteral("0")} + Link());
        const qint64 sharerPid = sharer.processId();
        sharer.kill();
        sharer.waitForFinished();
        QVERIFY2(shared.Err.contains(QStringLiteral("the port is open in sleep (pid %1) as well").arg(sharerPid)), qPrintable(shared.Err));

        // Without --port: the port chosen is named, or the choice is left to the user.
        qputenv("XDG_RUNTIME_DIR", sim_.Folder().toUtf8());
        const Run chosen = Cli({QStringLiteral("read"), QStringLiteral("--table")});
        QVERIFY2(chosen.Err.contains(QStringLiteral("port %1 (the only one found)").arg(link_))
                     || (chosen.Status == 2 && chosen.Err.contains(QStringLiteral("choose one with --port")) && chosen.Err.contains(link_)),
                 qPrintable(chosen.Err));
        qunsetenv("XDG_RUNTIME_DIR");
        const Run ports = Cli({QStringLiteral("ports")});
        QCOMPARE(ports.Status, 0);
        QCOMPARE(ports.Err, QString());
    }

    // A real the device holds as no number is saved as null, compared as such, and
    // restored word for word from the file's registers.
    void nullReal()
    {
        sim_->WithModel([](sim::SimModel &m) { m.SetHoldingU32(18, 0x7FC01234); });  // TprKFactor1
        QCOMPARE(Cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), Path(QStringLiteral("a.json"))} + Link()).Status, 0);
        QFile file(Path(QStringLiteral("a.json")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("\"field\": \"TprKFactor1\", \"value\": null"));
        const QStringList diff = QStringList{QStringLiteral("diff"), Path(QStringLiteral("a.json"))} + Link();
        QCOMPARE(Cli(diff).Status, 0);

        sim_->WithModel([](sim::SimModel &m) { m.SetHoldingFloat(18, 5); });
        const Run differs = Cli(diff);
        QCOMPARE(differs.Status, 1);
        QVERIFY2(differs.Out.contains(QStringLiteral("file null\tdevice 5\n")), qPrintable(differs.Out));
        const Run refused = Cli(QStringList{QStringLiteral("write"), Path(QStringLiteral("a.json"))} + Link());
        QCOMPARE(refused.Status, 2);
        QVERIFY2(refused.Err.contains(QStringLiteral("with --allow-out-of-range the words the file's registers hold")), qPrintable(refused.Err));
        QCOMPARE(Cli(QStringList{QStringLiteral("write"), QStringLiteral("--allow-out-of-range"), Path(QStringLiteral("a.json"))} + Link()).Status, 0);
        QCOMPARE(sim_->WithModel([](sim::SimModel &m) { return m.HoldingU32(18); }), 0x7FC01234u);
    }

    // Three rows of the values the simulator sent, under the grid's captions.
    void mode()
    {
        const Run run = Cli(QStringList{QStringLiteral("mode"), QStringLiteral("tpr-tpu1"), QStringLiteral("--start"),
                                        QStringLiteral("--count"), QStringLiteral("3")} + Link());
        QCOMPARE(run.Status, 0);
        QVERIFY(sim_->Coil(0));
        const QStringList lines = run.Out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[0].startsWith(QStringLiteral("time,mode,\"Частота, Гц\",Расход,")));
        std::vector<std::vector<uint8_t>> answers;
        for (const sim::LogEntry &e : sim_->Log())
            if (e.Kind == sim::LogEntry::Reply && e.Bytes.size() > 1 && e.Bytes[1] == 4)
                answers.push_back(e.Bytes);
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

        // A real that is no number, as programs that read CSV take it (TQ's values stay as
        // the simulator was given them while the mode is off).
        sim_->WithModel([](sim::SimModel &m) {
            m.SetInput(110, 0x0000);  // the K-factor's words: -inf
            m.SetInput(111, 0xFF80);
        });
        const Run tq = Cli(QStringList{QStringLiteral("mode"), QStringLiteral("tq"), QStringLiteral("--count"), QStringLiteral("1")} + Link());
        QCOMPARE(tq.Status, 0);
        QVERIFY2(tq.Out.endsWith(QStringLiteral(",off,0,0,-inf\n")), qPrintable(tq.Out));

        // JSON lines: the rows' ASCII keys in the grid's order, the values at full precision.
        sim_->ClearLog();
        const Run json = Cli(QStringList{QStringLiteral("mode"), QStringLiteral("tpr-tpu1"), QStringLiteral("--json"),
                                         QStringLiteral("--count"), QStringLiteral("1")} + Link());
        QCOMPARE(json.Status, 0);
        const auto log = sim_->Log();
        const auto reply = std::find_if(log.rbegin(), log.rend(), [](const sim::LogEntry &e) {
            return e.Kind == sim::LogEntry::Reply && e.Bytes.size() > 1 && e.Bytes[1] == 4;
        });
        QVERIFY(reply != log.rend());
        QStringList keys, expectedKeys;
        for (const QRegularExpressionMatch &m : QRegularExpression(QStringLiteral("\"(\\w+)\":")).globalMatch(json.Out.section(QStringLiteral("\"values\":"), 1)))
            keys << m.captured(1);
        for (const TValueRow &row : rows)
            expectedKeys << QLatin1String(row.Key);
        QCOMPARE(keys, expectedKeys);
        const QJsonObject values = QJsonDocument::fromJson(json.Out.toUtf8()).object().value(QStringLiteral("values")).toObject();
        QCOMPARE(float(values.value(QStringLiteral("frequency_hz")).toDouble()), WordSwappedFloat(reply->Bytes.data() + rows[0].Offset));
    }

    // Once started, every ending of a run stops the mode, and says so when it went wrong.
    void modeEndings_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<int>("status");  // -1: the process ended by the signal
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("stopped");  // the coil is off after: 1, on: 0, either: -1
        QTest::newRow("count") << "count" << 0 << "" << 1;
        QTest::newRow("duration") << "duration" << 0 << "" << 1;
        QTest::newRow("Ctrl+C") << "INT" << 0 << "" << 1;
        QTest::newRow("SIGTERM") << "TERM" << 0 << "" << 1;
        QTest::newRow("SIGHUP") << "HUP" << 0 << "" << 1;
        QTest::newRow("closed pipe") << "pipe" << 0 << "" << 1;
        QTest::newRow("silent device") << "silent" << 4 << "no answer within 300 ms (3 attempts)\nmode tq was stopped" << 1;
        QTest::newRow("unplugged") << "unplug" << 4 << "the port is gone" << 0;
        QTest::newRow("Ctrl+C in an answer wait") << "INT wait" << 0 << "" << 1;
        QTest::newRow("Ctrl+C twice") << "INT twice" << -1 << "" << -1;
    }
    void modeEndings()
    {
        QFETCH(QString, ending);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(int, stopped);
        const bool waits = ending.startsWith(QLatin1String("INT "));
        QStringList arguments{QStringLiteral("tq"), QStringLiteral("--start"), QStringLiteral("--stop"),
                              QStringLiteral("--timeout"), waits ? QStringLiteral("5000") : QStringLiteral("300")};
        if (waits)
            arguments << QStringLiteral("--trace");
        Run run;
        if (ending == QLatin1String("count") || ending == QLatin1String("duration")) {
            run = Cli(QStringList{QStringLiteral("mode")} + arguments + Link()
                      + (ending == QLatin1String("count") ? QStringList{QStringLiteral("--count"), QStringLiteral("3")}
                                                          : QStringList{QStringLiteral("--duration"), QStringLiteral("0.5")}));
        } else if (ending == QLatin1String("pipe")) {
            run = Shell(QStringLiteral("\"$KC\" mode %1 --port \"$PORT\" | head -3; exit ${PIPESTATUS[0]}").arg(arguments.join(QLatin1Char(' '))));
        } else {
            QProcess process;
            QVERIFY(StartMode(process, arguments));
            QVERIFY(sim_->Coil(4));
            const auto pid = pid_t(process.processId());
            QElapsedTimer clock;
            if (waits) {
                // Once the device has swallowed a request and the trace ends with it sent, the
                // run waits for its answer.
                sim_->QueueFault(sim::Fault::NoReply, 100);
                QByteArray trace;
                QVERIFY(QTest::qWaitFor([&] {
                    const auto log = sim_->Log();
                    trace += process.readAllStandardError();
                    return std::any_of(log.begin(), log.end(), [](const sim::LogEntry &e) { return e.Fault == sim::Fault::NoReply; })
                        && trace.endsWith('\n') && trace.mid(trace.lastIndexOf('\n', -2) + 1).contains(" ms -> ");
                }, 10000));
                if (ending == QLatin1String("INT wait"))
                    sim_->ClearFaults();
                clock.start();
                ::kill(pid, SIGINT);
                if (ending == QLatin1String("INT twice")) {
                    QTest::qWait(300);
                    ::kill(pid, SIGINT);
                }
            } else if (ending == QLatin1String("silent")) {
                sim_->QueueFault(sim::Fault::NoReply, 3);
            } else if (ending == QLatin1String("unplug")) {
                sim_->HangUpNow();
            } else {
                ::kill(pid, ending == QLatin1String("INT") ? SIGINT : ending == QLatin1String("TERM") ? SIGTERM : SIGHUP);
            }
            QVERIFY(process.waitForFinished(30000));
            // The 5000 ms time-out and its retries are not waited out.
            if (waits)
                QVERIFY2(clock.elapsed() < 3000, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
            run.Status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
            run.Out = QString::fromUtf8(process.readAllStandardOutput());
            run.Err = QString::fromUtf8(process.readAllStandardError())
                          .remove(QRegularExpression(QStringLiteral("^ +\\d+\\.\\d ms (->|<-) .*\n"), QRegularExpression::MultilineOption));
        }
        QCOMPARE(run.Status, status);
        QVERIFY2(run.Err.contains(message), qPrintable(run.Err));
        if (status == 0)
            QVERIFY(run.Out.endsWith(QLatin1Char('\n')) && run.Err.isEmpty());
        if (stopped >= 0)
            QCOMPARE(sim_->Coil(4), stopped == 0);
    }

    // A request to end the run ends it at once while its output waits for a reader: a full
    // pipe nobody reads, a FIFO nobody opens. A mode that was started is still stopped.
    void stalledOutputs_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("status");
        QTest::newRow("mode lines into a full pipe, SIGTERM") << QStringList{"mode", "tq", "--start", "--stop", "--json"} << SIGTERM << 0;
        QTest::newRow("read into a full pipe, Ctrl+C") << QStringList{"read"} << SIGINT << 128 + SIGINT;
        QTest::newRow("-o a FIFO without a reader, SIGTERM") << QStringList{"read", "-o", "FIFO"} << SIGTERM << 128 + SIGTERM;
        QTest::newRow("-o a FIFO without a reader, Ctrl+C") << QStringList{"read", "-o", "FIFO"} << SIGINT << 128 + SIGINT;
    }
    void stalledOutputs()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, signal);
        QFETCH(int, status);
        const QString fifo = Path(QStringLiteral("fifo-%1").arg(QTest::currentDataTag()).remove(QLatin1Char(' ')));
        arguments.replaceInStrings(QStringLiteral("FIFO"), fifo);
        if (arguments.contains(fifo))
            QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        // A pipe of one page, full before the companion starts; nobody reads it.
        int pipe[2];
        QCOMPARE(::pipe2(pipe, O_CLOEXEC | O_NONBLOCK), 0);
        ::fcntl(pipe[1], F_SETPIPE_SZ, 4096);
        while (::write(pipe[1], "x", 1) == 1) {
        }
        ::fcntl(pipe[1], F_SETFL, 0);
        QProcess process;
        process.setChildProcessModifier([&] { ::dup2(pipe[1], 1); });
        process.setReadChannel(QProcess::StandardError);
        process.start(QStringLiteral(KARVEN_CLI_EXE), arguments + Link() + QStringList{QStringLiteral("--trace")});
        // Both answers in: the companion goes on to its output, and waits there.
        QByteArray trace;
        QDeadlineTimer deadline(20000);
        while (trace.count("<- ") < 2 && !deadline.hasExpired() && process.waitForReadyRead(int(deadline.remainingTime())))
            trace += process.readAllStandardError();
        QVERIFY2(trace.count("<- ") >= 2, trace.constData());
        QTest::qWait(500);
        QCOMPARE(process.state(), QProcess::Running);
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(process.processId()), signal);
        const bool ended = process.waitForFinished(5000);
        ::close(pipe[0]);
        ::close(pipe[1]);
        if (!ended) {
            process.kill();
            process.waitForFinished();
        }
        QVERIFY2(ended && clock.elapsed() < 3000, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), status);
        QVERIFY(!sim_->Coil(4));
    }

    // No output that fails is taken for a success; -o replaces a regular file as a whole,
    // keeping its permissions, follows a link, and writes into what is no regular file.
    void outputs_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("out");
        const QString read = QStringLiteral("\"$KC\" read --port \"$PORT\" ");
        QTest::newRow("standard output full") << read + "> /dev/full" << 2 << "standard output: no space left" << "";
        QTest::newRow("standard output closed") << read + ">&-" << 2 << "standard output: it is closed" << "";
        QTest::newRow("mode log into a full output") << "\"$KC\" mode tq --count 1 --port \"$PORT\" > /dev/full"
                                                     << 2 << "standard output: no space left" << "";
        QTest::newRow("-o on a full device") << read + "-o /dev/full" << 2 << "/dev/full: cannot write" << "";
        QTest::newRow("-o through a link") << "echo old > t.json && ln -s t.json l.json && " + read
                                                  + "-o l.json && test -L l.json && grep -c '\"format\": 1' t.json"
                                           << 0 << "" << "1\n";
        QTest::newRow("-o keeps 0600") << "echo old > p.json && chmod 600 p.json && " + read + "-o p.json && stat -c %a p.json"
                                       << 0 << "" << "600\n";
        QTest::newRow("-o makes a file by the umask") << "umask 027 && " + read + "-o n.json && stat -c %a n.json" << 0 << "" << "640\n";
        QTest::newRow("-o into a FIFO") << "mkfifo f && { cat f > got & } && " + read
                                               + "-o f && wait && test -p f && grep -c '\"format\": 1' got"
                                        << 0 << "" << "1\n";
        QTest::newRow("-o /dev/stdout") << read + "-o /dev/stdout | grep -c '\"format\": 1'" << 0 << "" << "1\n";
        // A backup is written whole or not at all: on a full disk (a file-size limit) the
        // earlier file stays and nothing is left beside it.
        const QString full = QStringLiteral("trap '' XFSZ && (ulimit -f 4 && ") + read;
        QTest::newRow("-o over a file on a full disk") << "mkdir f1 && cd f1 && echo old > b.json && " + full
                                                              + "-o b.json); s=$?; cat b.json; ls -A; exit $s"
                                                       << 2 << "b.json: cannot write: no space left on the device" << "old\nb.json\n";
        QTest::newRow("-o a new file on a full disk") << "mkdir f2 && cd f2 && " + full + "-o n.json); s=$?; ls -A; exit $s"
                                                      << 2 << "n.json: cannot write: no space left on the device" << "";
        QTest::newRow("-o over a regular file in /dev/shm on a full disk")
            << "f=$(mktemp /dev/shm/karven-XXXXXX) && echo old > $f && " + full
                   + "-o $f); s=$?; cat $f; rm $f; ls -A /dev/shm | grep -c karven; exit $s"
            << 2 << "cannot write: no space left on the device" << "old\n0\n";
        QTest::newRow("-o keeps 0000") << "echo old > z.json && chmod 000 z.json && " + read + "-o z.json && stat -c %a z.json"
                                       << 0 << "" << "0\n";
        if (::geteuid() == 0)
            QTest::newRow("-o keeps the owner") << "echo old > o.json && chown 65534:65534 o.json && chmod 640 o.json && " + read
                                                       + "-o o.json && stat -c %u:%g:%a o.json"
                                                << 0 << "" << "65534:65534:640\n";
        QTest::newRow("-o into a link loop") << "ln -s loop1 loop2 && ln -s loop2 loop1 && " + read + "-o loop1"
                                             << 2 << "loop1: cannot write: its symbolic links lead round in a loop" << "";
        // Standard output by any of its names is written where it stands.
        QTest::newRow("-o /dev/stdout appends") << "echo LOG > log.txt && " + read + "-o /dev/stdout >> log.txt && head -1 log.txt"
                                                       " && grep -c '\"format\": 1' log.txt"
                                                << 0 << "" << "LOG\n1\n";
        QTest::newRow("-o /dev/fd/1 between two lines") << "{ echo HEADER; " + read + "-o /dev/fd/1; echo FOOTER; } > hf.txt && "
                                                           "head -1 hf.txt && tail -1 hf.txt && grep -c '\"format\": 1' hf.txt"
                                                        << 0 << "" << "HEADER\nFOOTER\n1\n";
        QTest::newRow("-o - closed") << read + "-o - >&-" << 2 << "standard output: it is closed" << "";
        QTest::newRow("-o /dev/stdout closed") << read + "-o /dev/stdout >&-" << 2 << "standard output: it is closed" << "";
        QTest::newRow("diff with nothing to print, output closed") << read + "-o same.json && \"$KC\" diff --port \"$PORT\" same.json >&-"
                                                                   << 0 << "" << "";
    }
    void outputs()
    {
        QFETCH(QString, script);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(QString, out);
        const Run run = Shell(script);
        QCOMPARE(run.Status, status);
        QVERIFY2(run.Err.contains(message), qPrintable(run.Err));
        QCOMPARE(run.Out, out);
    }

    // A write that fails says whether the device confirmed it.
    void writeFailures_data()
    {
        QTest::addColumn<int>("goodReplies");  // before three swallowed requests
        QTest::addColumn<QString>("message");
        QTest::newRow("no echo") << 0 << "writing registers 0..52 on port %1: no answer within 400 ms (3 attempts)\n"
                                         "the device did not confirm the write";
        QTest::newRow("read-back fails") << 1 << "reading registers 0..37 on port %1: no answer within 400 ms (3 attempts)\n"
                                                "the device confirmed the write; reading the values back failed, so they are written, not verified";
    }
    void writeFailures()
    {
        QFETCH(int, goodReplies);
        QFETCH(QString, message);
        QCOMPARE(Cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), Path(QStringLiteral("a.json"))} + Link()).Status, 0);
        if (goodReplies)
            sim_->QueueFault(sim::Fault::None, goodReplies);
        sim_->QueueFault(sim::Fault::NoReply, 3);
        // Over a pty the 115-byte request is sent at once and takes its 132 ms on the
        // simulator's line after that: the time-out leaves room for it.
        const Run run = Cli(QStringList{QStringLiteral("write"), QStringLiteral("--timeout"), QStringLiteral("400"),
                                        Path(QStringLiteral("a.json"))} + Link());
        QCOMPARE(run.Status, 4);
        QVERIFY2(run.Err.contains(message.arg(link_)), qPrintable(run.Err));
    }

    // On a line that never falls quiet (a byte every 2 ms) a request waits for the quiet, the
    // first after the port opens too. The frames the trace shows sent are those that reached
    // the line, and each message says whether its request was sent.
    void noisyLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("requests");  // "what is asked|its frame's first bytes", of each that failed
        QTest::addColumn<QString>("notSent");       // what the first's message adds when it was not sent
        QTest::newRow("write") << QStringList{"write", "a.json"} << QStringList{"writing registers 0..52|0A1000000035"}
                               << "the write was not sent: the device holds the values it held before";
        QTest::newRow("mode started and stopped") << QStringList{"mode", "tq", "--start", "--stop"}
                                                  << QStringList{"starting mode tq|0A050004FF00", "stopping mode tq|0A0500040000"} << "";
        QTest::newRow("read") << QStringList{"read"} << QStringList{"reading registers 0..37|0A0300000026"} << "";
    }
    void noisyLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, requests);
        QFETCH(QString, notSent);
        QCOMPARE(Cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), Path(QStringLiteral("a.json"))} + Link()).Status, 0);
        PtyPair pty;
        QVERIFY(pty.IsOpen() && pty.HoldSlave());
        PtyNoise noise(pty, 2);
        const Run run = Cli(arguments.replaceInStrings(QStringLiteral("a.json"), Path(QStringLiteral("a.json")))
                            + QStringList{QStringLiteral("--port"), pty.SlavePath(), QStringLiteral("--timeout"), QStringLiteral("200"),
                                          QStringLiteral("--trace")});
        const QByteArray wire = noise.Stop();
        QCOMPARE(run.Status, 4);
        QByteArray traced;
        for (const QRegularExpressionMatch &m :
             QRegularExpression(QStringLiteral("^ +\\d+\\.\\d ms -> ([0-9A-F ]+)$"), QRegularExpression::MultilineOption).globalMatch(run.Err))
            traced += QByteArray::fromHex(m.captured(1).toLatin1());
        QCOMPARE(traced.toHex(' '), wire.toHex(' '));
        for (const QString &request : requests) {
            const bool sent = wire.contains(QByteArray::fromHex(request.section(QLatin1Char('|'), 1).toLatin1()));
            const QString message = run.Err.section(request.section(QLatin1Char('|'), 0, 0) + QStringLiteral(" on port "), 1).section(QLatin1Char('\n'), 0, 0);
            // Sent: its attempts are counted; not sent: it says so.
            QVERIFY2(sent ? message.contains(QRegularExpression(QStringLiteral("\\(\\d+ attempts?[;)]")))
                                && !message.contains(QRegularExpression(QStringLiteral("not sent(;|$)|could be sent")))
                          : message.contains(QRegularExpression(QStringLiteral(": the line is never quiet: \\d+ bytes came within 200 ms, "
                                                                               "so the request was not sent(;|$)"))),
                     qPrintable(run.Err));
            if (request == requests.first() && !notSent.isEmpty())
                QCOMPARE(run.Err.contains(QLatin1Char('\n') + notSent + QLatin1Char('\n')), !sent);
        }
    }

    // A bad command line is refused in the tool's words, naming what is wrong, with nothing
    // sent; a port that is no serial port gets a plain cause.
    void refusals_data()
    {
        QTest::addColumn<QStringList>("arguments");  // PORT stands for the simulator's port
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QString port = QStringLiteral("--port");
        QTest::newRow("write without --port") << QStringList{"write", "a.json"} << 2 << "write needs --port NAME";
        QTest::newRow("one file too many") << QStringList{"write", port, "PORT", "a.json", "b.json"} << 2 << "\"b.json\" is one too many";
        QTest::newRow("an argument to read") << QStringList{"read", "x.json"} << 2 << "read takes no argument; \"x.json\" is one too many";
        QTest::newRow("unknown option") << QStringList{"read", "--colour"} << 2 << "read: unknown option --colour (karven-cli read --help";
        QTest::newRow("time-out of the answer's line time") << QStringList{"read", port, "PORT", "--timeout", "110"} << 2
            << "after the 4 ms of quiet that end a request and a turnaround margin of 20 ms, the longest answer of read takes 93 ms "
               "on the line, so the least time-out is 117";
        QTest::newRow("time-out below a mode's") << QStringList{"mode", "tpr-tpu1", port, "PORT", "--timeout", "98"} << 2 << "least time-out is 122";
        QTest::newRow("port name with a newline") << QStringList{"read", port, "ttyX\nY"} << 3 << "cannot open port \"ttyX\\nY\": there is no such";
        QTest::newRow("duration inf") << QStringList{"mode", "tq", port, "PORT", "--duration", "inf"} << 2 << "--duration takes seconds";
        QTest::newRow("count 0") << QStringList{"mode", "tq", port, "PORT", "--count", "0"} << 2 << "--count takes rows";
        QTest::newRow("retries 11") << QStringList{"read", port, "PORT", "--retries", "11"} << 2 << "from 0 to 10";
        QTest::newRow("endless file") << QStringList{"write", port, "PORT", "/dev/zero"} << 2 << "larger than 1048576 bytes";
        QTest::newRow("regular file as port") << QStringList{"read", port, "a.json"} << 3 << "it is a regular file, not a serial port";
        QTest::newRow("folder as port") << QStringList{"read", port, "."} << 3 << "it is a directory, not a serial port";
        QTest::newRow("null device as port") << QStringList{"read", port, "/dev/null"} << 3 << "/dev/null: it is not a serial port";
        QTest::newRow("empty -o") << QStringList{"read", port, "PORT", "-o", ""} << 2 << "--output names no file";
        QTest::newRow("empty --output=") << QStringList{"read", port, "PORT", "--output="} << 2 << "--output names no file";
    }
    void refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        Save(QStringLiteral("a.json"), QStringLiteral("{}"));
        for (QString &argument : arguments)
            argument = argument == QLatin1String("PORT") ? link_ : argument == QLatin1String("a.json") ? Path(argument)
                     : argument == QLatin1String(".") ? sim_.Folder() : argument;
        sim_->ClearLog();
        const Run run = Cli(arguments);
        QCOMPARE(run.Status, status);
        QVERIFY2(run.Err.contains(message) && !run.Err.contains(QStringLiteral("win error")), qPrintable(run.Err));
        QCOMPARE(Requests(), 0);
    }

    // passes: a record of four passes set at the detector on channel 2 (named so), K = N / 10.
    void passes_data()
    {
        QTest::addColumn<QStringList>("arguments");  // REC: the record, CONF: a configuration; "<": a shell's
        QTest::addColumn<QString>("config");         // "field=value", changed in the device's configuration
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const QString v = QStringLiteral("--volume"), v12 = QStringLiteral("1-2=10");
        const QString table = QStringLiteral("1,1-2,1-2,5.0000,10.0000,12,1234.56,5.0000,246.912,10.00000,7.2000,14.8150,123.4560,-0.0024,"
                                             "included,\n");
        QTest::newRow("default build") << QStringList{"passes", "REC", v, v12} << "" << 0 << table << "set at the closing detector";
        QTest::newRow("series") << QStringList{"passes", "REC", v, v12} << "" << 0
                                << "\nseries,n,k_mean_per_l,sko_percent,range_percent,limit_percent,limit_of,verdict,update\n"
                                   "1-2,4,123.4590,0.0021,0.0049,,range,none,detector\n" << "";
        QTest::newRow("limit holds") << QStringList{"passes", "REC", v, v12, "--limit", "0.005"} << "" << 0 << ",0.0050,range,holds," << "";
        QTest::newRow("limit fails") << QStringList{"passes", "REC", v, v12, "--limit=0.002", "--limit-of", "sko"} << "" << 1
                                     << ",0.0020,sko,fails," << "";
        QTest::newRow("m3, excluded") << QStringList{"passes", "REC", v, "1-2=0.01", "--unit", "m3", "--exclude", "1,3"} << "" << 0
                                      << "1,1-2,1-2,5.0000,10.0000,12,1234.56,5.0000,246.912,0.01000,7.2000,14.8150,123456.0000,,excluded,\n"
                                      << "";
        QTest::newRow("span") << QStringList{"passes", "REC", v, v12, "--from", "12", "--to", "30"} << "" << 0
                              << ",1-2,1-2,5.0000,10.0000,12,1234.56,5.0000,,,,,,,cut,outside-span\n1,1-2,1-2,13.0000" << "";
        QTest::newRow("from standard input") << QStringList{"passes", "-", v, v12, "<", "REC"} << "" << 0 << table << "";
        QTest::newRow("config: over 2 passes") << QStringList{"passes", "REC", "--config", "CONF", v, "1-2=5"} << "Tpu2SumMethod=1" << 0
                                               << "1,1-2,1-2+1-2,5.0000,18.0000,20,2469.14,10.0000" << "";
        QTest::newRow("config: code off its list") << QStringList{"passes", "REC", "--config", "CONF", v, v12} << "Tpu2TpuType=2" << 2 << ""
                                                   << "ТПР по ТПУ2 / Тип ТПУ of channel 2 holds code 2, outside its list";
        QTest::newRow("config and options") << QStringList{"passes", "REC", "--config", "CONF", "--detectors", "4", v, v12} << "" << 2
                                            << "" << "--detectors, --directions and --sum-method are not taken with it";
        QTest::newRow("no volume") << QStringList{"passes", "REC"} << "" << 2 << "" << "--volume 1-2=V is needed";
        QTest::newRow("4 detectors, one volume") << QStringList{"passes", "REC", "--detectors", "4", v, v12} << "" << 2 << ""
                                                 << "--volume 3-4=V is needed too";
        QTest::newRow("volume twice") << QStringList{"passes", "REC", v, v12, v, v12} << "" << 2 << "" << "--volume 1-2 is given twice";
        QTest::newRow("no such measurement") << QStringList{"passes", "REC", v, v12, "--exclude", "5"} << "" << 2 << ""
                                             << "--exclude 5: the record has 4 measurements";
        QTest::newRow("another mode's record") << QStringList{"passes", "tq.csv", v, v12} << "" << 2 << ""
                                               << "tq.csv: refused: line 1 is the header of a record of mode tq";
        QTest::newRow("a bad field") << QStringList{"passes", "bad.csv", v, v12} << "" << 2 << ""
                                     << "bad.csv: refused: line 3, field 9 (t12_us): \"1e3\" is not a whole number";
    }
    void passes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, config);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        TProverScript script;
        script.Lead = 2;
        for (int i = 0; i < 4; ++i)
            script.Passes.push_back({0, 1234.56 + 0.02 * i, 5, 3});
        const TRecordMaker record = Play(script);
        const QString name = QStringLiteral("ТПР по ТПУ2 2026-12-09 08-00-00.csv");
        QVERIFY(record.Save(Path(name)));
        QList<QByteArray> lines = record.Text().split('\n');
        QList<QByteArray> fields = lines[2].split(',');
        fields[8] = "1e3";  // t12_us
        lines[2] = fields.join(',');
        Save(QStringLiteral("bad.csv"), lines.join('\n'));
        Save(QStringLiteral("tq.csv"), TModeRecordRows(ModeMapOf(TModeId::Tq)).CsvHeader());
        if (arguments.contains(QStringLiteral("CONF"))) {
            QCOMPARE(Cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), Path(QStringLiteral("c.json"))} + Link()).Status, 0);
            QFile file(Path(QStringLiteral("c.json")));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QString text = QString::fromUtf8(file.readAll());
            if (!config.isEmpty())
                text = WithValue(text, config.section(QLatin1Char('='), 0, 0).toLatin1().constData(), config.section(QLatin1Char('='), 1));
            Save(QStringLiteral("c.json"), text);
        }
        for (QString &argument : arguments)
            argument = argument == QLatin1String("REC") ? Path(name) : argument == QLatin1String("CONF") ? Path(QStringLiteral("c.json"))
                     : argument.endsWith(QLatin1String(".csv")) ? Path(argument) : argument;
        Run run;
        if (arguments.contains(QStringLiteral("<"))) {
            QStringList quoted;
            for (const QString &argument : arguments)
                quoted << (argument == QLatin1String("<") ? argument : QLatin1Char('\'') + argument + QLatin1Char('\''));
            run = Shell(QStringLiteral("\"$KC\" ") + quoted.join(QLatin1Char(' ')));
        } else {
            run = Cli(arguments);
        }
        QCOMPARE(run.Status, status);
        QVERIFY2(run.Out.contains(out), qPrintable(run.Out));
        QVERIFY2(run.Err.contains(err), qPrintable(run.Err));
        if (status != 0 && status != 1)
            QVERIFY(run.Out.isEmpty());
    }

private:
    SimFixture sim_;
    QString link_;
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
