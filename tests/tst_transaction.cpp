// The command-line companion's exchange engine against the device simulator over a pty:
// retries, exception replies, time-outs, the silence between frames, and how soon an
// answer is acted on.
#include "CPort.h"
#include "SimDevice.h"
#include "Transaction.h"
#include "modbus.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QByteArray Request(uint8_t function, uint16_t first, uint16_t second)
{
    const auto frame = BuildShortRequest(function, first, second);
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
}

}  // namespace

class TestTransaction : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        sim::SimOptions options;
        options.linkPath = (dir_.path() + QStringLiteral("/ttyV0")).toStdString();
        device_ = std::make_unique<sim::SimDevice>(options);
        std::string error;
        QVERIFY2(device_->Start(&error), error.c_str());
        port_ = std::make_unique<TComPort>();
        port_->SetPort(QString::fromStdString(options.linkPath));
    }
    void cleanup()
    {
        port_.reset();
        device_.reset();
    }

    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("faults");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<int>("exception");
        const QByteArray read = Request(3, 0, 38);
        const auto none = int(sim::Fault::None);
        QTest::newRow("answer") << read << none << 0 << int(TExchangeOutcome::Answer) << 1 << 0;
        QTest::newRow("no reply, then one") << read << int(sim::Fault::NoReply) << 1 << int(TExchangeOutcome::Answer) << 2 << 0;
        QTest::newRow("bad CRC, then good") << read << int(sim::Fault::BadCrc) << 1 << int(TExchangeOutcome::Answer) << 2 << 0;
        QTest::newRow("CRC low byte first twice") << read << int(sim::Fault::CrcLowHigh) << 2 << int(TExchangeOutcome::Answer) << 3 << 0;
        QTest::newRow("answer in chunks") << read << int(sim::Fault::Split) << 1 << int(TExchangeOutcome::Answer) << 1 << 0;
        QTest::newRow("silent") << read << int(sim::Fault::NoReply) << 3 << int(TExchangeOutcome::NoAnswer) << 3 << 0;
        QTest::newRow("exception: address") << Request(3, 50, 10) << none << 0 << int(TExchangeOutcome::Exception) << 1 << 2;
        QTest::newRow("exception: function") << Request(6, 0, 1) << none << 0 << int(TExchangeOutcome::Exception) << 1 << 1;
        QTest::newRow("coil echo") << Request(5, 2, 0xFF00) << none << 0 << int(TExchangeOutcome::Answer) << 1 << 0;
    }
    void outcomes()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, fault);
        QFETCH(int, faults);
        QFETCH(int, outcome);
        QFETCH(int, attempts);
        QFETCH(int, exception);
        if (faults)
            device_->QueueFault(sim::Fault(fault), faults);
        QStringList trace;
        TTransaction transaction(*port_, {300, 2, DefaultSilenceMs, [&](const QString &line) { trace << line; }});
        transaction.Open();
        const TExchangeResult result = transaction.Exchange(request);
        QCOMPARE(int(result.Outcome), outcome);
        QCOMPARE(result.Attempts, attempts);
        QCOMPARE(int(result.ExceptionCode), exception);
        QCOMPARE(trace.filter(QRegularExpression(QStringLiteral("^ +\\d+\\.\\d ms -> "))).size(), attempts);
        if (exception)
            QVERIFY(result.Describe(300).contains(ModbusExceptionName(uint8_t(exception))));
        if (outcome == int(TExchangeOutcome::Answer)) {
            // The answer is the one the simulator sent last, with a good CRC.
            const auto log = device_->Log();
            const auto reply = std::find_if(log.rbegin(), log.rend(), [](const sim::LogEntry &e) { return e.kind == sim::LogEntry::Reply; });
            QVERIFY(reply != log.rend());
            QCOMPARE(result.Answer, QByteArray(reinterpret_cast<const char *>(reply->bytes.data()), int(reply->bytes.size())));
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
        const auto log = device_->Log();
        double line = 0;
        for (size_t i = 0; i + 1 < log.size(); ++i) {
            if (log[i].kind != sim::LogEntry::Reply)
                continue;
            line += std::chrono::duration<double, std::milli>(log[i].end - log[i].time).count();
            QVERIFY(log[i + 1].kind == sim::LogEntry::Request);
            // The next request's first byte left after the silence (its log time is its last byte).
            const double requestMs = 8 * device_->ByteTimeMs();
            const double gap = std::chrono::duration<double, std::milli>(log[i + 1].time - log[i].end).count() - requestMs;
            QVERIFY2(gap >= DefaultSilenceMs - 0.5, qPrintable(QString::number(gap)));
        }
        // Requests, turnarounds, replies and silences take about 300 ms; a wide margin for noisy cores.
        QVERIFY2(elapsed < 2 * (line + 10 * (8 * device_->ByteTimeMs() + 5 + DefaultSilenceMs)) + 200,
                 qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    }

private:
    QTemporaryDir dir_;
    std::unique_ptr<sim::SimDevice> device_;
    std::unique_ptr<TComPort> port_;
};

QTEST_GUILESS_MAIN(TestTransaction)
#include "tst_transaction.moc"
