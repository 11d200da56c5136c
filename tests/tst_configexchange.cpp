// The configuration read and write without a window: the exchange drives a real port over
// a pty, against the device simulator or against bytes the test writes itself.
#include "CauseText.h"
#include "CPort.h"
#include "ConfigExchange.h"
#include "PortMessages.h"
#include "Globals.h"
#include "PtyPair.h"
#include "RegisterMap.h"
#include "ResetGlobals.h"
#include "SimFixture.h"
#include "WaitFor.h"
#include "modbus.h"

#include <QTimer>
#include <QtTest>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>

using Clock = std::chrono::steady_clock;

namespace {

QByteArray Bytes(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), int(v.size()));
}

template <size_t N>
QByteArray Bytes(const std::array<uint8_t, N> &a)
{
    return QByteArray(reinterpret_cast<const char *>(a.data()), int(N));
}

QByteArray WithCrc(QByteArray frame)
{
    const uint16_t crc = ModbusCrc16(reinterpret_cast<const uint8_t *>(frame.constData()), uint16_t(frame.size()));
    frame.append(char(crc >> 8));
    frame.append(char(crc & 0xFF));
    return frame;
}

// A good function-3 answer carrying count registers, register i holding base + i.
QByteArray ReadAnswer(int count, uint16_t base)
{
    QByteArray frame;
    frame.append(char(10));
    frame.append(char(3));
    frame.append(char(2 * count));
    for (int i = 0; i < count; ++i) {
        frame.append(char((base + i) >> 8));
        frame.append(char((base + i) & 0xFF));
    }
    return WithCrc(frame);
}

QByteArray Hex(const char *text)
{
    return QByteArray::fromHex(text);
}

bool SameRecord(const TDeviceConfig &a, const TDeviceConfig &b)
{
    return PackConfigRegistersOf(a) == PackConfigRegistersOf(b);
}

// A record with every field away from zero and from the simulator's values.
TDeviceConfig EditedRecord()
{
    TDeviceConfig c{};
    c.Tpu1DetectorCount = 2;
    c.Tpu1DetectorType = 1;
    c.Tpu1KFactor2 = 1234.5f;
    c.Tpu2SumMethod = 1;
    c.Tpu2KFactor2 = -7.25f;
    c.TprN1Min = 0x12345678u;
    c.TprN1Max = 0xFEDCBA98u;
    c.TprKFactor1 = 3.0e7f;
    c.PackCount = 77;
    c.PackVoltage = 5;
    c.TqFrequency = 0.5f;
    c.ImitTpuCount = 65537;
    c.GenTPeriod = 1000000;
    c.GenICurrent1 = 0xBEEF;
    c.GenICurrent2 = 20000;
    c.GenIScale2 = 3;
    c.ImitTcResistance = 9;
    return c;
}

// The exchange with a port, its two timers and hooks that record what it shows.
struct Rig {
    TComPort port;
    QTimer readTimer;
    QTimer waitTimer;
    QStringList warnings;
    QStringList informations;
    QStringList errors;
    Clock::time_point lastWarningAt;
    int rootSaved = 0;
    int rootShown = 0;
    std::unique_ptr<ConfigExchange> exchange;

    explicit Rig(const QString &portPath)
    {
        port.BaudRate = br9600;
        port.DataBits = dbEight;
        port.StopBits = sbTwoStopBits;
        port.SetPort(portPath);
        ConfigExchangeHooks hooks;
        // As the main window words them.
        hooks.Tell = [this](TExchangeNotice notice, std::exception_ptr failure) {
            const QString t = ExchangeNoticeText(notice, failure, port.Port());
            if (notice == TExchangeNotice::WriteDone) {
                informations << t;
                return;
            }
            warnings << t;
            lastWarningAt = Clock::now();
        };
        hooks.ReportError = [this](std::exception_ptr e) {
            try {
                std::rethrow_exception(e);
            } catch (const EComPort &err) {
                errors << err.Message();
            } catch (...) {
                errors << QStringLiteral("?");
            }
        };
        hooks.MarkRootSaved = [this] { ++rootSaved; };
        hooks.ShowRoot = [this] { ++rootShown; };
        exchange = std::make_unique<ConfigExchange>(port, readTimer, waitTimer, std::move(hooks));
        QObject::connect(&readTimer, &QTimer::timeout, [this] { exchange->ReadTimerTick(); });
        QObject::connect(&waitTimer, &QTimer::timeout, [this] { exchange->AnswerTimeout(); });
        port.OnRxChar = [this](QObject *, int count) {
            try {
                exchange->Received(count);
            } catch (...) {
                errors << QStringLiteral("receive failed");
            }
        };
    }

