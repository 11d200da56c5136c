// Number formats and the value texts of the parameter tree.
#include "Globals.h"
#include "RegisterMap.h"
#include "ResetGlobals.h"
#include "ValueText.h"

#include <QLocale>
#include <QtTest>

#include <cmath>
#include <limits>

class TestValueText : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        ResetGlobals();
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    }
    void cleanupTestCase() { QLocale::setDefault(QLocale::c()); }

    void wordSwapped_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<uint>("count");
        QTest::addColumn<float>("real");
        QTest::newRow("1.0") << QByteArray("\x00\x00\x3F\x80", 4) << 0x3F800000u << 1.0f;
        QTest::newRow("12000.0") << QByteArray("\x80\x00\x46\x3B", 4) << 0x463B8000u << 12000.0f;
        QTest::newRow("100000") << QByteArray("\x86\xA0\x00\x01", 4) << 100000u
                                << std::bit_cast<float>(100000u);
        QTest::newRow("-2.5") << QByteArray("\x00\x00\xC0\x20", 4) << 0xC0200000u << -2.5f;
    }
    void wordSwapped()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(uint, count);
        QFETCH(float, real);
        const auto *b = reinterpret_cast<const uint8_t *>(bytes.constData());
        QCOMPARE(WordSwappedCount(b), uint32_t(count));
        QCOMPARE(std::bit_cast<uint32_t>(WordSwappedFloat(b)), std::bit_cast<uint32_t>(real));
    }

    void formatReal_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("russian");
        QTest::addColumn<QString>("c");
        QTest::newRow("zero") << 0.0 << "0,00" << "0.00";
        QTest::newRow("negative zero") << -0.0 << "0,00" << "0.00";
        QTest::newRow("one") << 1.0 << "1,00" << "1.00";
        QTest::newRow("no group separators") << 12000.0 << "12000,00" << "12000.00";
        QTest::newRow("float 12.34") << double(12.34f) << "12,34" << "12.34";
        QTest::newRow("tie 0.125 rounds up") << 0.125 << "0,13" << "0.13";
        QTest::newRow("decimal tie 2.675") << 2.675 << "2,68" << "2.68";
        QTest::newRow("negative tie") << -0.125 << "-0,13" << "-0.13";
        QTest::newRow("below half a hundredth") << 0.0049 << "0,00" << "0.00";
        QTest::newRow("half a hundredth") << 0.005 << "0,01" << "0.01";
        QTest::newRow("tiny negative") << -0.001 << "0,00" << "0.00";
        QTest::newRow("small negative") << -0.5 << "-0,50" << "-0.50";
        QTest::newRow("smallest subnormal") << double(std::numeric_limits<float>::denorm_min())
                                            << "0,00" << "0.00";
        QTest::newRow("99999.99 as float") << double(99999.99f) << "99999,99" << "99999.99";
        // 10 significant digits: the 11th digit rounds before the hundredths are taken.
        QTest::newRow("8 integer digits") << 12345678.987 << "12345678,99" << "12345678.99";
        QTest::newRow("9 integer digits") << 123456789.987 << "123456790,00" << "123456790.00";
        QTest::newRow("10 integer digits") << 1234567890.0 << "1234567890,00" << "1234567890.00";
        QTest::newRow("10 digits, 11th rounds") << 1234567890.6 << "1234567891,00" << "1234567891.00";
        QTest::newRow("largest u32 as real") << 4294967295.0 << "4294967295,00" << "4294967295.00";
        QTest::newRow("rounds up to 11 digits") << 9999999999.7 << "1E+10" << "1E+10";
        QTest::newRow("11 integer digits") << 12345678901.0 << "1,23456789E+10" << "1.23456789E+10";
        QTest::newRow("1e11") << 1e11 << "1E+11" << "1E+11";
        QTest::newRow("negative large") << -123456789012.0 << "-1,23456789E+11" << "-1.23456789E+11";
        QTest::newRow("largest float") << double(std::numeric_limits<float>::max())
                                       << "3,402823466E+38" << "3.402823466E+38";
        QTest::newRow("lowest float") << double(std::numeric_limits<float>::lowest())
                                      << "-3,402823466E+38" << "-3.402823466E+38";
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << "NAN" << "NAN";
        QTest::newRow("-NaN") << -std::numeric_limits<double>::quiet_NaN() << "NAN" << "NAN";
        QTest::newRow("INF") << std::numeric_limits<double>::infinity() << "INF" << "INF";
        QTest::newRow("-INF") << -std::numeric_limits<double>::infinity() << "-INF" << "-INF";
    }
    void formatReal()
    {
        QFETCH(double, value);
        QFETCH(QString, russian);
        QFETCH(QString, c);
        QCOMPARE(FormatReal(value), russian);
        QLocale::setDefault(QLocale::c());
        QCOMPARE(FormatReal(value), c);
    }

    void formatCount_data()
    {
        QTest::addColumn<uint>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0u << "0";
        QTest::newRow("999999") << 999999u << "999999";
        QTest::newRow("largest") << 4294967295u << "4294967295";
    }
    void formatCount()
    {
        QFETCH(uint, value);
        QFETCH(QString, text);
        QCOMPARE(FormatCount(value), text);
    }

    void zeroRecordTexts_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        const char *rows[][2] = {
            {"2", "2 детектора"}, {"3", "НО"}, {"4", "раздельная"}, {"5", "1-направленная"},
            {"6", "за 1 проход"}, {"7", "0,00"}, {"9", "2 детектора"}, {"10", "НО"},
            {"11", "раздельная"}, {"12", "1-направленная"}, {"13", "за 1 проход"},
            {"14", "0,00"}, {"16", "0"}, {"17", "0"}, {"18", "0,00"}, {"19", "0,00"},
            {"21", "0"}, {"22", "0,00"}, {"23", "0.01"}, {"24", "0"}, {"26", "0"}, {"27", "0"},
            {"28", "0,00"}, {"29", "0.01"}, {"31", "0.2"}, {"32", "0"}, {"34", "0,00"},
            {"35", "0.01"}, {"37", "0"}, {"38", "0.01"}, {"40", "0"}, {"41", "0"},
            {"42", "4-20 мА"}, {"43", "10 мкА/1%"}, {"44", "в мкА"}, {"45", "4-20 мА"},
            {"46", "10 мкА/1%"}, {"47", "в мкА"}, {"49", "1-й номинал"},
            // The root and the groups have no value.
            {"0", ""}, {"1", ""}, {"8", ""}, {"15", ""}, {"20", ""}, {"25", ""}, {"30", ""},
            {"33", ""}, {"36", ""}, {"39", ""}, {"48", ""}, {"50", ""}, {"-1", ""},
        };
        for (const auto &r : rows)
            QTest::newRow(r[0]) << QByteArray(r[0]).toInt() << QString::fromUtf8(r[1]);
    }
    void zeroRecordTexts()
    {
        QFETCH(int, index);
        QFETCH(QString, text);
        QCOMPARE(NodeValueText(index), text);
    }

    void codeTexts_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("count 1") << 2 << 1 << "4 детектора";
        QTest::newRow("count 2") << 9 << 2 << "Ошибка данных";
        QTest::newRow("type 1") << 10 << 1 << "НЗ";
        QTest::newRow("scheme 1") << 4 << 1 << "совместная";
        QTest::newRow("prover 1") << 12 << 1 << "2-направленная";
        QTest::newRow("sum 1") << 6 << 1 << "за 2 прохода";
        QTest::newRow("sum 255") << 13 << 255 << "Ошибка данных";
        QTest::newRow("voltage 1 keeps a point") << 29 << 1 << "0.025";
        QTest::newRow("voltage 7") << 35 << 7 << "2.5";
        QTest::newRow("voltage 8") << 38 << 8 << "5";
        QTest::newRow("voltage 9") << 23 << 9 << "Ошибка данных";
        QTest::newRow("delay 5") << 24 << 5 << "5";
        QTest::newRow("delay 6") << 24 << 6 << "Ошибка данных";
        QTest::newRow("duration 1") << 31 << 1 << "1";
        QTest::newRow("duration 3") << 31 << 3 << "Ошибка данных";
        QTest::newRow("range 1") << 45 << 1 << "0-20 мА";
        QTest::newRow("step 3") << 46 << 3 << "4000 мкА/10%";
        QTest::newRow("step 4") << 43 << 4 << "Ошибка данных";
        QTest::newRow("scale 1") << 47 << 1 << "в %";
        QTest::newRow("resistance 4") << 49 << 4 << "5-й номинал";
        QTest::newRow("resistance 5") << 49 << 5 << "Ошибка данных";
    }
    void codeTexts()
    {
        QFETCH(int, index);
        QFETCH(int, code);
        QFETCH(QString, text);
        const ConfigField *f = FieldOfNode(index);
        QVERIFY(f && f->Kind() == FieldKind::Code);
        DeviceConfig.*std::get<uint8_t TDeviceConfig::*>(f->Member) = uint8_t(code);
        QCOMPARE(NodeValueText(index), text);
        QLocale::setDefault(QLocale::c());
        QCOMPARE(NodeValueText(index), text);
    }

    void numberFieldTexts()
    {
        DeviceConfig.Tpu1KFactor2 = 1.0f;
        DeviceConfig.TprN1Max = 100000;
        DeviceConfig.GenICurrent1 = 24000;
        DeviceConfig.GenTPeriod = 4294967295u;
        DeviceConfig.PackFrequency = 12000.0f;
        QCOMPARE(NodeValueText(7), QStringLiteral("1,00"));
        QCOMPARE(NodeValueText(17), QStringLiteral("100000"));
        QCOMPARE(NodeValueText(40), QStringLiteral("24000"));
        QCOMPARE(NodeValueText(37), QStringLiteral("4294967295"));
        QCOMPARE(NodeValueText(22), QStringLiteral("12000,00"));
        QLocale::setDefault(QLocale::c());
        QCOMPARE(NodeValueText(7), QStringLiteral("1.00"));
    }
};

QTEST_GUILESS_MAIN(TestValueText)
#include "tst_valuetext.moc"
