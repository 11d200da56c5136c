// Frames, CRC and the rules by which a receive handler judges the shared answer buffer.
#include "CPort.h"
#include "Globals.h"
#include "Receive.h"
#include "modbus.h"

#include <QtTest>

#include <climits>
#include <cstdlib>
#include <vector>

using Bytes = std::vector<uint8_t>;
Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(QList<int>)

namespace {

// The CRC computed bit by bit, without the table.
uint16_t BitwiseCrc(const Bytes &data)
{
    uint16_t crc = 0xFFFF;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

Bytes Hex(const char *text)
{
    const QByteArray raw = QByteArray::fromHex(QByteArray(text));
    return Bytes(raw.begin(), raw.end());
}

Bytes WithCrc(Bytes frame)
{
    const uint16_t crc = BitwiseCrc(frame);
    frame.push_back(uint8_t(crc >> 8));
    frame.push_back(uint8_t(crc & 0xFF));
    return frame;
}

enum Rule { ModeRule, MainRuleRead, MainRuleWrite };

bool Complete(Rule rule)
{
    switch (rule) {
    case ModeRule: return ModeAnswerComplete();
    case MainRuleRead: return MainAnswerComplete(1);
    case MainRuleWrite: return MainAnswerComplete(4);
    }
    return false;
}

// Feeds the answer in pieces of the given sizes, as receive events would; returns the
// events (1-based) after which the rule said complete.
QList<int> Feed(const Bytes &answer, const QList<int> &pieces, Rule rule)
{
    QList<int> verdicts;
    size_t at = 0;
    for (int event = 0; event < pieces.size(); ++event) {
        const size_t size = std::min<size_t>(size_t(pieces[event]), answer.size() - at);
        AppendToReceiveBuffer(answer.data() + at, int(size));
        at += size;
        if (Complete(rule))
            verdicts.append(event + 1);
    }
    return verdicts;
}

} // namespace

class TestModbus : public QObject {
    Q_OBJECT
private slots:
    void init() { ClearReceiveBuffer(); }

    void requestCrc_data();
    void requestCrc();
    void crcMatchesBitwiseOnRandomData();
    void configWriteFrame();

