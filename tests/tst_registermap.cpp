// The configuration record against the device's holding registers.
#include "Globals.h"
#include "RegisterMap.h"
#include "ResetGlobals.h"

#include <QtTest>

#include <bit>
#include <cstring>
#include <vector>

namespace {

// A function-3 answer for one block: header, then the given register values.
std::vector<uint8_t> BlockAnswer(int block, const std::vector<uint16_t> &regs)
{
    const int count = block == 1 ? ConfigBlock1Count : ConfigBlock2Count;
    std::vector<uint8_t> a(3 + 2 * count + 2, 0);
    a[0] = 10;
    a[1] = 3;
    a[2] = uint8_t(2 * count);
    for (size_t k = 0; k < regs.size() && int(k) < count; ++k) {
        a[3 + 2 * k] = uint8_t(regs[k] >> 8);
        a[4 + 2 * k] = uint8_t(regs[k]);
    }
    return a;
}

uint16_t RegisterOf(const std::array<uint8_t, 106> &data, int r)
{
    return uint16_t(data[2 * r] << 8 | data[2 * r + 1]);
}

// A record with a distinct non-zero value in every field.
TDeviceConfig FilledConfig()
{
    TDeviceConfig c{};
    uint32_t seed = 0x9E3779B9u;
    for (const ConfigField &f : ConfigFields()) {
        seed = seed * 1664525u + 1013904223u;
        std::visit(
            [&](auto m) {
                using T = std::remove_cvref_t<decltype(c.*m)>;
                if constexpr (std::is_same_v<T, float>)
                    c.*m = float(f.TreeIndex) * 1.25f + 0.5f;
                else if constexpr (std::is_same_v<T, uint8_t>)
                    c.*m = uint8_t(f.TreeIndex);
                else
                    c.*m = T(seed | 0x0101u);
            },
            f.Member);
    }
    return c;
}

}  // namespace

class TestRegisterMap : public QObject {
    Q_OBJECT
private slots:
    void init() { ResetGlobals(); }

    void tableCoversEveryRegisterOnce()
    {
        QCOMPARE(int(ConfigFields().size()), 39);
        std::vector<int> owner(ConfigRegisterCount, 0);
        for (const ConfigField &f : ConfigFields())
            for (int r = f.FirstRegister; r < f.FirstRegister + f.RegisterCount(); ++r) {
                QVERIFY2(r < ConfigRegisterCount, f.Name);
                ++owner[r];
            }
        for (int r = 0; r < ConfigRegisterCount; ++r)
            QVERIFY2(owner[r] == 1, qPrintable(QStringLiteral("register %1").arg(r)));
        // No field straddles the border between the two read blocks.
        for (const ConfigField &f : ConfigFields())
            QVERIFY(f.FirstRegister >= ConfigBlock2First
                    || f.FirstRegister + f.RegisterCount() <= ConfigBlock2First);
    }

