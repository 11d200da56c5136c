// The configuration file of both programs: its text with where the values came from, and
// the reader's refusals as each program words them.
#include "ConfigFileFormat.h"
#include "ConfigProblems.h"
#include "ConfigText.h"
#include "RegisterMap.h"

#include <QtTest>

#include <cmath>

namespace {

// A configuration every editing dialog takes.
TDeviceConfig Allowed()
{
    TDeviceConfig config{};
    for (const ConfigField &field : ConfigFields())
        std::visit(
            [&](auto member) {
                using T = std::remove_cvref_t<decltype(config.*member)>;
                config.*member = std::is_same_v<T, float> ? T(100.5) : std::is_same_v<T, uint8_t> ? T(1) : T(1000);
            },
            field.Member);
    return config;
}

QString Text(const TDeviceConfig &config, const TConfigOrigin &origin = {})
{
    return QString::fromUtf8(ConfigFileText(config, PackConfigRegistersOf(config), origin));
}

const ConfigField *Field(const QString &name)
{
    for (const ConfigField &field : ConfigFields())
        if (name == QLatin1String(field.Name))
            return &field;
    return nullptr;
}

}  // namespace

class TestConfigFileFormat : public QObject {
    Q_OBJECT

private slots:
    // What the file says of the values' origin is read back as it was written, and the
    // companion's file keeps its keys; the values come back word for word, a real that is
    // no number included.
    void origins_data()
    {
        QTest::addColumn<QDateTime>("readAt");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("openedFrom");
        QTest::addColumn<bool>("byHand");
        QTest::addColumn<QStringList>("keys");  // the keys of the origin, in the file's order
        const QDateTime at(QDate(2026, 12, 9), QTime(0, 11, 7), Qt::UTC);
        QTest::newRow("read from the device") << at << "/dev/ttyUSB0" << "" << false << QStringList{"read_at", "port"};
        QTest::newRow("opened from a file that was read") << at << "COM3" << "C:/Карвен/b.json" << false
                                                          << QStringList{"read_at", "port", "opened_from"};
        QTest::newRow("then changed by hand") << at << "COM3" << "b.json" << true
                                              << QStringList{"read_at", "port", "opened_from", "changed_by_hand"};
        QTest::newRow("the program's zeros changed by hand") << QDateTime() << "" << "" << true << QStringList{"changed_by_hand"};
        QTest::newRow("neither read nor opened") << QDateTime() << "" << "" << false << QStringList{};
    }
    void origins()
    {
        QFETCH(QDateTime, readAt);
        QFETCH(QString, port);
        QFETCH(QString, openedFrom);
        QFETCH(bool, byHand);
        QFETCH(QStringList, keys);
        TDeviceConfig config = Allowed();
        config.TqFrequency = std::nanf("");
        const TConfigOrigin origin{readAt, port, openedFrom, byHand};
        // A later version's keys are passed over.
        const QString text = Text(config, origin).replace(QStringLiteral("\"parameters\""), QStringLiteral("\"later\": {\"x\": [1]}, \"parameters\""));
        QStringList found;
        for (const char *key : {"read_at", "port", "opened_from", "changed_by_hand"})
            if (text.contains(QStringLiteral("\"%1\":").arg(QLatin1String(key))))
                found << key;
        QCOMPARE(found, keys);
        QVERIFY(text.indexOf(QStringLiteral("\"device\"")) < text.indexOf(QStringLiteral("\"parameters\"")));

        const TConfigFileCheck check = ReadConfigFile(text.toUtf8(), TFileUse::Write, true);
        QVERIFY2(check.Ok(), qPrintable(check.Problems.value(0).Detail));
        QCOMPARE(check.Origin, origin);
        QCOMPARE(PackConfigRegistersOf(check.Config), PackConfigRegistersOf(config));
        QCOMPARE(check.Nulls, QList<const ConfigField *>{Field(QStringLiteral("TqFrequency"))});
        QVERIFY(DifferingFields(check, config).isEmpty());
    }