    void completeness_data();
    void completeness();
    void statusAnswerCompleteAtSixHoweverSplit();
    void fewerThanFiveBytesNeverComplete();
    void floodStaysInBufferAndNeverCompletes();
    void lengthSaturates();
    void crcCheckRefusesLengthsOutsideBuffer();
};

void TestModbus::requestCrc_data()
{
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<Bytes>("frame");
    const struct { const char *name; int function, first, second; const char *frame; } rows[] = {
        {"config block 1", 3, 0, 38, "0A0300000026 6BC5"},
        {"config block 2", 3, 38, 15, "0A0300260 00F 7EE5"},
        {"TPU1 values", 4, 0, 40, "0A0400000028 6FF1"},
        {"TPU2 values", 4, 40, 40, "0A0400280028 6771"},
        {"TPR values", 4, 80, 12, "0A040050000C 65F1"},
        {"frequency counter values", 4, 94, 8, "0A04005E0008 6591"},
        {"pulse pack values", 4, 102, 4, "0A0400660004 AD10"},
        {"TQ values", 4, 106, 6, "0A04006A0006 6F51"},
        {"TPU imitation values", 4, 112, 2, "0A0400700002 6B71"},
        {"status 8 coils", 1, 0, 8, "0A0100000008 B73C"},
        {"status 9 coils", 1, 0, 9, "0A0100000009 77FD"},
        {"coil 0 on", 5, 0, 0xFF00, "0A050000FF00 418D"},
        {"coil 0 off", 5, 0, 0, "0A0500000000 B1CC"},
        {"coil 1 on", 5, 1, 0xFF00, "0A050001FF00 81DC"},
        {"coil 1 off", 5, 1, 0, "0A0500010000 719D"},
        {"coil 2 on", 5, 2, 0xFF00, "0A050002FF00 812C"},
        {"coil 2 off", 5, 2, 0, "0A0500020000 716D"},
        {"coil 3 on", 5, 3, 0xFF00, "0A050003FF00 417D"},
        {"coil 3 off", 5, 3, 0, "0A0500030000 B13C"},
        {"coil 4 on", 5, 4, 0xFF00, "0A050004FF00 80CC"},
        {"coil 4 off", 5, 4, 0, "0A0500040000 708D"},
        {"coil 5 on", 5, 5, 0xFF00, "0A050005FF00 409D"},
        {"coil 5 off", 5, 5, 0, "0A0500050000 B0DC"},
        {"coil 6 on", 5, 6, 0xFF00, "0A050006FF00 406D"},
        {"coil 6 off", 5, 6, 0, "0A0500060000 B02C"},
        {"coil 7 on", 5, 7, 0xFF00, "0A050007FF00 803C"},
        {"coil 7 off", 5, 7, 0, "0A0500070000 707D"},
        {"coil 8 on", 5, 8, 0xFF00, "0A050008FF00 830C"},
        {"coil 8 off", 5, 8, 0, "0A0500080000 734D"},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << row.function << row.first << row.second
                                << Hex(QByteArray(row.frame).replace(' ', "").constData());
}

void TestModbus::requestCrc()
{
    QFETCH(int, function);
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(Bytes, frame);
    QCOMPARE(frame.size(), size_t(8));
    const uint16_t crc = ModbusCrc16(frame.data(), 6);
    QCOMPARE(int(crc >> 8), int(frame[6]));
    QCOMPARE(int(crc & 0xFF), int(frame[7]));
    const auto built = BuildShortRequest(uint8_t(function), uint16_t(first), uint16_t(second));
    QCOMPARE(Bytes(built.begin(), built.end()), frame);
}

void TestModbus::crcMatchesBitwiseOnRandomData()
{
    const Bytes check{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    QCOMPARE(ModbusCrc16(check.data(), uint16_t(check.size())), uint16_t(0x4B37));
    std::srand(7);
    for (int round = 0; round < 200; ++round) {
        Bytes data(size_t(1 + std::rand() % 300));
        for (auto &b : data)
            b = uint8_t(std::rand());
        QCOMPARE(ModbusCrc16(data.data(), uint16_t(data.size())), BitwiseCrc(data));
    }
}

void TestModbus::configWriteFrame()
{
    std::array<uint8_t, 106> registers{};
    for (size_t i = 0; i < registers.size(); ++i)
        registers[i] = uint8_t(i * 7 + 1);
    const auto frame = BuildConfigWriteRequest(registers);
    QCOMPARE(Bytes(frame.begin(), frame.begin() + 7), Hex("0A100000003 56A"));
    QCOMPARE(Bytes(frame.begin() + 7, frame.begin() + 113), Bytes(registers.begin(), registers.end()));
    const uint16_t crc = BitwiseCrc(Bytes(frame.begin(), frame.begin() + 113));
    QCOMPARE(int(frame[113]), int(crc >> 8));
    QCOMPARE(int(frame[114]), int(crc & 0xFF));
}

void TestModbus::completeness_data()
{
    QTest::addColumn<Bytes>("answer");
    QTest::addColumn<QList<int>>("pieces");
    QTest::addColumn<int>("rule");
    QTest::addColumn<QList<int>>("verdicts");  // events after which the answer is complete
    QTest::addColumn<bool>("crcGood");

    const Bytes status = WithCrc(Hex("0A010105"));
    const Bytes echo = WithCrc(Hex("0A050000FF00"));
    const Bytes writeReply = WithCrc(Hex("0A1000000035"));
    const Bytes exception = WithCrc(Hex("0A8302"));
    const Bytes tcStatus = WithCrc(Hex("0A01020001"));
    Bytes lowHigh = status;
    std::swap(lowHigh[4], lowHigh[5]);
    Bytes values = Hex("0A0450");
    values.resize(83, 0x11);
    values = WithCrc(values);

    QTest::newRow("status in one event") << status << QList<int>{6} << int(ModeRule) << QList<int>{1} << true;
    QTest::newRow("9-coil status") << tcStatus << QList<int>{3, 4} << int(ModeRule) << QList<int>{2} << true;
    QTest::newRow("85-byte values in pieces") << values << QList<int>{1, 40, 40, 4} << int(ModeRule) << QList<int>{4} << true;
    QTest::newRow("coil echo: not at 5, at 8") << echo << QList<int>{5, 3} << int(ModeRule) << QList<int>{2} << true;
    QTest::newRow("coil echo byte by byte") << echo << QList<int>{1, 1, 1, 1, 1, 1, 1, 1} << int(ModeRule) << QList<int>{8} << true;
    QTest::newRow("main write echo awaited") << writeReply << QList<int>{8} << int(MainRuleWrite) << QList<int>{1} << true;
    QTest::newRow("main write echo in pieces") << writeReply << QList<int>{5, 3} << int(MainRuleWrite) << QList<int>{2} << true;
    QTest::newRow("8 bytes while a read is awaited") << writeReply << QList<int>{8} << int(MainRuleRead) << QList<int>{} << false;
    QTest::newRow("read rule meets 5 bytes of an echo") << writeReply << QList<int>{5, 3} << int(MainRuleRead) << QList<int>{1} << false;
    QTest::newRow("main read answer") << values << QList<int>{85} << int(MainRuleRead) << QList<int>{1} << true;
    QTest::newRow("main read answer while a write is awaited") << values << QList<int>{85} << int(MainRuleWrite) << QList<int>{} << false;
    QTest::newRow("exception, mode") << exception << QList<int>{5} << int(ModeRule) << QList<int>{} << false;
    QTest::newRow("exception, main read") << exception << QList<int>{2, 3} << int(MainRuleRead) << QList<int>{} << false;
    QTest::newRow("exception, main write") << exception << QList<int>{5} << int(MainRuleWrite) << QList<int>{} << false;
    QTest::newRow("CRC low byte first") << lowHigh << QList<int>{6} << int(ModeRule) << QList<int>{1} << false;
    Bytes trailing = status;
    trailing.insert(trailing.end(), {0x0A, 0x01, 0x01});
    QTest::newRow("bytes after completion") << trailing << QList<int>{6, 1, 1, 1} << int(ModeRule) << QList<int>{1} << true;
    QTest::newRow("answer and trailing bytes in one event") << trailing << QList<int>{9} << int(ModeRule) << QList<int>{} << false;
}

void TestModbus::completeness()
{
    QFETCH(Bytes, answer);
    QFETCH(QList<int>, pieces);
    QFETCH(int, rule);
    QFETCH(QList<int>, verdicts);
    QFETCH(bool, crcGood);
    QCOMPARE(Feed(answer, pieces, Rule(rule)), verdicts);
    if (!verdicts.isEmpty()) {
        // Judge the CRC as the handler does at the moment of completeness: replay up to it.
        ClearReceiveBuffer();
        int upTo = 0;
        for (int i = 0; i < verdicts.first(); ++i)
            upTo += pieces[i];
        AppendToReceiveBuffer(answer.data(), upTo);
        QCOMPARE(AnswerCrcGood(), crcGood);
    }
}

void TestModbus::statusAnswerCompleteAtSixHoweverSplit()
{
    const Bytes status = WithCrc(Hex("0A0101FF"));
    // Every way of cutting 6 bytes into receive events: 32 of them.
    for (unsigned cuts = 0; cuts < 32; ++cuts) {
        QList<int> pieces;
        int size = 1;
        for (int i = 0; i < 5; ++i) {
            if (cuts & (1u << i)) {
                pieces.append(size);
                size = 1;
            } else {
                ++size;
            }
        }
        pieces.append(size);
        ClearReceiveBuffer();
        QCOMPARE(Feed(status, pieces, ModeRule), QList<int>{int(pieces.size())});
        QVERIFY(AnswerCrcGood());
    }
}

void TestModbus::fewerThanFiveBytesNeverComplete()
{
    // Stale bytes from an earlier answer stay in the buffer behind a cleared length.
    for (int stale : {0x00, 0x01, 0x03, 0x05, 0x80, 0xFF}) {
        for (int length = 0; length < 5; ++length) {
            std::memset(ReceiveBuffer, stale, sizeof ReceiveBuffer);
            ReceiveLength = 0;
            const Bytes piece(static_cast<size_t>(length), static_cast<uint8_t>(stale));
            AppendToReceiveBuffer(piece.data(), length);
            QVERIFY(!ModeAnswerComplete());
            QVERIFY(!MainAnswerComplete(1));
            QVERIFY(!MainAnswerComplete(4));
            QVERIFY(!AnswerCrcGood());
        }
    }
}

void TestModbus::floodStaysInBufferAndNeverCompletes()
{
    for (uint8_t fill : {uint8_t(0xFF), uint8_t(0x77)}) {
        ClearReceiveBuffer();
        Bytes flood(10 * 1024);
        for (size_t i = 0; i < flood.size(); ++i)
            flood[i] = i == 2 ? fill : uint8_t(i * 13);
        size_t at = 0;
        int verdicts = 0;
        int piece = 1;
        while (at < flood.size()) {
            const size_t size = std::min(flood.size() - at, size_t(piece));
            AppendToReceiveBuffer(flood.data() + at, int(size));
            at += size;
            if (ModeAnswerComplete() || MainAnswerComplete(1) || MainAnswerComplete(4))
                ++verdicts;
            piece = piece % 97 + 3;
        }
        // 0xFF asks for 260 bytes, which cannot fit; 0x77 asks for 124, which fit exactly,
        // but the flood went past them in the same event.
        QCOMPARE(verdicts, 0);
        QCOMPARE(ReceiveLength, int32_t(flood.size()));
        QVERIFY(std::equal(ReceiveBuffer, ReceiveBuffer + ReceiveBufferSize, flood.begin()));
        QVERIFY(!AnswerCrcGood());
    }
    // A full buffer that completed once gives no verdict at any later event.
    ClearReceiveBuffer();
    Bytes full = Hex("0A0477");
    full.resize(122, 0x42);
    full = WithCrc(full);
    AppendToReceiveBuffer(full.data(), int(full.size()));
    QVERIFY(ModeAnswerComplete());
    QVERIFY(AnswerCrcGood());
    for (int i = 0; i < 50; ++i) {
        const uint8_t more = 0x42;
        AppendToReceiveBuffer(&more, 1);
        QVERIFY(!ModeAnswerComplete());
        QVERIFY(!AnswerCrcGood());
    }
    QVERIFY(std::equal(full.begin(), full.end(), ReceiveBuffer));
}

void TestModbus::lengthSaturates()
{
    ReceiveLength = INT32_MAX - 3;
    const Bytes piece(100, 0x0A);
    AppendToReceiveBuffer(piece.data(), int(piece.size()));
    QCOMPARE(ReceiveLength, INT32_MAX);
    AppendToReceiveBuffer(piece.data(), int(piece.size()));
    QCOMPARE(ReceiveLength, INT32_MAX);
    QVERIFY(!ModeAnswerComplete());
    // A negative count never indexes before the buffer.
    ReceiveLength = -5;
    AppendToReceiveBuffer(piece.data(), 3);
    QCOMPARE(ReceiveLength, 3);
}

void TestModbus::crcCheckRefusesLengthsOutsideBuffer()
{
    for (int32_t length : {INT32_MIN, -1, 0, 4, 125, 260, INT32_MAX}) {
        ReceiveLength = length;
        QVERIFY2(!AnswerCrcGood(), qPrintable(QString::number(length)));
        QVERIFY(!ModeAnswerComplete());
        QVERIFY(!MainAnswerComplete(4));
    }
}

QTEST_GUILESS_MAIN(TestModbus)
#include "tst_modbus.moc"