    // The read has run its course: the read timer has stopped and nothing is out.
    bool ReadOver() const { return !readTimer.isActive() && !waitTimer.isActive() && ExchangeState == ExchangeIdle; }
};

}  // namespace

class TestConfigExchange : public QObject {
    Q_OBJECT

    SimFixture sim_;
    QString link_;

    // The record as the simulator's registers would unpack into it.
    TDeviceConfig DeviceRecord() const
    {
        uint8_t answer[3 + 2 * ConfigRegisterCount] = {10, 3, 0};
        const auto registers = sim_.ConfigRegisters();
        std::copy(registers.begin(), registers.end(), answer + 3);
        TDeviceConfig c{};
        UnpackConfigBlockInto(c, answer, 1);
        UnpackConfigBlockInto(c, answer + 2 * ConfigBlock1Count, 2);
        return c;
    }

private slots:
    void init()
    {
        ResetGlobals();
        QVERIFY(sim_.Start());
        link_ = sim_.Link();
    }
    void cleanup()
    {
        sim_.Discard();
        ResetGlobals();
    }

    void readFillsRecordFromDevice();
    void writeLeavesDeviceHoldingRecord_data();
    void writeLeavesDeviceHoldingRecord();
    void readFailures_data();
    void readFailures();
    void writeFailures_data();
    void writeFailures();
    void portBusy_data();
    void portBusy();
    void errorAtSecondRequestThenTimeout();
    void repeatedCommandKeepsTimerRhythm();
};

void TestConfigExchange::readFillsRecordFromDevice()
{
    // Distinctive values in both blocks, so a field read from the wrong offset shows.
    sim_->SetHolding(0, 2);
    sim_->WithModel([](sim::SimModel &m) {
        m.SetHoldingFloat(5, -1.5f);
        m.SetHoldingU32(30, 0xA1B2C3D4u);
        m.SetHoldingFloat(36, 98765.5f);
        m.SetHolding(38, 7);
        m.SetHolding(39, 0x4001);
        m.SetHolding(45, 0x8001);
        m.SetHolding(52, 4);
        return 0;
    });
    const TDeviceConfig expected = DeviceRecord();
    QVERIFY(!SameRecord(expected, DeviceConfig));

    Rig rig(link_);
    rig.exchange->StartRead();
    QVERIFY(WaitFor([&] { return rig.rootShown > 0 && rig.ReadOver(); }, 5000));

    const auto requests = sim_.Requests();
    QCOMPARE(int(requests.size()), 2);
    QCOMPARE(Bytes(requests[0]), Hex("0A03000000266BC5"));
    QCOMPARE(Bytes(requests[1]), Hex("0A030026000F7EE5"));
    QVERIFY(SameRecord(DeviceConfig, expected));
    QCOMPARE(DeviceConfig.TprN1Max, 0u + sim_->Holding(16) + (uint32_t(sim_->Holding(17)) << 16));
    QCOMPARE(DeviceConfig.GenICurrent2, uint16_t(0x8001));
    QCOMPARE(rig.rootSaved, 1);
    QCOMPARE(rig.rootShown, 1);
    QVERIFY(rig.warnings.isEmpty());
    QVERIFY(rig.errors.isEmpty());
    QCOMPARE(int(ConfigBlock), 1);
}

void TestConfigExchange::writeLeavesDeviceHoldingRecord_data()
{
    QTest::addColumn<bool>("edited");
    QTest::newRow("nothing read or edited: all zero") << false;
    QTest::newRow("edited record") << true;
}

