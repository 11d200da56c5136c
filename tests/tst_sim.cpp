// The device stand-in, driven over a real pty the way the program talks to it.
#include "Globals.h"
#include "SimClient.h"
#include "SimFixture.h"
#include "modbus.h"

#include <QProcess>
#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using Bytes = std::vector<uint8_t>;
Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(sim::Fault)

namespace {

// Judges bytes with the program's own mode-window rules.
bool ProgramAccepts(const Bytes &answer, bool *complete = nullptr)
{
    ClearReceiveBuffer();
    AppendToReceiveBuffer(answer.data(), int(answer.size()));
    const bool done = ModeAnswerComplete();
    if (complete)
        *complete = done;
    return done && AnswerCrcGood();
}

uint32_t U32At(const Bytes &answer, size_t at)  // word-swapped, as the device sends it
{
    return uint32_t(answer[at + 2]) << 24 | uint32_t(answer[at + 3]) << 16 | uint32_t(answer[at]) << 8 | answer[at + 1];
}

float FloatAt(const Bytes &answer, size_t at)
{
    return sim::FloatFromBits(U32At(answer, at));
}

bool IsLink(const std::string &path)
{
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

} // namespace

class TestSim : public QObject {
    Q_OBJECT
private:
    SimFixture sim_;
    SimClient client_;

    void StartDevice(sim::SimOptions options = {})
    {
        client_.Close();
        QVERIFY(sim_.Start(options));
        QVERIFY(client_.Open(sim_->LinkPath()));
    }

private slots:
    void init() { StartDevice(); }
    void cleanup()
    {
        client_.Close();
        sim_.Discard();
    }

