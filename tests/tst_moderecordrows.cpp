// The record of a mode run, fed with answers as they come from the line: one row per values
// answer (per status answer for a mode without values), S2 relative to its value when the
// mode was seen starting, a real that is no number as CSV readers take it.
#include "ModeRecordRows.h"

#include <QtTest>

#include <bit>
#include <cmath>

namespace {

// A status answer (function 1) with the mode's bit set or clear.
QByteArray StatusAnswer(const TModeMap &map, bool on)
{
    QByteArray answer(map.StatusByteOffset + 3, '\0');
    answer[0] = 10;
    answer[1] = 1;
    answer[2] = char(map.StatusByteOffset - 2);
    answer[map.StatusByteOffset] = char(on ? map.StatusMask : 0);
    return answer;
}

// A values answer (function 4) carrying the first rows' values, each word-swapped as the
// device sends it.
QByteArray ValuesAnswer(const TModeMap &map, const QStringList &values)
{
    QByteArray answer(3 + 4 * values.size() + 2, '\0');
    answer[0] = 10;
    answer[1] = 4;
    answer[2] = char(4 * values.size());
    for (qsizetype i = 0; i < values.size(); ++i) {
        const TValueRow &row = map.Rows[size_t(i)];
        const uint32_t word = row.Kind == TValueKind::Count ? values[i].toUInt()
                                                            : std::bit_cast<uint32_t>(float(QLocale::c().toDouble(values[i])));
        char *b = answer.data() + row.Offset;
        b[0] = char(word >> 8);
        b[1] = char(word);
        b[2] = char(word >> 24);
        b[3] = char(word >> 16);
    }
    return answer;
}

}  // namespace

class TestModeRecordRows : public QObject {
    Q_OBJECT

private slots:
    void rows_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("answers");  // on, off: a status answer; v:A;B;...: a values answer
        QTest::addColumn<QString>("header");
        QTest::addColumn<QStringList>("rows");  // each after its time
        QTest::addColumn<QString>("json");      // the last row's JSON line after its time
        QTest::newRow("tq") << "tq" << "on v:28;28;4501.91 v:60;61;nan off v:92;92;-inf v:93;93;inf"
                            << "time,mode,Количество выданных импульсов,Количество поступивших импульсов,К-фактор\n"
                            << QStringList{"on,28,28,4501.91", "on,60,61,nan", "off,92,92,-inf", "off,93,93,inf"}
                            << "\"mode\":\"off\",\"values\":{\"pulses_out\":93,\"pulses_in\":93,\"k_factor\":null}}";
        // S2 counts from its value when the mode was seen starting; a short answer keeps
        // the other values as they were (none yet: empty).
        const QString rest(14, QLatin1Char(','));
        QTest::newRow("S2 of TPR by TPU1") << "tpr-tpu1" << "on v:12.5;1;2;3;4;1000 on v:0.1;1;2;3;4;1500 off v:0.1;1;2;3;4;1700 on "
                                                              "v:0.1;1;2;3;4;2000 v:0.1;1;2;3;4;2001"
                                           << "time,mode,\"Частота, Гц\",Расход,"
                                           << QStringList{"on,12.50,1.00,2.00,3.00,4,0" + rest, "on,0.10,1.00,2.00,3.00,4,500" + rest,
                                                          "off,0.10,1.00,2.00,3.00,4,700" + rest, "on,0.10,1.00,2.00,3.00,4,0" + rest,
                                                          "on,0.10,1.00,2.00,3.00,4,1" + rest}
                                           << "\"mode\":\"on\",\"values\":{\"frequency_hz\":0.1,\"flow\":1,\"n12_fractional\":2,"
                                              "\"s1\":3,\"n12_whole\":4,\"s2\":1,\"t12_us\":null,";
        QTest::newRow("a generator, status only") << "gen-f" << "on off on" << "time,mode\n" << QStringList{"on", "off", "on"}
                                                  << "\"mode\":\"on\"}";
        QTest::newRow("TC imitation, the ninth coil") << "tc-imitation" << "off on" << "time,mode\n" << QStringList{"off", "on"}
                                                      << "\"mode\":\"on\"}";
    }
    void rows()
    {
        QFETCH(QString, mode);
        QFETCH(QString, answers);
        QFETCH(QString, header);
        QFETCH(QStringList, rows);
        QFETCH(QString, json);
        const TModeMap *map = FindModeMap(mode);
        QVERIFY(map);
        TModeRecordRows record(*map);
        QVERIFY2(record.CsvHeader().startsWith(header), qPrintable(record.CsvHeader()));
        const QDateTime time(QDate(2026, 12, 9), QTime(3, 11, 8, 150), Qt::OffsetFromUTC, 3 * 3600);
        const QString stamp = QStringLiteral("2026-12-09T00:11:08.150Z,");
        QStringList made;
        for (const QString &answer : answers.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const bool row = answer.startsWith(QLatin1String("v:"))
                ? record.TakeValues(ValuesAnswer(*map, answer.mid(2).split(QLatin1Char(';'))))
                : record.TakeStatus(StatusAnswer(*map, answer == QLatin1String("on")));
            if (!row)
                continue;
            const QString csv = record.CsvRow(time);
            QVERIFY2(csv.startsWith(stamp) && csv.endsWith(QLatin1Char('\n')), qPrintable(csv));
            made << csv.mid(stamp.size()).chopped(1);
        }
        QCOMPARE(made, rows);
        const QString line = record.JsonLine(time);
        QVERIFY2(line.startsWith(QStringLiteral("{\"time\":\"2026-12-09T00:11:08.150Z\",") + json), qPrintable(line));
    }
};

QTEST_GUILESS_MAIN(TestModeRecordRows)
#include "tst_moderecordrows.moc"