void TestConfigExchange::writeLeavesDeviceHoldingRecord()
{
    QFETCH(bool, edited);
    for (int r = 0; r < ConfigRegisterCount; ++r)
        sim_->SetHolding(r, 0xFFFF);
    if (edited)
        DeviceConfig = EditedRecord();
    const TDeviceConfig before = DeviceConfig;

    Rig rig(link_);
    rig.exchange->StartWrite();
    QCOMPARE(ExchangeState, ExchangeWriteSent);
    QVERIFY(WaitFor([&] { return !rig.informations.isEmpty(); }, 5000));

    QCOMPARE(rig.informations, QStringList{QStringLiteral("Загрузка конфигурации произведена успешно!")});
    QCOMPARE(ExchangeState, ExchangeIdle);
    QCOMPARE(rig.rootSaved, 1);
    QCOMPARE(rig.rootShown, 0);  // the grid is not rebuilt by a write
    QVERIFY(!rig.waitTimer.isActive());
    QVERIFY(rig.warnings.isEmpty());

    const auto requests = sim_.Requests();
    QCOMPARE(int(requests.size()), 1);
    QCOMPARE(Bytes(requests[0]), Bytes(BuildConfigWriteRequest(PackConfigRegistersOf(before))));
    const auto packed = PackConfigRegistersOf(before);
    for (int r = 0; r < ConfigRegisterCount; ++r)
        QCOMPARE(sim_->Holding(r), uint16_t(packed[2 * r] << 8 | packed[2 * r + 1]));
    for (const ConfigField &f : ConfigFields())
        if (f.Kind() == FieldKind::Code)
            QVERIFY2(sim_->Holding(f.FirstRegister) < 256, f.Name);
    QVERIFY(SameRecord(DeviceConfig, before));  // the write changes nothing of the record
}

void TestConfigExchange::readFailures_data()
{
    QTest::addColumn<int>("block");  // the block whose answer fails
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("noLink");  // "Нет связи!" expected

    QTest::newRow("silent device, block 1") << 1 << int(sim::Fault::NoReply) << true;
    QTest::newRow("bad CRC, block 1") << 1 << int(sim::Fault::BadCrc) << false;
    QTest::newRow("CRC low byte first, block 1") << 1 << int(sim::Fault::CrcLowHigh) << false;
    QTest::newRow("late answer, block 1") << 1 << int(sim::Fault::Late) << true;
    QTest::newRow("silent device, block 2") << 2 << int(sim::Fault::NoReply) << true;
    QTest::newRow("bad CRC, block 2") << 2 << int(sim::Fault::BadCrc) << false;
}

void TestConfigExchange::readFailures()
{
    QFETCH(int, block);
    QFETCH(int, fault);
    QFETCH(bool, noLink);

    const TDeviceConfig fromDevice = DeviceRecord();
    const TDeviceConfig old = EditedRecord();
    DeviceConfig = old;
    if (block == 2)
        sim_->QueueFault(sim::Fault::None, 1);
    sim_->QueueFault(sim::Fault(fault), 1);

    Rig rig(link_);
    rig.exchange->StartRead();
    QVERIFY(WaitFor([&] { return int(sim_.Requests().size()) == block; }, 3000));
    const Clock::time_point failingRequestAt = Clock::now();
    if (noLink)
        QVERIFY(WaitFor([&] { return !rig.warnings.isEmpty(); }, 4000));
    QVERIFY(WaitFor([&] { return rig.ReadOver(); }, 3000));
    if (fault == int(sim::Fault::Late))
        Spin(3000);  // the late answer comes in while nothing is awaited

    QCOMPARE(int(sim_.Requests().size()), block);
    if (noLink) {
        QCOMPARE(rig.warnings, QStringList{QStringLiteral("Нет связи!")});
        const double ms = std::chrono::duration<double, std::milli>(rig.lastWarningAt - failingRequestAt).count();
        QVERIFY2(ms > 800 && ms < 2500, qPrintable(QString::number(ms)));
    } else {
        QVERIFY(rig.warnings.isEmpty());
    }
    QCOMPARE(rig.rootSaved, 0);
    QCOMPARE(rig.rootShown, 0);
    QCOMPARE(ExchangeState, ExchangeIdle);

    // The record changes only with both blocks: one that came through alone fills nothing.
    QVERIFY(SameRecord(DeviceConfig, old));

    // A new command starts again from block 1 and now succeeds.
    sim_->ClearLog();
    rig.exchange->StartRead();
    QVERIFY(WaitFor([&] { return rig.rootShown > 0 && rig.ReadOver(); }, 5000));
    QCOMPARE(Bytes(sim_.Requests().at(0)), Hex("0A03000000266BC5"));
    QVERIFY(SameRecord(DeviceConfig, fromDevice));
}