    void answersEveryProgramRequest_data();
    void answersEveryProgramRequest();
    void configWriteIsKeptAndReadBack();
    void coilWritesAreKept();
    void replyIsPacedAtLineSpeed();
    void exceptionReplies_data();
    void exceptionReplies();
    void ignoresBadCrcAndOtherSlave();
    void standardCrcOrder();
    void runningModesMove_data();
    void runningModesMove();
    void modeEndsByItself();
    void faultOnCommand_data();
    void faultOnCommand();
    void queuedFaultsRunOut();
    void hangUpAndPlugBackIn();
    void randomFaultsFollowTheSeed();
    void linkRemovedOnStopOnlyIfOurs();
    void programPublishesAndCleansUp();
    void programRefusesBadCommandLine_data();
    void programRefusesBadCommandLine();
};

void TestSim::answersEveryProgramRequest_data()
{
    QTest::addColumn<Bytes>("request");
    QTest::addColumn<int>("length");
    const struct { const char *name; uint8_t function; uint16_t first, second; int length; } rows[] = {
        {"config block 1", 3, 0, 38, 81},      {"config block 2", 3, 38, 15, 35},
        {"TPU1 values", 4, 0, 40, 85},         {"TPU2 values", 4, 40, 40, 85},
        {"TPR values", 4, 80, 12, 29},         {"frequency counter", 4, 94, 8, 21},
        {"pulse pack", 4, 102, 4, 13},         {"TQ", 4, 106, 6, 17},
        {"TPU imitation", 4, 112, 2, 9},       {"status 8 coils", 1, 0, 8, 6},
        {"status 9 coils", 1, 0, 9, 7},        {"coil 6 on", 5, 6, 0xFF00, 8},
        {"coil 8 off", 5, 8, 0, 8},
    };
    for (const auto &row : rows) {
        const auto frame = BuildShortRequest(row.function, row.first, row.second);
        QTest::newRow(row.name) << Bytes(frame.begin(), frame.end()) << row.length;
    }
}

void TestSim::answersEveryProgramRequest()
{
    QFETCH(Bytes, request);
    QFETCH(int, length);
    const Bytes answer = client_.Transact(request, size_t(length) + 1, 600);
    QCOMPARE(int(answer.size()), length);  // and nothing after it
    bool complete = false;
    QVERIFY(ProgramAccepts(answer, &complete));
    QCOMPARE(answer[0], uint8_t(10));
    QCOMPARE(answer[1], request[1]);
    if (request[1] == 5) {
        QCOMPARE(answer, request);
    } else if (request[1] == 3) {
        const int start = request[2] << 8 | request[3];
        for (int r = 0; r < (length - 5) / 2; ++r)
            QCOMPARE(uint16_t(answer[3 + 2 * r] << 8 | answer[4 + 2 * r]), sim_->Holding(start + r));
    }
    const auto log = sim_->Log();
    QCOMPARE(log.size(), size_t(2));
    QCOMPARE(log[0].Bytes, request);
    QVERIFY(log[0].CrcGood);
    QCOMPARE(log[1].Bytes, answer);
    QVERIFY(log[1].CrcGood);
}

void TestSim::configWriteIsKeptAndReadBack()
{
    std::array<uint8_t, 106> data{};
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(0xC3 ^ (i * 11));
    const auto frame = BuildConfigWriteRequest(data);
    const Bytes reply = client_.Transact(Bytes(frame.begin(), frame.end()), 9, 800);
    QCOMPARE(reply, WithDeviceCrc({10, 16, 0, 0, 0, 53}));
    ClearReceiveBuffer();
    AppendToReceiveBuffer(reply.data(), int(reply.size()));
    QVERIFY(MainAnswerComplete(4) && AnswerCrcGood());

    Bytes readBack;
    for (auto [first, count] : {std::pair<uint16_t, uint16_t>{0, 38}, {38, 15}}) {
        const Bytes answer = client_.Transact(SimRequest(3, first, count), size_t(2 * count + 5), 800);
        QCOMPARE(int(answer.size()), 2 * count + 5);
        readBack.insert(readBack.end(), answer.begin() + 3, answer.end() - 2);
    }
    QCOMPARE(readBack, Bytes(data.begin(), data.end()));
    QCOMPARE(sim_->Holding(52), uint16_t(data[104] << 8 | data[105]));
}

void TestSim::coilWritesAreKept()
{
    for (int coil : {6, 8, 2}) {
        const Bytes on = SimRequest(5, uint16_t(coil), 0xFF00);
        QCOMPARE(client_.Transact(on, 8), on);
        QVERIFY(sim_->Coil(coil));
    }
    const Bytes status = client_.Transact(SimRequest(1, 0, 9), 7);
    QVERIFY(ProgramAccepts(status));
    QCOMPARE(int(status[3]), 0x44);  // coils 2 and 6
    QCOMPARE(int(status[4]), 0x01);  // coil 8
    const Bytes off = SimRequest(5, 6, 0);
    QCOMPARE(client_.Transact(off, 8), off);
    const Bytes after = client_.Transact(SimRequest(1, 0, 8), 6);
    QVERIFY(ProgramAccepts(after));
    QCOMPARE(int(after[3]), 0x04);
}

void TestSim::replyIsPacedAtLineSpeed()
{
    const Bytes answer = client_.Transact(SimRequest(4, 0, 40), 85, 1000);
    QCOMPARE(answer.size(), size_t(85));
    const auto &arrivals = client_.Arrivals();
    const double first = SimMs(client_.SentAt(), arrivals.front().Time);
    const double last = SimMs(client_.SentAt(), arrivals.back().Time);
    // The request takes 9.2 ms on the line and the turnaround 5 ms before the first byte;
    // the answer itself 97 ms.
    QVERIFY2(first >= 12, qPrintable(QString::number(first)));
    QVERIFY2(last - first >= 80 && last - first <= 400, qPrintable(QString::number(last - first)));
    QVERIFY2(arrivals.size() >= 10, qPrintable(QString::number(arrivals.size())));
    // The log's times agree with the line: the reply's span is 85 byte times.
    const auto log = sim_->Log();
    QCOMPARE(log.size(), size_t(2));
    const double span = SimMs(log[1].Time, log[1].End);
    QVERIFY(std::abs(span - 85 * sim_->ByteTimeMs()) < 0.5);
}

void TestSim::exceptionReplies_data()
{
    QTest::addColumn<Bytes>("request");
    QTest::addColumn<int>("code");
    QTest::newRow("function 2") << SimRequest(2, 0, 8) << 1;
    QTest::newRow("function 6") << SimRequest(6, 0, 1) << 1;
    QTest::newRow("function 15") << WithDeviceCrc({10, 15, 0, 0, 0, 8, 1, 0xFF}) << 1;
    QTest::newRow("holding past 52") << SimRequest(3, 50, 4) << 2;
    QTest::newRow("input past 113") << SimRequest(4, 110, 8) << 2;
    QTest::newRow("coils past 8") << SimRequest(1, 0, 10) << 2;
    QTest::newRow("coil 9") << SimRequest(5, 9, 0xFF00) << 2;
    QTest::newRow("read count 0") << SimRequest(4, 0, 0) << 3;
    QTest::newRow("read count 126") << SimRequest(3, 0, 126) << 3;
    QTest::newRow("coil value 1234") << SimRequest(5, 0, 0x1234) << 3;
    QTest::newRow("coil value 00FF") << SimRequest(5, 0, 0x00FF) << 3;
    QTest::newRow("write byte count wrong") << WithDeviceCrc({10, 16, 0, 0, 0, 2, 3, 1, 2, 3}) << 3;
    QTest::newRow("write past 52") << WithDeviceCrc({10, 16, 0, 52, 0, 2, 4, 1, 2, 3, 4}) << 2;
}

void TestSim::exceptionReplies()
{
    QFETCH(Bytes, request);
    QFETCH(int, code);
    const std::array<uint16_t, 53> before = sim_->WithModel([](sim::SimModel &m) {
        std::array<uint16_t, 53> regs{};
        for (int r = 0; r < 53; ++r)
            regs[size_t(r)] = m.Holding(r);
        return regs;
    });
    const Bytes reply = client_.Transact(request, 6, 600);
    QCOMPARE(reply, WithDeviceCrc({10, uint8_t(request[1] | 0x80), uint8_t(code)}));
    bool complete = true;
    ProgramAccepts(reply, &complete);
    QVERIFY(!complete);  // the program lets it run into its time-out
    for (int r = 0; r < 53; ++r)
        QCOMPARE(sim_->Holding(r), before[size_t(r)]);
    for (int c = 0; c < sim::CoilCount; ++c)
        QVERIFY(!sim_->Coil(c));
}

void TestSim::ignoresBadCrcAndOtherSlave()
{
    Bytes badCrc = SimRequest(1, 0, 8);
    std::swap(badCrc[6], badCrc[7]);  // the usual Modbus order is wrong for this device
    const Bytes otherSlave = SimRequest(1, 0, 8, 11);
    const Bytes broadcast = SimRequest(5, 6, 0xFF00, 0);
    for (const Bytes &request : {badCrc, otherSlave, broadcast}) {
        QVERIFY(client_.Transact(request, 1, 300).empty());
    }
    QVERIFY(!sim_->Coil(6));
    // Still listening afterwards.
    QCOMPARE(client_.Transact(SimRequest(1, 0, 8), 6).size(), size_t(6));
    const auto log = sim_->Log();
    QCOMPARE(log.size(), size_t(5));
    QCOMPARE(log[0].Note, std::string("ignored: bad CRC"));
    QCOMPARE(log[1].Note, std::string("ignored: slave 11"));
    QCOMPARE(log[2].Note, std::string("ignored: slave 0"));
    QCOMPARE(log[4].Kind, sim::LogEntry::Reply);
}

// With the standard CRC order the device takes and gives the low byte first, echoes too,
// and ignores requests in its own order.
void TestSim::standardCrcOrder()
{
    sim::SimOptions options;
    options.CrcLowFirst = true;
    StartDevice(options);
    auto lowFirst = [](Bytes frame) {
        std::swap(frame[frame.size() - 2], frame[frame.size() - 1]);
        return frame;
    };
    QVERIFY(client_.Transact(SimRequest(1, 0, 8), 1, 300).empty());
    const Bytes on = lowFirst(SimRequest(5, 6, 0xFF00));
    QCOMPARE(client_.Transact(on, 8), on);
    const Bytes status = client_.Transact(lowFirst(SimRequest(1, 0, 8)), 6);
    QCOMPARE(status, lowFirst(WithDeviceCrc({10, 1, 1, 0x40})));
    const Bytes read = client_.Transact(lowFirst(SimRequest(3, 0, 53)), 111);
    QCOMPARE(read.size(), size_t(111));
    QVERIFY(ProgramAccepts(lowFirst(read)));
}

void TestSim::runningModesMove_data()
{
    QTest::addColumn<int>("coil");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("counterByte");  // answer offset of a count that must grow
    QTest::addColumn<int>("floatByte");    // answer offset of a reading that must be plausible, or -1
    QTest::newRow("TPR by TPU1, S2") << 0 << 0 << 40 << 23 << 3;
    QTest::newRow("TPR by TPU2, S2") << 1 << 40 << 40 << 23 << 3;
    QTest::newRow("TPR by TPR, channel 1") << 2 << 80 << 12 << 19 << 3;
    QTest::newRow("pulse pack, N2") << 3 << 102 << 4 << 3 << -1;
    QTest::newRow("TQ, pulses out") << 4 << 106 << 6 << 3 << 11;
    QTest::newRow("TPU imitation") << 5 << 112 << 2 << 3 << -1;
}

void TestSim::runningModesMove()
{
    QFETCH(int, coil);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(int, counterByte);
    QFETCH(int, floatByte);
    sim_->SetHolding(27, 0);  // no delay before a pulse pack
    const Bytes values = SimRequest(4, uint16_t(start), uint16_t(count));
    const size_t length = size_t(2 * count + 5);

    const Bytes idle = client_.Transact(values, length);
    QVERIFY(ProgramAccepts(idle));
    const Bytes on = SimRequest(5, uint16_t(coil), 0xFF00);
    QCOMPARE(client_.Transact(on, 8), on);
    const Bytes status = client_.Transact(SimRequest(1, 0, 8), 6);
    QVERIFY(ProgramAccepts(status));
    QVERIFY(status[3] & (1 << coil));

    const Bytes early = client_.Transact(values, length);
    QTest::qWait(900);
    const Bytes later = client_.Transact(values, length);
    QVERIFY(ProgramAccepts(early) && ProgramAccepts(later));
    QVERIFY2(U32At(later, size_t(counterByte)) > U32At(early, size_t(counterByte)),
             qPrintable(QStringLiteral("%1 -> %2").arg(U32At(early, size_t(counterByte))).arg(U32At(later, size_t(counterByte)))));
    if (floatByte >= 0) {
        const float reading = FloatAt(later, size_t(floatByte));
        QVERIFY2(reading > 1 && reading < 1e6, qPrintable(QString::number(reading)));
    }

    // Switched off, the counters stand still.
    const Bytes off = SimRequest(5, uint16_t(coil), 0);
    QCOMPARE(client_.Transact(off, 8), off);
    const Bytes stopped = client_.Transact(values, length);
    QTest::qWait(400);
    const Bytes stillStopped = client_.Transact(values, length);
    QCOMPARE(U32At(stillStopped, size_t(counterByte)), U32At(stopped, size_t(counterByte)));
}

void TestSim::modeEndsByItself()
{
    // The model alone, with time handed to it: a pulse pack stops at its preset count and
    // a TPU imitation at its number of pulses; the frequency counter always measures.
    sim::SimModel model;
    model.SetHoldingU32(22, 30);         // pack N
    model.SetHoldingFloat(24, 100.0f);   // pack f
    model.SetHolding(27, 2);             // 0.5 s delay
    model.SetHolding(35, 0);             // 0.2 s pulses
    model.SetHoldingU32(36, 4);
    model.SetCoil(sim::CoilPulsePack, true);
    model.SetCoil(sim::CoilTpuImitation, true);
    model.Advance(0.4);
    QCOMPARE(model.InputU32(102), 0u);  // still in its delay
    QCOMPARE(model.InputU32(112), 1u);
    model.Advance(0.2);
    QCOMPARE(model.InputU32(102), 10u);
    QVERIFY(model.Coil(sim::CoilPulsePack));
    for (int i = 0; i < 20; ++i)
        model.Advance(0.1);
    QCOMPARE(model.InputU32(102), 30u);
    QCOMPARE(model.InputU32(104), 30u);
    QVERIFY(!model.Coil(sim::CoilPulsePack));
    QCOMPARE(model.InputU32(112), 4u);
    QVERIFY(!model.Coil(sim::CoilTpuImitation));
    const float frequency = model.InputFloat(94);
    const float period = model.InputFloat(98);
    QVERIFY(frequency > 900 && frequency < 1100);
    QVERIFY(std::abs(frequency * period - 1e6f) < 1e3f);
    // Starting again begins from zero.
    model.SetCoil(sim::CoilTpuImitation, true);
    QCOMPARE(model.InputU32(112), 0u);
}

void TestSim::faultOnCommand_data()
{
    QTest::addColumn<sim::Fault>("fault");
    QTest::newRow("no reply") << sim::Fault::NoReply;
    QTest::newRow("bad CRC") << sim::Fault::BadCrc;
    QTest::newRow("CRC low-high") << sim::Fault::CrcLowHigh;
    QTest::newRow("split") << sim::Fault::Split;
    QTest::newRow("trailing") << sim::Fault::Trailing;
    QTest::newRow("late") << sim::Fault::Late;
    QTest::newRow("noise") << sim::Fault::Noise;
}

void TestSim::faultOnCommand()
{
    QFETCH(sim::Fault, fault);
    sim::SimOptions options;
    options.LateMs = 700;
    options.SplitPauseMs = 60;
    StartDevice(options);
    const Bytes request = SimRequest(1, 0, 8);
    const Bytes clean = client_.Transact(request, 6);
    QVERIFY(ProgramAccepts(clean));

    sim_->QueueFault(fault);
    client_.Send(request);
    const Bytes got = client_.ReceiveFor(fault == sim::Fault::Late ? 2500 : 700);
    const auto &arrivals = client_.Arrivals();
    switch (fault) {
    case sim::Fault::NoReply:
        QVERIFY(got.empty());
        break;
    case sim::Fault::BadCrc: {
        QCOMPARE(got.size(), size_t(6));
        bool complete = false;
        QVERIFY(!ProgramAccepts(got, &complete));
        QVERIFY(complete);
        QCOMPARE(Bytes(got.begin(), got.begin() + 4), Bytes(clean.begin(), clean.begin() + 4));
        break;
    }
    case sim::Fault::CrcLowHigh:
        QCOMPARE(got, (Bytes{clean[0], clean[1], clean[2], clean[3], clean[5], clean[4]}));
        QVERIFY(!ProgramAccepts(got));
        break;
    case sim::Fault::Split: {
        QCOMPARE(got, clean);
        double longestGap = 0;
        for (size_t i = 1; i < arrivals.size(); ++i)
            longestGap = std::max(longestGap, SimMs(arrivals[i - 1].Time, arrivals[i].Time));
        QVERIFY2(longestGap >= 40, qPrintable(QString::number(longestGap)));
        break;
    }
    case sim::Fault::Trailing:
        QCOMPARE(got.size(), size_t(9));
        QCOMPARE(Bytes(got.begin(), got.begin() + 6), clean);
        QVERIFY(!ProgramAccepts(got));  // past the target length: no verdict
        break;
    case sim::Fault::Late: {
        QCOMPARE(got, clean);
        const double delay = SimMs(client_.SentAt(), arrivals.front().Time);
        QVERIFY2(delay >= 650, qPrintable(QString::number(delay)));
        break;
    }
    case sim::Fault::Noise: {
        QVERIFY(got.size() > 6 && got.size() <= 12);
        QCOMPARE(Bytes(got.begin(), got.begin() + 6), clean);
        // The noise comes after a pause, in a piece of its own.
        QVERIFY(arrivals.size() >= 2);
        size_t seen = 0, i = 0;
        while (seen < 6)
            seen += arrivals[i++].Bytes.size();
        QCOMPARE(seen, size_t(6));
        QVERIFY(SimMs(arrivals[i - 1].Time, arrivals[i].Time) >= 15);
        break;
    }
    default:
        QFAIL("unexpected fault");
    }
    const auto log = sim_->Log();
    QCOMPARE(log[3].Kind, sim::LogEntry::Reply);
    QCOMPARE(log[3].Fault, fault);
    QCOMPARE(log[3].CrcGood, fault != sim::Fault::BadCrc && fault != sim::Fault::CrcLowHigh && fault != sim::Fault::NoReply);
    // The fault was for one reply only.
    QCOMPARE(client_.Transact(request, 7, 500), clean);
}

void TestSim::queuedFaultsRunOut()
{
    const Bytes request = SimRequest(1, 0, 8);
    sim_->QueueFault(sim::Fault::BadCrc, 2);
    sim_->QueueFault(sim::Fault::NoReply, 1);
    QVERIFY(!ProgramAccepts(client_.Transact(request, 6)));
    QVERIFY(!ProgramAccepts(client_.Transact(request, 6)));
    QVERIFY(client_.Transact(request, 6, 300).empty());
    QVERIFY(ProgramAccepts(client_.Transact(request, 6)));
    // Random faults at a rate of one always fault, cleared they stop.
    std::array<double, sim::FaultKindCount> always{};
    always[size_t(sim::Fault::CrcLowHigh)] = 1.0;
    sim_->SetRandomFaults(5, always);
    QVERIFY(!ProgramAccepts(client_.Transact(request, 6)));
    sim_->ClearFaults();
    QVERIFY(ProgramAccepts(client_.Transact(request, 6)));
}

void TestSim::hangUpAndPlugBackIn()
{
    sim::SimOptions options;
    options.ReplugMs = 400;
    StartDevice(options);
    const std::string link = sim_->LinkPath();
    const std::string firstPty = sim_->SlavePath();
    sim_->QueueFault(sim::Fault::HangUp);
    client_.Send(SimRequest(1, 0, 8));
    const Bytes got = client_.Receive(1, 1000);
    QVERIFY(got.empty());
    QVERIFY(client_.HungUp());
    QVERIFY(sim_->WaitForLog([](const auto &log) { return !log.empty() && log.back().Kind == sim::LogEntry::HangUp; }, 1000));
    client_.Close();
    // Back after the pause, at the same link, on a fresh pty.
    QVERIFY(sim_->WaitForLog([](const auto &log) { return log.back().Kind == sim::LogEntry::PlugIn; }, 3000));
    QVERIFY(IsLink(link));
    QCOMPARE(sim_->LinkPath(), link);
    QVERIFY(client_.Open(link));
    QCOMPARE(client_.Transact(SimRequest(1, 0, 8), 6).size(), size_t(6));

    // A hang-up on demand, with the plug put back by hand.
    sim::SimOptions manual;
    manual.ReplugMs = -1;
    StartDevice(manual);
    sim_->HangUpNow();
    QVERIFY(sim_->WaitForLog([](const auto &log) { return !log.empty() && log.back().Kind == sim::LogEntry::HangUp; }, 1000));
    QVERIFY(!IsLink(sim_->LinkPath()));
    QVERIFY(client_.Transact(SimRequest(1, 0, 8), 1, 300).empty());
    client_.Close();
    sim_->PlugBackIn();
    QVERIFY(sim_->WaitForLog([](const auto &log) { return log.back().Kind == sim::LogEntry::PlugIn; }, 1000));
    QVERIFY(client_.Open(sim_->LinkPath()));
    QCOMPARE(client_.Transact(SimRequest(1, 0, 8), 6).size(), size_t(6));
    Q_UNUSED(firstPty);
}

void TestSim::randomFaultsFollowTheSeed()
{
    auto run = [this](uint64_t seed) {
        sim_->ClearLog();
        sim_->SetRandomFaultRate(seed, 0.6);
        std::vector<sim::Fault> faults;
        for (int i = 0; i < 12; ++i) {
            client_.Transact(SimRequest(1, 0, 8), 6, 120);
            client_.ReceiveFor(20);  // let trailing or noise bytes pass
        }
        // Late replies still on their way are not waited for; the log knows the draw.
        for (const auto &entry : sim_->Log())
            if (entry.Kind == sim::LogEntry::Reply)
                faults.push_back(entry.Fault);
        sim_->ClearFaults();
        return faults;
    };
    sim::SimOptions options;
    options.LateMs = 50;
    StartDevice(options);
    const auto first = run(99);
    const auto again = run(99);
    QCOMPARE(first.size(), size_t(12));
    QVERIFY(first == again);
    const int faulty = int(std::count_if(first.begin(), first.end(), [](sim::Fault f) { return f != sim::Fault::None; }));
    QVERIFY2(faulty >= 2 && faulty <= 11, qPrintable(QString::number(faulty)));
    QVERIFY(std::none_of(first.begin(), first.end(), [](sim::Fault f) { return f == sim::Fault::HangUp; }));
}

void TestSim::linkRemovedOnStopOnlyIfOurs()
{
    const std::string link = sim_->LinkPath();
    QVERIFY(IsLink(link));
    char target[256] = {};
    QVERIFY(::readlink(link.c_str(), target, sizeof target - 1) > 0);
    QCOMPARE(std::string(target), sim_->SlavePath());
    client_.Close();
    sim_->Stop();
    QVERIFY(!IsLink(link));

    // Someone else took the name over meanwhile: it stays.
    StartDevice();
    QVERIFY(::unlink(link.c_str()) == 0 && ::symlink("/dev/null", link.c_str()) == 0);
    sim_->Stop();
    QVERIFY(IsLink(link));
    ::unlink(link.c_str());

    // A plain file in the way is not replaced.
    QFile file(QString::fromStdString(link));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    sim::SimOptions options;
    options.LinkPath = link;
    sim::SimDevice blocked(options);
    std::string error;
    QVERIFY(!blocked.Start(&error));
    QVERIFY(!error.empty());
    file.remove();
}

void TestSim::programPublishesAndCleansUp()
{
    const QString link = sim_.Folder() + QStringLiteral("/prog-ttyV0");
    QProcess program;
    program.start(QStringLiteral(KARVEN_SIM_EXE), {QStringLiteral("--link"), link, QStringLiteral("--turnaround"), QStringLiteral("2")});
    QVERIFY(program.waitForStarted(5000));
    QVERIFY(program.waitForReadyRead(5000));
    QVERIFY(program.readAll().contains(link.toUtf8()));
    QVERIFY(IsLink(link.toStdString()));
    SimClient client;
    QVERIFY(client.Open(link.toStdString()));
    const Bytes status = client.Transact(SimRequest(1, 0, 8), 6);
    QVERIFY(ProgramAccepts(status));
    client.Close();
    QDeadlineTimer deadline(5000);
    QByteArray printed;
    while (!printed.contains("B7 3C") && !deadline.hasExpired())
        if (program.waitForReadyRead(100))
            printed += program.readAll();
    QVERIFY2(printed.contains("0A 01 00 00 00 08 B7 3C"), printed.constData());
    program.terminate();  // SIGTERM
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(!IsLink(link.toStdString()));
}

void TestSim::programRefusesBadCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("named");  // what the refusal must name
    QTest::newRow("unknown option") << QStringList{"--quiet", "--bogus"} << "unknown option '--bogus'";
    QTest::newRow("not a number") << QStringList{"--baud", "fast"} << "--baud takes a line speed";
    QTest::newRow("speed too low") << QStringList{"--baud", "100"} << "not '100'";
    QTest::newRow("infinite speed") << QStringList{"--baud", "inf"} << "not 'inf'";
    QTest::newRow("rate above 1") << QStringList{"--fault-rate", "1.5"} << "--fault-rate takes a share from 0 to 1";
    QTest::newRow("seed NaN") << QStringList{"--seed", "nan"} << "not 'nan'";
    QTest::newRow("value missing") << QStringList{"--turnaround"} << "--turnaround needs a number";
    QTest::newRow("path missing") << QStringList{"--link"} << "--link needs a path";
    QTest::newRow("prover figure without the prover") << QStringList{"--sigma", "0.1"} << "--sigma sets up the prover: give --prover too";
    QTest::newRow("no such section") << QStringList{"--prover", "--volume", "2-3=5"} << "--volume takes 1-2=L or 3-4=L";
    QTest::newRow("no K-factor") << QStringList{"--prover", "--k-factor", "0"} << "--k-factor takes pulses per litre, above 0";
    QTest::newRow("unknown update") << QStringList{"--prover", "--update", "sideways"} << "--update takes detector or travel";
}

// A bad command line ends at once with status 2, naming the option, and publishes nothing.
void TestSim::programRefusesBadCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);
    QProcess wrong;
    wrong.start(QStringLiteral(KARVEN_SIM_EXE), arguments);
    QVERIFY(wrong.waitForFinished(5000));
    QCOMPARE(wrong.exitCode(), 2);
    QVERIFY(wrong.readAllStandardOutput().isEmpty());
    const QString error = QString::fromUtf8(wrong.readAllStandardError());
    QVERIFY2(error.startsWith(QStringLiteral("karven-sim: ")) && error.contains(named), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
