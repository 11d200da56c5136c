// The command-line companion's exchange engine against the device simulator over a pty:
// retries, exception replies, time-outs, the silence between frames, and how soon an
// answer is acted on.
#include "CPort.h"
#include "PtyPair.h"
#include "ExchangeResults.h"
#include "SimFixture.h"
#include "Transaction.h"
#include "modbus.h"

#include <QtTest>

#include <memory>
#include <thread>

namespace {

QByteArray Request(uint8_t function, uint16_t first, uint16_t second)
{
    const auto frame = BuildShortRequest(function, first, second);
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
}

// A frame with its CRC, high byte first.
QByteArray WithCrc(QByteArray body)
{
    const uint16_t crc = ModbusCrc16(reinterpret_cast<const uint8_t *>(body.constData()), uint16_t(body.size()));
    return body + char(crc >> 8) + char(crc & 0xFF);
}

}  // namespace

class TestTransaction : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(sim_.Start());
        port_ = std::make_unique<TComPort>();
        port_->SetPort(sim_.Link());
    }
    void cleanup()
    {
        port_.reset();
        sim_.Discard();
    }

    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("faults");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<int>("exception");
        QTest::addColumn<QStringList>("notes");  // what the trace says of each frame that came
        const QByteArray read = Request(3, 0, 38);
        const auto none = int(sim::Fault::None);
        QTest::newRow("answer") << read << none << 0 << int(TExchangeOutcome::Answer) << 1 << 0 << QStringList{""};
        QTest::newRow("no reply, then one") << read << int(sim::Fault::NoReply) << 1 << int(TExchangeOutcome::Answer) << 2 << 0
                                              << QStringList{"time-out", ""};
        QTest::newRow("bad CRC, then good") << read << int(sim::Fault::BadCrc) << 1 << int(TExchangeOutcome::Answer) << 2 << 0
                                              << QStringList{"bad CRC", ""};
        QTest::newRow("CRC low byte first twice") << read << int(sim::Fault::CrcLowHigh) << 2 << int(TExchangeOutcome::Answer) << 3 << 0
                                                    << QStringList{"bad CRC", "bad CRC", ""};
        QTest::newRow("answer in chunks") << read << int(sim::Fault::Split) << 1 << int(TExchangeOutcome::Answer) << 1 << 0
                                          << QStringList{""};
        QTest::newRow("silent") << read << int(sim::Fault::NoReply) << 3 << int(TExchangeOutcome::NoAnswer) << 3 << 0
                                 << QStringList{"time-out", "time-out", "time-out"};
        QTest::newRow("exception: address") << Request(3, 50, 10) << none << 0 << int(TExchangeOutcome::Exception) << 1 << 2
                                             << QStringList{"exception"};
        QTest::newRow("exception: function") << Request(6, 0, 1) << none << 0 << int(TExchangeOutcome::Exception) << 1 << 1
                                              << QStringList{"exception"};
        QTest::newRow("coil echo") << Request(5, 2, 0xFF00) << none << 0 << int(TExchangeOutcome::Answer) << 1 << 0
                                   << QStringList{""};
    }
    void outcomes()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, fault);
        QFETCH(int, faults);
        QFETCH(int, outcome);
        QFETCH(int, attempts);
        QFETCH(int, exception);
        QFETCH(QStringList, notes);
        if (faults)
            sim_->QueueFault(sim::Fault(fault), faults);
        QStringList trace;
        // A time-out well above the slowest row (the answer in chunks takes about 175 ms),
        // so that a loaded machine does not count an extra attempt.
        TTransaction transaction(*port_, {1000, 2, DefaultSilenceMs, [&](const TTraceFrame &frame) { trace << TraceFrameText(frame); }});
        transaction.Open();
        const TExchangeResult result = transaction.Exchange(request);
        QCOMPARE(int(result.Outcome), outcome);
        QCOMPARE(result.Attempts, attempts);
        QCOMPARE(int(result.ExceptionCode), exception);
        QCOMPARE(trace.filter(QRegularExpression(QStringLiteral("^ +\\d+\\.\\d ms -> "))).size(), attempts);
        static const QRegularExpression came(QStringLiteral("^ +\\d+\\.\\d ms <- [0-9A-F ]*?(?:  \\((.*)\\))?$"));
        QStringList noted;
        for (const QString &line : std::as_const(trace))
            if (const QRegularExpressionMatch m = came.match(line); m.hasMatch())
                noted << m.captured(1);
        QCOMPARE(noted, notes);
        if (exception)
            QVERIFY(ExchangeResultText(result, 1000).contains(ModbusExceptionName(uint8_t(exception))));
        if (outcome == int(TExchangeOutcome::Answer)) {
            // The answer is the one the simulator sent last, with a good CRC.
            const auto log = sim_->Log();
            const auto reply = std::find_if(log.rbegin(), log.rend(), [](const sim::LogEntry &e) { return e.Kind == sim::LogEntry::Reply; });
            QVERIFY(reply != log.rend());
            QCOMPARE(result.Answer, QByteArray(reinterpret_cast<const char *>(reply->Bytes.data()), int(reply->Bytes.size())));
        }
    }

    // Back-to-back exchanges: each answer is acted on at once, and the line stays silent
    // for 3.5 characters between an answer and the next request.
    void pacing()
    {
        TTransaction transaction(*port_, {});
        transaction.Open();
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 10; ++i)
            QVERIFY(transaction.Exchange(Request(i % 2 ? 4 : 1, 0, i % 2 ? 40 : 8)).Ok());
        const qint64 elapsed = clock.elapsed();
        const auto log = sim_->Log();
        double line = 0;
        for (size_t i = 0; i + 1 < log.size(); ++i) {
            if (log[i].Kind != sim::LogEntry::Reply)
                continue;
            line += std::chrono::duration<double, std::milli>(log[i].End - log[i].Time).count();
            QVERIFY(log[i + 1].Kind == sim::LogEntry::Request);
            // The next request's first byte left after the silence (its log time is its last byte).
            const double requestMs = 8 * sim_->ByteTimeMs();
            const double gap = std::chrono::duration<double, std::milli>(log[i + 1].Time - log[i].End).count() - requestMs;
            QVERIFY2(gap >= DefaultSilenceMs - 0.5, qPrintable(QString::number(gap)));
        }
        // Requests, turnarounds, replies and silences take about 300 ms; a wide margin for noisy cores.
        QVERIFY2(elapsed < 2 * (line + 10 * (8 * sim_->ByteTimeMs() + 5 + DefaultSilenceMs)) + 200,
                 qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    }

    // Answers the simulator does not give, from a line of our own: whose they are, what
    // follows them, part of one, and a line that never falls quiet, from the port's opening
    // or after an answer (then the request is sent once more), and what the message says.
    void judgedAnswers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");  // empty: none
        QTest::addColumn<int>("outcome");
        QTest::addColumn<bool>("noise");        // then a byte every millisecond, for ever
        QTest::addColumn<QString>("message");
        const QByteArray status = Request(1, 0, 10);
        const QByteArray answer = WithCrc(QByteArray::fromHex("0A01021000"));
        const auto wrong = int(TExchangeOutcome::WrongAnswer), noisy = int(TExchangeOutcome::NoisyLine);
        QTest::newRow("exception and a noise byte in one read") << status << WithCrc(QByteArray::fromHex("0A8102")) + '\x55'
                                                                 << int(TExchangeOutcome::Exception) << false << "exception 2 (illegal data address)";
        QTest::newRow("exception of another slave") << status << WithCrc(QByteArray::fromHex("0B8102")) << wrong << false << "";
        QTest::newRow("answer of another slave") << status << WithCrc(QByteArray::fromHex("0B01021000")) << wrong << false << "";
        QTest::newRow("answer and noise in one read") << status << answer + "\x00\xFF" << int(TExchangeOutcome::Answer) << false << "";
        QTest::newRow("echo of another coil") << Request(5, 2, 0xFF00) << Request(5, 3, 0xFF00) << wrong << false << "";
        QTest::newRow("part of an answer") << Request(4, 0, 40) << WithCrc(QByteArray::fromHex("0A0450") + QByteArray(80, 1)).left(40)
                                           << int(TExchangeOutcome::NoAnswer) << false
                                           << "no complete answer within 1000 ms (1 attempt; 40 of the answer's 85 bytes came)";
        QTest::newRow("never quiet from the opening") << status << QByteArray() << noisy << true
                                                      << "within 1000 ms, so the request was not sent";
        QTest::newRow("a bad CRC, then never quiet") << status << answer.left(6) + char(~answer.at(6)) << noisy << true
                                                     << "answers with a bad CRC (1 attempt); then the line is never quiet: ";
    }
    void judgedAnswers()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(int, outcome);
        QFETCH(bool, noise);
        QFETCH(QString, message);
        const int attempts = reply.isEmpty() ? 0 : 1;
        PtyPair pty;
        QVERIFY(pty.IsOpen() && pty.HoldSlave());
        TComPort port;
        port.SetPort(pty.SlavePath());
        // A long silence: a loaded machine may hold the noise back for tens of ms, hardly
        // for 250.
        TTransaction transaction(port, {1000, noise ? 1 : 0, 250, {}});
        transaction.Open();
        std::unique_ptr<PtyNoise> noiseSource;
        std::thread device([&] {
            if (!reply.isEmpty() && pty.ReadMaster(int(request.size()), 5000) == request)
                pty.WriteMaster(reply);
            if (noise)
                noiseSource = std::make_unique<PtyNoise>(pty, 1);
        });
        // At once: the noise may not have reached the port yet, and the request still waits.
        QElapsedTimer clock;
        clock.start();
        const TExchangeResult result = transaction.Exchange(request);
        const qint64 elapsed = clock.elapsed();
        device.join();
        noiseSource.reset();
        QCOMPARE(int(result.Outcome), outcome);
        QCOMPARE(result.Attempts, attempts);
        QVERIFY2(ExchangeResultText(result, 1000).contains(message), qPrintable(ExchangeResultText(result, 1000)));
        // A judged answer is acted on at once; a line that never falls quiet (or part of an
        // answer) is given up after one time-out.
        if (outcome == int(TExchangeOutcome::NoisyLine))
            QVERIFY2(result.NoiseBytes > 0 && elapsed >= 1000 && elapsed < 2500, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
        else
            QVERIFY2(outcome == int(TExchangeOutcome::NoAnswer) ? elapsed >= 1000 : elapsed < 900,
                     qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    }

private:
    SimFixture sim_;
    std::unique_ptr<TComPort> port_;
};

QTEST_GUILESS_MAIN(TestTransaction)
#include "tst_transaction.moc"