void TestConfigExchange::writeFailures_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("noLink");
    QTest::newRow("silent device") << int(sim::Fault::NoReply) << true;
    QTest::newRow("bad CRC") << int(sim::Fault::BadCrc) << false;
    QTest::newRow("CRC low byte first") << int(sim::Fault::CrcLowHigh) << false;
}

void TestConfigExchange::writeFailures()
{
    QFETCH(int, fault);
    QFETCH(bool, noLink);
    DeviceConfig = EditedRecord();
    const TDeviceConfig before = DeviceConfig;
    sim_->QueueFault(sim::Fault(fault), 1);

    Rig rig(link_);
    rig.exchange->StartWrite();
    QVERIFY(WaitFor([&] { return !rig.waitTimer.isActive() && ExchangeState == ExchangeFailed; }, 4000));
    Spin(300);  // a failure after a write is left alone by the timers
    QCOMPARE(ExchangeState, ExchangeFailed);
    QVERIFY(!rig.readTimer.isActive());
    QCOMPARE(rig.warnings, noLink ? QStringList{QStringLiteral("Нет связи!")} : QStringList{});
    QVERIFY(rig.informations.isEmpty());
    QCOMPARE(rig.rootSaved, 0);
    QVERIFY(SameRecord(DeviceConfig, before));
}

void TestConfigExchange::portBusy_data()
{
    QTest::addColumn<bool>("write");
    QTest::newRow("read") << false;
    QTest::newRow("write") << true;
}

