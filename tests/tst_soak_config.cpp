// Fault soak of the configuration read and write: the main window's exchange, on a real
// port with its own timers, reads and writes the configuration of the device stand-in over
// a pty while about 30 % of the replies carry a random fault from a fixed seed. Each read
// that fills the record must fill it from replies the stand-in sent with a good CRC; a
// write is reported done only on an echo it really sent; only the read requests and the
// write of the record as it stood may leave; no crash, no hang.
//
// KARVEN_SOAK_EXCHANGES sets the number of requests (default 600); a person may run a
// longer soak with a larger number.

#include "CPort.h"
#include "ConfigExchange.h"
#include "Globals.h"
#include "RegisterMap.h"
#include "ResetGlobals.h"
#include "SimFixture.h"
#include "SoakOracle.h"
#include "modbus.h"

#include <QDeadlineTimer>
#include <QTimer>
#include <QtTest>

#include <random>

namespace {

std::vector<uint8_t> Frame(uint8_t function, uint16_t first, uint16_t second)
{
    const auto f = BuildShortRequest(function, first, second);
    return {f.begin(), f.end()};
}

// Whether one block of the record as it stands now is what a good reply of that block
// carries: unpacking the reply again changes nothing.
bool BlockFromSomeReply(const ReplyOracle &oracle, int block)
{
    const size_t length = block == 1 ? Block1AnswerLength : Block2AnswerLength;
    const TDeviceConfig now = DeviceConfig;
    const auto packed = PackConfigRegisters();
    bool found = false;
    for (const auto &reply : oracle.GoodReplies(length)) {
        UnpackConfigBlock(reply.data(), block);
        found = PackConfigRegisters() == packed;
        DeviceConfig = now;
        if (found)
            break;
    }
    return found;
}

// Fields the write carries, given new values between writes.
void Scramble(std::mt19937 &random)
{
    std::uniform_int_distribution<uint32_t> count(0, 999999);
    std::uniform_real_distribution<float> real(0.5f, 9999.0f);
    DeviceConfig.TprN1Min = count(random);
    DeviceConfig.TprN1Max = count(random);
    DeviceConfig.PackCount = count(random);
    DeviceConfig.TprKFactor1 = real(random);
    DeviceConfig.GenFFrequency = real(random);
    DeviceConfig.GenICurrent1 = uint16_t(count(random) % 20000);
    DeviceConfig.ImitTcResistance = uint8_t(count(random) % 8);
}

}  // namespace

class TestSoakConfig : public QObject {
    Q_OBJECT

private slots:
    void soak();
};

void TestSoakConfig::soak()
{
    const int total = SoakCount("KARVEN_SOAK_EXCHANGES", 600);
    const uint64_t seed = uint64_t(SoakCount("KARVEN_SOAK_SEED", 20261208));

    SimFixture sim;
    QVERIFY(sim.Start(SoakOptions(seed)));
    sim::SimDevice &device = sim.Device();
    ReplyOracle oracle(device);
    device.SetRandomFaults(seed + 1, SoakFaultMix());

    ResetGlobals();

    TComPort port;
    port.SetPort(sim.Link());
    port.StopBits = sbTwoStopBits;
    QTimer readTimer;
    QTimer waitTimer;

    QStringList errors;
    QList<TExchangeNotice> warnings;
    int reads = 0, readsDone = 0, writes = 0, writesDone = 0;
    ConfigExchangeHooks hooks;
    hooks.Tell = [&](TExchangeNotice notice, std::exception_ptr) {
        if (notice != TExchangeNotice::WriteDone) {
            warnings << notice;
            return;
        }
        ++writesDone;
        if (ReceiveLength != 8 || !oracle.SentGood(ReceiveBuffer, 8))
            errors << QStringLiteral("write reported done on an echo the device never sent");
    };
    hooks.ReportError = [&](std::exception_ptr) { errors << QStringLiteral("general error report"); };
    hooks.ShowRoot = [&] {
        ++readsDone;
        if (!BlockFromSomeReply(oracle, 1))
            errors << QStringLiteral("read %1: registers 0..37 came from no good reply").arg(reads);
        if (!BlockFromSomeReply(oracle, 2))
            errors << QStringLiteral("read %1: registers 38..52 came from no good reply").arg(reads);
    };
    ConfigExchange exchange(port, readTimer, waitTimer, hooks);
    port.OnRxChar = [&](QObject *, int count) { exchange.Received(count); };
    QObject::connect(&readTimer, &QTimer::timeout, [&] { exchange.ReadTimerTick(); });
    QObject::connect(&waitTimer, &QTimer::timeout, [&] { exchange.AnswerTimeout(); });

    std::set<std::vector<uint8_t>> allowed{Frame(3, 0, 38), Frame(3, 38, 15)};
    std::mt19937 random{uint32_t(seed)};
    auto idle = [&] {
        return !readTimer.isActive() && !waitTimer.isActive()
            && (ExchangeState == ExchangeIdle || ExchangeState == ExchangeFailed);
    };
    bool stuck = false;
    TDeviceConfig before;
    int readsDoneBefore = 0;
    while (oracle.Requests() < total && !stuck) {
        const bool write = random() % 3 == 0;
        if (write) {
            Scramble(random);
            const auto frame = BuildConfigWriteRequest(PackConfigRegisters());
            allowed.insert(std::vector<uint8_t>(frame.begin(), frame.end()));
            ++writes;
            exchange.StartWrite();
        } else {
            ++reads;
            before = DeviceConfig;
            readsDoneBefore = readsDone;
            exchange.StartRead();
        }
        // A read takes two answers, each with at most its time-out.
        QDeadlineTimer deadline(5000);
        while (!idle() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        stuck = !idle();
        // A read that fails, in either block, leaves the record as it was.
        if (!write && readsDone == readsDoneBefore && PackConfigRegistersOf(before) != PackConfigRegisters())
            errors << QStringLiteral("read %1: a failed read changed the record").arg(reads);
    }
    port.Close();
    device.Stop();

    const std::vector<sim::LogEntry> log = device.Log();
    qInfo("configuration: %d requests: %d reads (%d done), %d writes (%d done), %lld warnings; faults: %s",
          oracle.Requests(), reads, readsDone, writes, writesDone, qlonglong(warnings.size()),
          qPrintable(FaultTallyText(oracle.Faults())));
    QVERIFY2(!stuck, "the exchange did not end");
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    const QStringList stray = RequestsOutside(log, allowed);
    QVERIFY2(stray.isEmpty(), qPrintable(stray.join('\n')));
    for (const TExchangeNotice w : warnings)
        QVERIFY(w == TExchangeNotice::NoLink);
    QVERIFY(readsDone > 0);
    QVERIFY(writesDone > 0);
    const auto faults = oracle.Faults();
    for (int kind = 1; kind < sim::FaultKindCount; ++kind)
        if (sim::Fault(kind) != sim::Fault::HangUp)
            QVERIFY2(faults[size_t(kind)] > 0, sim::FaultName(sim::Fault(kind)));
}

QTEST_MAIN(TestSoakConfig)
#include "tst_soak_config.moc"