    // Each refusal names its kind, the parameter, the value as the file writes it and what is
    // allowed; values out of the dialogs' range are told apart from values of the wrong kind.
    void problems_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");  // raw JSON; or a whole text when field is empty
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("quoted");   // the problem's value
        QTest::addColumn<QString>("english");  // in the companion's words
        QTest::addColumn<int>("anyway");       // the problem when values out of range are taken; -1: none
        using K = TConfigProblemKind;
        const int none = -1;
        QTest::newRow("a code not in the list") << "Tpu1DetectorType" << "2" << int(K::OutOfRange) << "2"
                                                << "value 2 is not allowed; it may be one of the codes 0 (НО), 1 (НЗ)" << none;
        QTest::newRow("a fraction for a code") << "Tpu1DetectorCount" << "1.5" << int(K::ValueNotAllowed) << "1.5" << "value 1.5" << int(K::ValueNotAllowed);
        QTest::newRow("below the dialog's least") << "GenTPeriod" << "50" << int(K::OutOfRange) << "50" << "from 100 to 100000" << none;
        QTest::newRow("more decimals") << "PackFrequency" << "100.25" << int(K::OutOfRange) << "100.25" << "at most 1 decimal" << none;
        QTest::newRow("beyond a double's digits") << "ImitTpuCount" << "9007199254740993" << int(K::ValueNotAllowed)
                                                  << "9007199254740993" << "value 9007199254740993 is not" << int(K::ValueNotAllowed);
        QTest::newRow("below a double's least") << "TprKFactor1" << "1e-400" << int(K::OutOfRange) << "1e-400" << "value 1e-400 is" << none;
        QTest::newRow("beyond single precision") << "Tpu1KFactor2" << "16777217" << int(K::OutOfRange) << "16777217"
                                                 << "it becomes 16777216 in the device's single precision" << none;
        QTest::newRow("minus zero") << "Tpu1KFactor2" << "-0.0" << int(K::OutOfRange) << "-0.0" << "value -0.0 is" << none;
        QTest::newRow("all but whole") << "PackCount" << "999999.00000000001" << int(K::ValueNotAllowed) << "999999.00000000001"
                                       << "a whole number from 0 to 999999" << int(K::ValueNotAllowed);
        QTest::newRow("a list for a number") << "TqN1Min" << "[1, -0]" << int(K::ValueNotAllowed) << "[1,-0]" << "value [1,-0]" << int(K::ValueNotAllowed);
        QTest::newRow("null without words allowed") << "TprKFactor2" << "null" << int(K::NullNotAllowed) << "null"
                                                    << "or with --allow-out-of-range" << int(K::NullButNumber);
        QTest::newRow("a NUL after the end") << "" << QStringLiteral("{\"format\": 1}\n\n  ") + QChar(0) + "}}}" << int(K::Nul) << ""
                                             << "not JSON: line 3, column 3: a NUL byte" << int(K::Nul);
        QTest::newRow("a key twice") << "" << "{\"format\": 1, \"parameters\": [{}, {\"a\": 1, \"a\": 2}]}" << int(K::KeyTwice) << ""
                                     << "\"a\" is given twice in parameter 2 of the list" << int(K::KeyTwice);
        QTest::newRow("nested too deep") << "" << QString(65, QLatin1Char('[')) << int(K::TooDeep) << "" << "deeper than 64" << int(K::TooDeep);
        QTest::newRow("format as text") << "" << "{\"format\": \"1\"}" << int(K::NotFormat1) << "\"1\"" << "(\"format\": \"1\")" << int(K::NotFormat1);
    }
    void problems()
    {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(int, kind);
        QFETCH(QString, quoted);
        QFETCH(QString, english);
        QFETCH(int, anyway);
        const QString valid = Text(Allowed());
        const QByteArray text = (field.isEmpty() ? value : WithValue(valid, field.toLatin1().constData(), value)).toUtf8();
        const TConfigFileCheck check = ReadConfigFile(text, TFileUse::Write, false);
        QCOMPARE(check.Problems.size(), 1);
        const TConfigProblem &problem = check.Problems.first();
        QCOMPARE(int(problem.Kind), kind);
        QCOMPARE(problem.Field, field.isEmpty() ? nullptr : Field(field));
        QCOMPARE(problem.Value, quoted);
        const QString words = ConfigProblemText(problem);
        QVERIFY2(words.contains(english), qPrintable(words));
        if (problem.Field)
            QVERIFY2(words.startsWith(QStringLiteral("parameter %1 (").arg(field)), qPrintable(words));

        // What only the dialogs' range refuses is taken when asked for ("open anyway").
        QCOMPARE(check.OnlyOutOfRange(), kind == int(TConfigProblemKind::OutOfRange) || kind == int(TConfigProblemKind::NullNotAllowed));
        const TConfigFileCheck again = ReadConfigFile(text, TFileUse::Write, true);
        QCOMPARE(again.Problems.size(), anyway < 0 ? 0 : 1);
        if (anyway >= 0)
            QCOMPARE(int(again.Problems.first().Kind), anyway);
        else
            QCOMPARE(DifferingFields(again, Allowed()).size(), 1);
    }

    // A text in UTF-16 (with a byte-order mark or without) or in a legacy code page, an empty
    // one and a decimal comma are told as such, not as a JSON syntax error.
    void textsOfAnotherKind_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("words");
        const QString valid = Text(Allowed());
        QByteArray little(reinterpret_cast<const char *>(valid.utf16()), valid.size() * 2);
        QByteArray big = little;
        for (qsizetype i = 0; i + 1 < big.size(); i += 2)
            std::swap(big[i], big[i + 1]);
        const QString utf16 = "the file is UTF-16; save it as UTF-8";
        QTest::newRow("little-endian with a mark") << QByteArray("\xFF\xFE") + little << utf16;
        QTest::newRow("little-endian") << little << utf16;
        QTest::newRow("big-endian") << big << utf16;
        QByteArray cp1251 = valid.toUtf8();
        cp1251.replace(QStringLiteral("Карвен").toUtf8(), QByteArray("\xCA\xE0\xF0\xE2\xE5\xED"));
        QTest::newRow("Windows-1251") << cp1251 << "the file is not in UTF-8 (perhaps Windows-1251, which Notepad calls ANSI)";
        QTest::newRow("empty") << QByteArray() << "the file is empty";
        QTest::newRow("blanks and a mark") << QByteArray("\xEF\xBB\xBF \r\n\t") << "the file is empty";
        QTest::newRow("decimal comma") << WithValue(valid, "PackFrequency", "1234,5").toUtf8()
                                       << "a number with a decimal comma; write 12000.5, not 12000,5";
    }
    void textsOfAnotherKind()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, words);
        const TConfigFileCheck check = ReadConfigFile(text, TFileUse::Compare, true);
        QCOMPARE(check.Problems.size(), 1);
        QVERIFY2(ConfigProblemText(check.Problems.first()).contains(words), qPrintable(ConfigProblemText(check.Problems.first())));
    }

    // Whether a number's text is whole is told by its digits, not by the nearest double.
    void wholeNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("whole");
        QTest::newRow("1000.0") << "1000.0" << true;
        QTest::newRow("1e3") << "1e3" << true;
        QTest::newRow("1.5e1") << "1.5e1" << true;
        QTest::newRow("12.5E+0") << "12.5E+0" << false;
        QTest::newRow("999999.00000000001") << "999999.00000000001" << false;
        QTest::newRow("1e-400") << "1e-400" << false;
        QTest::newRow("0e-400") << "0e-400" << true;
        QTest::newRow("-0.0") << "-0.0" << true;
        QTest::newRow("25e-1") << "25e-1" << false;
        QTest::newRow("huge exponent") << "1.5e99999999999999999999" << true;
        QTest::newRow("tiny exponent") << "5e-99999999999999999999" << false;
    }
    void wholeNumbers()
    {
        QFETCH(QString, text);
        QFETCH(bool, whole);
        QCOMPARE(IsWholeNumberText(text), whole);
    }
};

QTEST_GUILESS_MAIN(TestConfigFileFormat)
#include "tst_configfileformat.moc"