void TestConfigExchange::portBusy()
{
    QFETCH(bool, write);
    // Another program holds the port.
    const int other = ::open(QFile::encodeName(link_).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(other >= 0);
    QCOMPARE(flock(other, LOCK_EX | LOCK_NB), 0);

    DeviceConfig = EditedRecord();
    const TDeviceConfig before = DeviceConfig;
    Rig rig(link_);
    if (write)
        rig.exchange->StartWrite();
    else
        rig.exchange->StartRead();
    ::close(other);

    QCOMPARE(rig.warnings.size(), 1);
    QVERIFY2(SaysWithCause(rig.warnings[0], QStringLiteral("Порт занят! Выберите другой порт."), TOpenFailure::Busy),
             qPrintable(rig.warnings[0]));
    QCOMPARE(ExchangeState, ExchangeFailed);
    QVERIFY(!rig.waitTimer.isActive());
    QVERIFY(!rig.port.Connected());
    if (write) {
        Spin(300);
        QCOMPARE(ExchangeState, ExchangeFailed);  // until the next command
    } else {
        QVERIFY(rig.readTimer.isActive());  // its next tick ends the read
        QVERIFY(WaitFor([&] { return rig.ReadOver(); }, 1000));
    }
    Spin(1200);  // no time-out follows
    QCOMPARE(rig.warnings.size(), 1);
    QVERIFY(sim_.Requests().empty());
    QVERIFY(SameRecord(DeviceConfig, before));
    QCOMPARE(rig.rootSaved, 0);
    QCOMPARE(rig.rootShown, 0);
}

void TestConfigExchange::errorAtSecondRequestThenTimeout()
{
    // The port disappears between the two blocks: the reopen for block 2 fails.
    const std::string link = link_.toStdString();
    sim_->SetLogListener([link](const sim::LogEntry &e) {
        if (e.Kind == sim::LogEntry::Request)
            ::unlink(link.c_str());
    });
    const TDeviceConfig fromDevice = DeviceRecord();
    const TDeviceConfig old = EditedRecord();
    DeviceConfig = old;

    Rig rig(link_);
    rig.exchange->StartRead();
    QVERIFY(WaitFor([&] { return !rig.errors.isEmpty(); }, 3000));
    QCOMPARE(rig.errors.size(), 1);
    QVERIFY(rig.warnings.isEmpty());
    QCOMPARE(ExchangeState, ExchangeReadSent);
    QCOMPARE(int(ConfigBlock), 1);
    QVERIFY(rig.waitTimer.isActive());  // the time-out ends the read
    QVERIFY(WaitFor([&] { return rig.ReadOver(); }, 3000));
    QCOMPARE(rig.warnings, QStringList{QStringLiteral("Нет связи!")});
    QCOMPARE(rig.rootSaved, 0);
    QCOMPARE(rig.rootShown, 0);
    QVERIFY(SameRecord(DeviceConfig, old));  // the first block alone fills nothing
    QVERIFY(!SameRecord(fromDevice, old));
}

void TestConfigExchange::repeatedCommandKeepsTimerRhythm()
{
    sim_->QueueFault(sim::Fault::NoReply, 2);
    Rig rig(link_);
    rig.exchange->StartRead();
    Spin(60);
    QVERIFY(rig.readTimer.isActive());
    rig.exchange->StartRead();  // a second click while the first read is out
    // Neither timer was restarted by the second click.
    QVERIFY2(rig.readTimer.remainingTime() < 90, qPrintable(QString::number(rig.readTimer.remainingTime())));
    QVERIFY2(rig.waitTimer.remainingTime() < 960, qPrintable(QString::number(rig.waitTimer.remainingTime())));
    QVERIFY(WaitFor([&] { return rig.ReadOver(); }, 3000));
    QCOMPARE(rig.warnings, QStringList{QStringLiteral("Нет связи!")});
    QCOMPARE(int(sim_.Requests().size()), 2);
}

// Answers written by the test itself, byte for byte, onto a bare pty.
class TestConfigAnswers : public QObject {
    Q_OBJECT

    std::unique_ptr<PtyPair> pty_;
    std::unique_ptr<Rig> rig_;

    // Writes bytes and waits until the receive handler has taken them in.
    void Feed(const QByteArray &bytes)
    {
        const int64_t before = ReceiveLength;
        QVERIFY(pty_->WriteMaster(bytes));
        QVERIFY(WaitFor([&] { return ReceiveLength >= before + bytes.size() || ReceiveLength >= ReceiveBufferSize; }, 2000));
    }
    // What the port wrote, collected while the event loop runs (the exchange sends its
    // second request from a timer).
    QByteArray TakeRequest(int size, int timeoutMs = 2000)
    {
        QByteArray got;
        WaitFor([&] {
            got += pty_->ReadMaster(size - got.size(), 0);
            return got.size() >= size;
        }, timeoutMs);
        return got;
    }

private slots:
    void init()
    {
        ResetGlobals();
        pty_ = std::make_unique<PtyPair>();
        QVERIFY(pty_->IsOpen());
        QVERIFY(pty_->HoldSlave());
        rig_ = std::make_unique<Rig>(pty_->SlavePath());
    }
    void cleanup()
    {
        rig_.reset();
        pty_.reset();
        ResetGlobals();
    }

    void answerInPieces_data();
    void answerInPieces();
    void neverCompleteEndsInTimeout_data();
    void neverCompleteEndsInTimeout();
    void writeReplyInPieces();
    void strayBytesWhileIdle_data();
    void strayBytesWhileIdle();
    void answerOfWrongLengthFillsNothing_data();
    void answerOfWrongLengthFillsNothing();
};

void TestConfigAnswers::answerInPieces_data()
{
    QTest::addColumn<QList<int>>("pieces");
    QTest::newRow("one piece") << QList<int>{81};
    QTest::newRow("byte by byte at the start") << QList<int>{1, 1, 1, 1, 1, 76};
    QTest::newRow("three pieces") << QList<int>{30, 30, 21};
    QTest::newRow("last byte alone") << QList<int>{80, 1};
}

void TestConfigAnswers::answerInPieces()
{
    QFETCH(QList<int>, pieces);
    rig_->exchange->StartRead();
    QCOMPARE(TakeRequest(8), Hex("0A03000000266BC5"));

    const QByteArray block1 = ReadAnswer(38, 0x0100);
    int at = 0;
    for (int i = 0; i < pieces.size(); ++i) {
        // Nothing is judged complete before the last byte.
        QCOMPARE(ExchangeState, ExchangeReadSent);
        Feed(block1.mid(at, pieces[i]));
        at += pieces[i];
    }
    QVERIFY(ExchangeState == ExchangeReadAnswered || ConfigBlock == 1);
    QCOMPARE(TakeRequest(8), Hex("0A030026000F7EE5"));
    QCOMPARE(int(ConfigBlock), 1);
    Feed(ReadAnswer(15, 0x0200).left(20));
    QCOMPARE(ExchangeState, ExchangeReadSent);
    Feed(ReadAnswer(15, 0x0200).mid(20));
    QVERIFY(WaitFor([&] { return rig_->rootShown == 1; }, 1000));
    QVERIFY(rig_->ReadOver());

    // Register r holds 0x0100 + r (block 1) or 0x0200 + r - 38 (block 2).
    QCOMPARE(DeviceConfig.Tpu1DetectorCount, uint8_t(0x00));
    QCOMPARE(DeviceConfig.Tpu1DetectorType, uint8_t(0x01));
    QCOMPARE(DeviceConfig.TprN1Min, 0x010F010Eu);
    QCOMPARE(DeviceConfig.ImitTpuCount, 0x01250124u);
    QCOMPARE(DeviceConfig.GenTPeriod, 0x02040203u);
    QCOMPARE(DeviceConfig.GenTVoltage, uint8_t(0x05));  // register 43: 0x0205, code in the low byte
    QCOMPARE(DeviceConfig.GenICurrent1, uint16_t(0x0206));
    QCOMPARE(DeviceConfig.ImitTcResistance, uint8_t(0x0E));
    QCOMPARE(rig_->rootSaved, 1);
    QVERIFY(rig_->warnings.isEmpty());
}

void TestConfigAnswers::neverCompleteEndsInTimeout_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("exception reply") << WithCrc(Hex("0A8302"));
    QTest::newRow("one byte too many") << ReadAnswer(38, 1) + Hex("00");
    QTest::newRow("one byte short") << ReadAnswer(38, 1).left(80);
    QTest::newRow("flood beyond the buffer") << QByteArray(400, char(0x5A));
}