    void fieldsAndNodes_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("firstRegister");
        QTest::addColumn<int>("kind");
        QTest::newRow("Tpu1KFactor2") << 7 << 5 << int(FieldKind::Real);
        QTest::newRow("TprN1Max") << 17 << 16 << int(FieldKind::U32);
        QTest::newRow("TqVoltage") << 29 << 34 << int(FieldKind::Code);
        QTest::newRow("GenTPeriod") << 37 << 41 << int(FieldKind::U32);
        QTest::newRow("GenICurrent2") << 41 << 45 << int(FieldKind::U16);
        QTest::newRow("ImitTcResistance") << 49 << 52 << int(FieldKind::Code);
        QTest::newRow("root") << 0 << -1 << -1;
        QTest::newRow("group Генератор I") << 39 << -1 << -1;
        QTest::newRow("past the last") << 50 << -1 << -1;
    }
    void fieldsAndNodes()
    {
        QFETCH(int, index);
        QFETCH(int, firstRegister);
        QFETCH(int, kind);
        const ConfigField *f = FieldOfNode(index);
        if (firstRegister < 0) {
            QVERIFY(!f);
            return;
        }
        QVERIFY(f);
        QCOMPARE(f->FirstRegister, firstRegister);
        QCOMPARE(int(f->Kind()), kind);
    }

    void unpackRealFromBlock1()
    {
        std::vector<uint16_t> regs(ConfigBlock1Count, 0);
        regs[5] = 0x0000;
        regs[6] = 0x3F80;
        UnpackConfigBlock(BlockAnswer(1, regs).data(), 1);
        QCOMPARE(DeviceConfig.Tpu1KFactor2, 1.0f);
    }

    void unpackKeepsNanBitPattern()
    {
        std::vector<uint16_t> regs(ConfigBlock2Count, 0);
        regs[0] = 0x0001;  // GenFFrequency, register 38: a signalling NaN pattern
        regs[1] = 0x7F80;
        UnpackConfigBlock(BlockAnswer(2, regs).data(), 2);
        QCOMPARE(std::bit_cast<uint32_t>(DeviceConfig.GenFFrequency), 0x7F800001u);
        const auto data = PackConfigRegisters();
        QCOMPARE(RegisterOf(data, 38), uint16_t(0x0001));
        QCOMPARE(RegisterOf(data, 39), uint16_t(0x7F80));
    }

    void packExamples_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("firstRegister");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("TprN1Max 100000") << 17 << 100000.0 << 16 << QByteArray("\x86\xA0\x00\x01", 4);
        QTest::newRow("GenICurrent1 24000") << 40 << 24000.0 << 44 << QByteArray("\x5D\xC0", 2);
        QTest::newRow("Tpu1KFactor2 1.0") << 7 << 1.0 << 5 << QByteArray("\x00\x00\x3F\x80", 4);
        QTest::newRow("PackFrequency 12000") << 22 << 12000.0 << 24 << QByteArray("\x80\x00\x46\x3B", 4);
        QTest::newRow("GenTPeriod max") << 37 << 4294967295.0 << 41 << QByteArray("\xFF\xFF\xFF\xFF", 4);
        QTest::newRow("ImitTcResistance 4") << 49 << 4.0 << 52 << QByteArray("\x00\x04", 2);
        QTest::newRow("Tpu1DetectorCount 5") << 2 << 5.0 << 0 << QByteArray("\x00\x05", 2);
    }
    void packExamples()
    {
        QFETCH(int, index);
        QFETCH(double, value);
        QFETCH(int, firstRegister);
        QFETCH(QByteArray, bytes);
        const ConfigField *f = FieldOfNode(index);
        QVERIFY(f);
        std::visit([&](auto m) { DeviceConfig.*m = std::remove_cvref_t<decltype(DeviceConfig.*m)>(value); }, f->Member);
        const auto data = PackConfigRegisters();
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(data.data()) + 2 * firstRegister,
                            bytes.size()),
                 bytes);
        // Nothing else was written.
        for (int i = 0; i < int(data.size()); ++i)
            if (i < 2 * firstRegister || i >= 2 * firstRegister + bytes.size())
                QCOMPARE(data[i], uint8_t(0));
        // And it reads back to the same value.
        TDeviceConfig back{};
        std::vector<uint8_t> answer(3, 0);
        answer.insert(answer.end(), data.begin(), data.begin() + 2 * ConfigBlock1Count);
        UnpackConfigBlockInto(back, answer.data(), 1);
        answer.assign(3, 0);
        answer.insert(answer.end(), data.begin() + 2 * ConfigBlock2First, data.end());
        UnpackConfigBlockInto(back, answer.data(), 2);
        QVERIFY(std::memcmp(&back, &DeviceConfig, sizeof back) == 0);
    }

    void codeRegisterHighByte_data()
    {
        QTest::addColumn<uint16_t>("reg");
        QTest::addColumn<uint8_t>("code");
        QTest::addColumn<uint16_t>("written");
        QTest::newRow("0100 reads as 0") << uint16_t(0x0100) << uint8_t(0) << uint16_t(0x0000);
        QTest::newRow("0101 reads as 1") << uint16_t(0x0101) << uint8_t(1) << uint16_t(0x0001);
        QTest::newRow("0005 kept") << uint16_t(0x0005) << uint8_t(5) << uint16_t(0x0005);
        QTest::newRow("FFFF") << uint16_t(0xFFFF) << uint8_t(255) << uint16_t(0x00FF);
    }
    void codeRegisterHighByte()
    {
        QFETCH(uint16_t, reg);
        QFETCH(uint8_t, code);
        QFETCH(uint16_t, written);
        std::vector<uint16_t> regs(ConfigBlock1Count, 0);
        regs[0] = reg;   // Tpu1DetectorCount
        regs[35] = reg;  // ImitTpuDuration, last code of block 1
        UnpackConfigBlock(BlockAnswer(1, regs).data(), 1);
        QCOMPARE(DeviceConfig.Tpu1DetectorCount, code);
        QCOMPARE(DeviceConfig.ImitTpuDuration, code);
        const auto data = PackConfigRegisters();
        QCOMPARE(RegisterOf(data, 0), written);
        QCOMPARE(RegisterOf(data, 35), written);
    }

    void zeroRecordPacksToZeros()
    {
        const auto data = PackConfigRegisters();
        QCOMPARE(int(data.size()), 106);
        for (uint8_t b : data)
            QCOMPARE(b, uint8_t(0));
    }

    void blocksAreIsolated_data()
    {
        QTest::addColumn<int>("block");
        QTest::newRow("block 1 leaves block 2") << 1;
        QTest::newRow("block 2 leaves block 1") << 2;
    }
    void blocksAreIsolated()
    {
        QFETCH(int, block);
        const TDeviceConfig before = FilledConfig();
        DeviceConfig = before;
        const int count = block == 1 ? ConfigBlock1Count : ConfigBlock2Count;
        const int first = block == 1 ? ConfigBlock1First : ConfigBlock2First;
        // An answer long enough to hold both blocks, filled with 0xA5: a block that reads
        // past its own registers would pick these up.
        std::vector<uint8_t> answer(3 + 2 * ConfigRegisterCount + 2, 0xA5);
        answer[2] = uint8_t(2 * count);
        UnpackConfigBlock(answer.data(), block);
        for (const ConfigField &f : ConfigFields()) {
            const bool inBlock = f.FirstRegister >= first && f.FirstRegister < first + count;
            TDeviceConfig probe = before;
            std::visit([&](auto m) { probe.*m = DeviceConfig.*m; }, f.Member);
            const bool unchanged = std::memcmp(&probe, &before, sizeof probe) == 0;
            QVERIFY2(inBlock != unchanged, f.Name);
        }
    }

    void unknownBlockChangesNothing()
    {
        const TDeviceConfig before = FilledConfig();
        DeviceConfig = before;
        std::vector<uint8_t> answer(200, 0x5A);
        UnpackConfigBlock(answer.data(), 0);
        UnpackConfigBlock(answer.data(), 3);
        QVERIFY(std::memcmp(&DeviceConfig, &before, sizeof before) == 0);
    }

    void roundTripReproducesRegisters()
    {
        // Arbitrary register contents with code registers' high bytes zero (those are not
        // reproduced by design) come back byte for byte.
        std::vector<uint16_t> all(ConfigRegisterCount);
        for (int r = 0; r < ConfigRegisterCount; ++r)
            all[r] = uint16_t(0x1234 * (r + 1) + 0x0F0F * r);
        for (const ConfigField &f : ConfigFields())
            if (f.Kind() == FieldKind::Code)
                all[f.FirstRegister] &= 0x00FF;
        UnpackConfigBlock(BlockAnswer(1, {all.begin(), all.begin() + ConfigBlock1Count}).data(), 1);
        UnpackConfigBlock(BlockAnswer(2, {all.begin() + ConfigBlock2First, all.end()}).data(), 2);
        const auto data = PackConfigRegisters();
        for (int r = 0; r < ConfigRegisterCount; ++r)
            QVERIFY2(RegisterOf(data, r) == all[r], qPrintable(QStringLiteral("register %1").arg(r)));
    }
};

QTEST_GUILESS_MAIN(TestRegisterMap)
#include "tst_registermap.moc"