void TestConfigAnswers::neverCompleteEndsInTimeout()
{
    QFETCH(QByteArray, reply);
    DeviceConfig = EditedRecord();
    const TDeviceConfig before = DeviceConfig;
    rig_->exchange->StartRead();
    QCOMPARE(TakeRequest(8).size(), 8);
    QVERIFY(pty_->WriteMaster(reply));
    QVERIFY(WaitFor([&] { return !rig_->warnings.isEmpty(); }, 3000));
    QCOMPARE(rig_->warnings, QStringList{QStringLiteral("Нет связи!")});
    QVERIFY(WaitFor([&] { return rig_->ReadOver(); }, 1000));
    QVERIFY(SameRecord(DeviceConfig, before));
    QCOMPARE(rig_->rootSaved, 0);
    QVERIFY(rig_->errors.isEmpty());
}

void TestConfigAnswers::writeReplyInPieces()
{
    const QByteArray echo = WithCrc(Hex("0A1000000035"));
    rig_->exchange->StartWrite();
    QCOMPARE(TakeRequest(115).size(), 115);
    Feed(echo.left(5));
    QCOMPARE(ExchangeState, ExchangeWriteSent);  // five bytes with a byte count of 0 are no answer to a write
    Feed(echo.mid(5));
    QCOMPARE(ExchangeState, ExchangeIdle);
    QCOMPARE(rig_->informations.size(), 1);
    QCOMPARE(rig_->rootSaved, 1);

    // Nine bytes in one event never make an 8-byte reply.
    rig_->informations.clear();
    rig_->exchange->StartWrite();
    QCOMPARE(TakeRequest(115).size(), 115);
    Feed(echo + Hex("00"));
    QCOMPARE(ExchangeState, ExchangeWriteSent);
    QVERIFY(WaitFor([&] { return !rig_->warnings.isEmpty(); }, 3000));
    QCOMPARE(rig_->warnings, QStringList{QStringLiteral("Нет связи!")});
    QCOMPARE(ExchangeState, ExchangeFailed);
    QVERIFY(rig_->informations.isEmpty());
}

void TestConfigAnswers::strayBytesWhileIdle_data()
{
    QTest::addColumn<QByteArray>("stray");
    QTest::addColumn<int>("state");
    QTest::newRow("complete frame, bad CRC") << Hex("0A0302123400 00") << int(ExchangeFailed);
    QTest::newRow("complete frame, good CRC") << WithCrc(Hex("0A03021234")) << int(ExchangeIdle);
    QTest::newRow("whole block 1 answer") << ReadAnswer(38, 7) << int(ExchangeIdle);
    QTest::newRow("noise") << Hex("FF00FF") << int(ExchangeIdle);
}

void TestConfigAnswers::strayBytesWhileIdle()
{
    QFETCH(QByteArray, stray);
    QFETCH(int, state);
    // A finished write leaves the port open and the exchange idle.
    rig_->exchange->StartWrite();
    QCOMPARE(TakeRequest(115).size(), 115);
    Feed(WithCrc(Hex("0A1000000035")));
    QCOMPARE(ExchangeState, ExchangeIdle);
    rig_->informations.clear();
    DeviceConfig = EditedRecord();
    const TDeviceConfig before = DeviceConfig;
    rig_->readTimer.start();  // as after a read that was interrupted by a write
    ClearReceiveBuffer();

    Feed(stray);
    Spin(250);
    QCOMPARE(ExchangeState, ExchangeIdle);  // the running read timer ends a failure
    QVERIFY(SameRecord(DeviceConfig, before));
    QVERIFY(rig_->warnings.isEmpty());
    QVERIFY(rig_->informations.isEmpty());
    QCOMPARE(rig_->rootShown, 0);
    QCOMPARE(rig_->rootSaved, 1);

    // Without the read timer, a bad frame leaves the failure until the next command.
    rig_->readTimer.stop();
    ClearReceiveBuffer();
    ExchangeState = ExchangeIdle;
    Feed(stray);
    Spin(150);
    QCOMPARE(ExchangeState, state);
    QVERIFY(SameRecord(DeviceConfig, before));
    QVERIFY(TakeRequest(1, 300).isEmpty());  // nothing was sent in reply to stray bytes
}

void TestConfigAnswers::answerOfWrongLengthFillsNothing_data()
{
    QTest::addColumn<int>("block");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("short good frame for block 1") << 1 << WithCrc(Hex("0A03021234"));
    QTest::newRow("block 2 answer for block 1") << 1 << ReadAnswer(15, 0x4444);
    QTest::newRow("late block 1 answer for block 2") << 2 << ReadAnswer(38, 0x5555);
    QTest::newRow("short good frame for block 2") << 2 << WithCrc(Hex("0A0300"));
}

void TestConfigAnswers::answerOfWrongLengthFillsNothing()
{
    QFETCH(int, block);
    QFETCH(QByteArray, answer);
    DeviceConfig = EditedRecord();
    rig_->exchange->StartRead();
    QCOMPARE(TakeRequest(8), Hex("0A03000000266BC5"));
    if (block == 2) {
        Feed(ReadAnswer(38, 0x0100));
        QCOMPARE(TakeRequest(8), Hex("0A030026000F7EE5"));
    }
    const TDeviceConfig before = DeviceConfig;
    Feed(answer);
    QVERIFY(WaitFor([&] { return rig_->ReadOver(); }, 500));
    QVERIFY(SameRecord(DeviceConfig, before));
    QVERIFY(TakeRequest(8, 300).isEmpty());  // the read ended: no further request
    QCOMPARE(rig_->rootSaved, 0);
    QCOMPARE(rig_->rootShown, 0);
    Spin(1200);
    QVERIFY(rig_->warnings.isEmpty());  // ended as after a bad CRC: silently
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int status = 0;
    {
        TestConfigExchange t;
        status |= QTest::qExec(&t, argc, argv);
    }
    {
        TestConfigAnswers t;
        status |= QTest::qExec(&t, argc, argv);
    }
    return status;
}

#include "tst_configexchange.moc"
