// The numeric field: its number rules, its calculator arithmetic, and the widget itself.

#include <QClipboard>
#include <QFile>
#include <QLibraryInfo>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtTest>
#include <cmath>

#include "CalculatorEngine.h"
#include "NumberRules.h"
#include "QtTranslation.h"
#include "RxCalcEdit.h"
#include "dialog_driver.h"

namespace {

const TNumberSeparators CSeps{u'.', u','};

// "c", "en" (en_US) or "ru" (ru_RU), from Qt's own locale data: the system need not have them.
QLocale LocaleOf(const QString &name)
{
    if (name == "en")
        return QLocale(QLocale::English, QLocale::UnitedStates);
    return name == "ru" ? QLocale(QLocale::Russian, QLocale::Russia) : QLocale::c();
}

// The separators the field reads under that locale.
TNumberSeparators SepsOf(const QString &name)
{
    return TNumberSeparators::FromLocale(LocaleOf(name));
}

// A window holding the field and a second widget to take the focus away.
struct TFieldHost {
    QWidget window;
    TRxCalcEdit *field;
    QLineEdit *other;

    TFieldHost()
    {
        auto *layout = new QVBoxLayout(&window);
        field = new TRxCalcEdit(&window);
        other = new QLineEdit(&window);
        layout->addWidget(field);
        layout->addWidget(other);
        window.show();
        driver::Activate(&window);
    }
    void FocusField()
    {
        field->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(field->hasFocus());
    }
    void FocusOther()
    {
        other->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(other->hasFocus());
    }
};

}  // namespace

class TestRxCalcEdit : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void separatorsFromLocale();
    void clampRule_data();
    void clampRule();
    void parse_data();
    void parse();
    void typing_data();
    void typing();
    void formatEditing_data();
    void formatEditing();
    void formatDisplay_data();
    void formatDisplay();
    void textToValue_data();
    void textToValue();
    void calculator_data();
    void calculator();

    void fieldTyping_data();
    void fieldTyping();
    void fieldBoundsReapply_data();
    void fieldBoundsReapply();
    void fieldFocusLossConvertsAndClamps();
    void fieldShowsEmptyForZeroWhileEditing();
    void fieldEscRestores();
    void fieldPasteOfNonNumberUndone_data();
    void fieldPasteOfNonNumberUndone();
    void contextMenuInUsersLanguage();
    void fieldUnfocusedDisplay_data();
    void fieldUnfocusedDisplay();
    void calculatorResultGoesIntoField_data();
    void calculatorResultGoesIntoField();
    void calculatorOpeningDoesNotClamp();
};

void TestRxCalcEdit::separatorsFromLocale()
{
    const TNumberSeparators ru = TNumberSeparators::FromLocale(QLocale(QLocale::Russian, QLocale::Russia));
    QCOMPARE(ru.Decimal, QChar(u','));
    QVERIFY(ru.Group != u',' && ru.Group != u'.');
    const TNumberSeparators de = TNumberSeparators::FromLocale(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(de.Decimal, QChar(u','));
    QCOMPARE(de.Group, QChar(u'.'));
    // "." is the German group separator, so it stays what it is
    QCOMPARE(MapTypedSeparator(u'.', de), QChar(u'.'));
    QCOMPARE(MapTypedSeparator(u',', de), QChar(u','));
    QCOMPARE(MapTypedSeparator(u'.', ru), QChar(u','));
    QCOMPARE(MapTypedSeparator(u',', CSeps), QChar(u','));  // group separator in C
    QCOMPARE(MapTypedSeparator(u'7', ru), QChar(u'7'));
}

void TestRxCalcEdit::clampRule_data()
{
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("expected");
    QTest::newRow("ordered, within") << 10.0 << 20.0 << 15.0 << 15.0;
    QTest::newRow("ordered, below") << 10.0 << 20.0 << 5.0 << 10.0;
    QTest::newRow("ordered, above") << 10.0 << 20.0 << 25.0 << 20.0;
    QTest::newRow("ordered, on the bounds") << 10.0 << 20.0 << 20.0 << 20.0;
    QTest::newRow("negative range") << -20.0 << -10.0 << 0.0 << -10.0;
    QTest::newRow("equal bounds, below") << 5.0 << 5.0 << -100.0 << -100.0;
    QTest::newRow("equal bounds, above") << 5.0 << 5.0 << 100.0 << 100.0;
    QTest::newRow("both 0") << 0.0 << 0.0 << 1.0 << 1.0;
    QTest::newRow("max 0 below min: below raised") << 100.0 << 0.0 << 5.0 << 100.0;
    QTest::newRow("max 0 below min: above kept") << 100.0 << 0.0 << 1e9 << 1e9;
    QTest::newRow("min 0 above max: above lowered") << 0.0 << -50.0 << 10.0 << -50.0;
    QTest::newRow("min 0 above max: below kept") << 0.0 << -50.0 << -1e9 << -1e9;
    QTest::newRow("reversed, neither 0: below") << 100.0 << 10.0 << 5.0 << 5.0;
    QTest::newRow("reversed, neither 0: above") << 100.0 << 10.0 << 500.0 << 500.0;
}

void TestRxCalcEdit::clampRule()
{
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(double, value);
    QFETCH(double, expected);
    QCOMPARE(double(ClampValue(value, min, max)), expected);
}

void TestRxCalcEdit::parse_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isNumber");
    QTest::addColumn<double>("value");
    QTest::newRow("empty") << "c" << "" << true << 0.0;
    QTest::newRow("lone minus") << "c" << "-" << true << 0.0;
    QTest::newRow("integer") << "c" << "1234" << true << 1234.0;
    QTest::newRow("fraction") << "c" << "12.5" << true << 12.5;
    QTest::newRow("trailing point") << "c" << "12." << true << 12.0;
    QTest::newRow("leading point") << "c" << ".25" << true << 0.25;
    QTest::newRow("negative") << "c" << "-3.5" << true << -3.5;
    QTest::newRow("plus sign") << "c" << "+3" << true << 3.0;
    QTest::newRow("exponent") << "c" << "1.5E3" << true << 1500.0;
    QTest::newRow("negative exponent") << "c" << "25e-1" << true << 2.5;
    QTest::newRow("grouped") << "c" << "1,234,567.5" << true << 1234567.5;
    QTest::newRow("spaces") << "c" << " 12 " << true << 12.0;
    QTest::newRow("letters") << "c" << "abc" << false << 0.0;
    QTest::newRow("two points") << "c" << "1.2.3" << false << 0.0;
    QTest::newRow("lone point") << "c" << "." << false << 0.0;
    QTest::newRow("exponent without digits") << "c" << "1e" << false << 0.0;
    QTest::newRow("sign inside") << "c" << "1-2" << false << 0.0;
    QTest::newRow("huge") << "c" << "1e99999" << false << 0.0;
    QTest::newRow("hex") << "c" << "0x10" << false << 0.0;
    QTest::newRow("inf") << "c" << "inf" << false << 0.0;
    QTest::newRow("non-ASCII digit") << "c" << "١٢" << false << 0.0;
    QTest::newRow("ru comma") << "ru" << "12,5" << true << 12.5;
    QTest::newRow("ru point too") << "ru" << "12.5" << true << 12.5;
    QTest::newRow("ru grouped") << "ru" << "1\u00a0234,5" << true << 1234.5;
    QTest::newRow("ru two separators") << "ru" << "1,2.3" << false << 0.0;
}

void TestRxCalcEdit::parse()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(bool, isNumber);
    QFETCH(double, value);
    const auto parsed = ParseNumberText(text, SepsOf(locale));
    QCOMPARE(parsed.has_value(), isNumber);
    if (isNumber)
        QCOMPARE(double(*parsed), value);
}

void TestRxCalcEdit::typing_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<bool>("nonNegative");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("two decimals") << "c" << "12.34" << 2 << true << true;
    QTest::newRow("third decimal") << "c" << "12.345" << 2 << true << false;
    QTest::newRow("decimals before exponent") << "c" << "1.25e10" << 2 << true << true;
    QTest::newRow("too many before exponent") << "c" << "1.255e1" << 2 << true << false;
    QTest::newRow("whole: separator alone") << "c" << "12." << 0 << true << true;
    QTest::newRow("whole: decimal digit") << "c" << "12.5" << 0 << true << false;
    QTest::newRow("minus when non-negative") << "c" << "-" << 2 << true << false;
    QTest::newRow("minus digits when non-negative") << "c" << "-5" << 2 << true << false;
    QTest::newRow("minus allowed") << "c" << "-5" << 2 << false << true;
    QTest::newRow("lone minus allowed") << "c" << "-" << 2 << false << true;
    QTest::newRow("start with point") << "c" << "." << 2 << true << true;
    QTest::newRow("letter") << "c" << "1a" << 2 << true << false;
    QTest::newRow("any length") << "c" << "123456789012345" << 0 << true << true;
    QTest::newRow("ru third decimal") << "ru" << "1,234" << 2 << true << false;
    QTest::newRow("ru two decimals") << "ru" << "1,23" << 2 << true << true;
    QTest::newRow("space inside") << "c" << "1 2" << 2 << true << false;
    QTest::newRow("space in front") << "c" << " 12" << 2 << true << false;
    QTest::newRow("space behind") << "c" << "12 " << 2 << true << false;
    QTest::newRow("space alone") << "c" << " " << 2 << false << false;
    QTest::newRow("tab") << "c" << "1\t2" << 2 << true << false;
    QTest::newRow("ru no-break group separator") << "ru" << "1\u00a0234" << 2 << true << false;
    QTest::newRow("c group separator") << "c" << "1,5" << 2 << true << false;
    QTest::newRow("en group separator") << "en" << "1,5" << 2 << true << false;
    QTest::newRow("en point") << "en" << "1.5" << 2 << true << true;
}

void TestRxCalcEdit::typing()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(int, decimals);
    QFETCH(bool, nonNegative);
    QFETCH(bool, accepted);
    QCOMPARE(IsAcceptableTyping(text, SepsOf(locale), decimals, nonNegative), accepted);
}

void TestRxCalcEdit::formatEditing_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero is empty") << "c" << 0.0 << 2 << "";
    QTest::newRow("whole") << "c" << 10.0 << 1 << "10";
    QTest::newRow("no trailing zeros") << "c" << 12.5 << 2 << "12.5";
    QTest::newRow("rounded to decimals") << "c" << 12.345678 << 2 << "12.35";
    QTest::newRow("no grouping") << "c" << 1234567.0 << 2 << "1234567";
    QTest::newRow("negative") << "c" << -3.25 << 2 << "-3.25";
    QTest::newRow("tiny negative") << "c" << -0.001 << 2 << "0";
    QTest::newRow("ru separator") << "ru" << 99999.99 << 2 << "99999,99";
}

void TestRxCalcEdit::formatEditing()
{
    QFETCH(QString, locale);
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QString, expected);
    QCOMPARE(FormatEditing(value, decimals, SepsOf(locale)), expected);
}

void TestRxCalcEdit::formatDisplay_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("format");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("grouping") << "c" << ",0.##" << 1234567.891 << "1,234,567.89";
    QTest::newRow("no zeros kept") << "c" << ",0.##" << 1000.0 << "1,000";
    QTest::newRow("one decimal") << "c" << ",0.##" << 12.5 << "12.5";
    QTest::newRow("small") << "c" << ",0.##" << 0.0 << "0";
    QTest::newRow("negative grouped") << "c" << ",0.##" << -1234.5 << "-1,234.5";
    QTest::newRow("three digits") << "c" << ",0.##" << 999.0 << "999";
    QTest::newRow("whole") << "c" << "0" << 123456.0 << "123456";
    QTest::newRow("whole rounds") << "c" << "0" << 2.5 << "3";
    QTest::newRow("fixed decimals") << "c" << "0.00" << 2.0 << "2.00";
    QTest::newRow("ru grouping") << "ru" << ",0.##" << 1234567.891 << "1\u00a0234\u00a0567,89";
}

void TestRxCalcEdit::formatDisplay()
{
    QFETCH(QString, locale);
    QFETCH(QString, format);
    QFETCH(double, value);
    QFETCH(QString, expected);
    QCOMPARE(FormatDisplay(value, format, SepsOf(locale)), expected);
}

void TestRxCalcEdit::textToValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<double>("expected");
    QTest::newRow("above") << "150000" << 100.0 << 100000.0 << 100000.0;
    QTest::newRow("below") << "5" << 100.0 << 100000.0 << 100.0;
    QTest::newRow("empty is 0") << "" << 0.0 << 999999.0 << 0.0;
    QTest::newRow("empty raised") << "" << 1.0 << 999999.0 << 1.0;
    QTest::newRow("no number reads as min") << "x1" << 10.0 << 24000.0 << 10.0;
    QTest::newRow("no number, reversed bounds") << "zz" << 7.0 << 3.0 << 7.0;
}

void TestRxCalcEdit::textToValue()
{
    QFETCH(QString, text);
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(double, expected);
    QCOMPARE(double(TextToValue(text, CSeps, min, max)), expected);
}

// Keys of the calculator, one character each: digits, '.', + - * /, '=', 'C', '<' back, '~' sign.
void TestRxCalcEdit::calculator_data()
{
    QTest::addColumn<double>("start");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<bool>("error");
    QTest::addColumn<double>("result");
    QTest::newRow("product") << 0.0 << "12*3=" << false << 36.0;
    QTest::newRow("left to right") << 0.0 << "2+3*4=" << false << 20.0;
    QTest::newRow("starts from the field") << 12.0 << "*3=" << false << 36.0;
    QTest::newRow("typing replaces the start") << 12.0 << "5" << false << 5.0;
    QTest::newRow("pending operation finished") << 0.0 << "7-9" << false << -2.0;
    QTest::newRow("fractions") << 0.0 << ".5+.25=" << false << 0.75;
    QTest::newRow("second operation replaces") << 0.0 << "8+*2=" << false << 16.0;
    QTest::newRow("division") << 0.0 << "10/4=" << false << 2.5;
    QTest::newRow("division by zero") << 0.0 << "5/0=" << true << 0.0;
    QTest::newRow("clear after error") << 0.0 << "5/0=C4" << false << 4.0;
    QTest::newRow("backspace") << 0.0 << "123<<9" << false << 19.0;
    QTest::newRow("sign") << 0.0 << "5~+1=" << false << -4.0;
    QTest::newRow("one separator only") << 0.0 << "1..5" << false << 1.5;
    QTest::newRow("leading zeros") << 0.0 << "0007" << false << 7.0;
    const QString nines(15, u'9');
    QTest::newRow("beyond the double range") << 0.0 << nines + (u'*' + nines + u'=').repeated(25) << true << 0.0;
}

void TestRxCalcEdit::calculator()
{
    QFETCH(double, start);
    QFETCH(QString, keys);
    QFETCH(bool, error);
    QFETCH(double, result);
    TCalculatorEngine engine(start);
    for (QChar k : keys) {
        if (k.isDigit()) engine.Digit(k.digitValue());
        else if (k == u'.') engine.Separator();
        else if (k == u'=') engine.Equals();
        else if (k == u'C') engine.Clear();
        else if (k == u'<') engine.Backspace();
        else if (k == u'~') engine.ChangeSign();
        else engine.Operation(char(k.unicode()));
    }
    const long double got = engine.Result();
    QCOMPARE(engine.HasError(), error);
    if (!error)
        QCOMPARE(double(got), result);
    QVERIFY(!engine.DisplayText(u',').isEmpty());
}

// Keys typed into a focused field, from its text selected as a whole.
void TestRxCalcEdit::fieldTyping_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<double>("value");
    QTest::newRow("point is the separator") << "c" << 2 << 1.0 << 99999.99 << "12.5" << "12.5" << 12.5;
    QTest::newRow("third decimal refused") << "c" << 2 << 1.0 << 99999.99 << "12.345" << "12.34" << 12.34;
    QTest::newRow("minus refused") << "c" << 1 << 10.0 << 12000.0 << "-50" << "50" << 50.0;
    QTest::newRow("minus allowed in a signed range") << "c" << 1 << -10.0 << 10.0 << "-5" << "-5" << -5.0;
    QTest::newRow("letters refused") << "c" << 1 << 10.0 << 12000.0 << "1a2b" << "12" << 12.0;
    QTest::newRow("ru comma") << "ru" << 2 << 1.0 << 99999.99 << "12,5" << "12,5" << 12.5;
    QTest::newRow("ru point becomes comma") << "ru" << 2 << 1.0 << 99999.99 << "12.5" << "12,5" << 12.5;
    QTest::newRow("ru second separator refused") << "ru" << 2 << 1.0 << 99999.99 << "1.2,3" << "1,23" << 1.23;
    QTest::newRow("c comma refused, not taken as the point") << "c" << 2 << 1.0 << 99999.99 << "12,5" << "125"
                                                            << 125.0;
    QTest::newRow("whole: separator, no decimal digit") << "c" << 0 << 0.0 << 999999.0 << "12.5" << "12." << 12.0;
    QTest::newRow("range not enforced while typing") << "c" << 0 << 100.0 << 100000.0 << "150000" << "150000"
                                                    << 100000.0;
}

void TestRxCalcEdit::fieldTyping()
{
    QFETCH(QString, locale);
    QFETCH(int, decimals);
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(double, value);
    QLocale::setDefault(LocaleOf(locale));
    TFieldHost host;
    host.field->SetDecimalPlaces(decimals);
    host.field->SetMinValue(min);
    host.field->SetMaxValue(max);
    host.FocusField();
    host.field->selectAll();
    driver::TypeText(host.field, typed);
    QCOMPARE(host.field->text(), shown);
    QCOMPARE(double(host.field->Value()), value);
}

// Setting a bound re-applies the rule at once, in the order the bounds are given.
void TestRxCalcEdit::fieldBoundsReapply_data()
{
    QTest::addColumn<double>("start");
    QTest::addColumn<bool>("minFirst");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<double>("afterFirst");
    QTest::addColumn<double>("expected");
    QTest::newRow("word 100..100000: min first raises") << 1.0 << true << 100.0 << 100000.0 << 100.0 << 100.0;
    QTest::newRow("word 10..24000") << 1.0 << true << 10.0 << 24000.0 << 10.0 << 10.0;
    QTest::newRow("word 0..999999: equal bounds leave 1") << 1.0 << true << 0.0 << 999999.0 << 1.0 << 1.0;
    QTest::newRow("word 1..999999") << 1.0 << true << 1.0 << 999999.0 << 1.0 << 1.0;
    QTest::newRow("real 10..12000: max first") << 1.0 << false << 10.0 << 12000.0 << 1.0 << 10.0;
    QTest::newRow("real 1..99999.99") << 1.0 << false << 1.0 << 99999.99 << 1.0 << 1.0;
    QTest::newRow("max alone lowers") << 500.0 << false << 0.0 << 20.0 << 20.0 << 20.0;
    QTest::newRow("negative max with min 0") << 5.0 << false << 0.0 << -3.0 << -3.0 << -3.0;
}

void TestRxCalcEdit::fieldBoundsReapply()
{
    QFETCH(double, start);
    QFETCH(bool, minFirst);
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(double, afterFirst);
    QFETCH(double, expected);
    TRxCalcEdit field;
    field.SetValue(start);
    if (minFirst) {
        field.SetMinValue(min);
        QCOMPARE(double(field.Value()), afterFirst);
        field.SetMaxValue(max);
    } else {
        field.SetMaxValue(max);
        QCOMPARE(double(field.Value()), afterFirst);
        field.SetMinValue(min);
    }
    QCOMPARE(double(field.Value()), expected);
}

void TestRxCalcEdit::fieldFocusLossConvertsAndClamps()
{
    TFieldHost host;
    host.field->SetDecimalPlaces(0);
    host.field->SetMinValue(100);
    host.field->SetMaxValue(100000);
    host.FocusField();
    host.field->selectAll();
    driver::TypeText(host.field, "150000");
    host.FocusOther();
    QCOMPARE(host.field->text(), QStringLiteral("100,000"));  // display format ",0.##"
    QCOMPARE(double(host.field->Value()), 100000.0);
    host.FocusField();
    QCOMPARE(host.field->text(), QStringLiteral("100000"));
    QCOMPARE(host.field->selectedText(), QStringLiteral("100000"));  // entered by Tab: all selected
    driver::TypeText(host.field, "5");
    host.FocusOther();
    QCOMPARE(host.field->text(), QStringLiteral("100"));
}

void TestRxCalcEdit::fieldShowsEmptyForZeroWhileEditing()
{
    TFieldHost host;
    host.field->SetDecimalPlaces(0);
    host.field->SetDisplayFormat("0");
    host.field->SetMinValue(0);
    host.field->SetMaxValue(999999);
    host.FocusField();
    host.field->selectAll();
    driver::TypeText(host.field, "0");
    host.FocusOther();
    QCOMPARE(host.field->text(), QStringLiteral("0"));
    host.FocusField();
    QCOMPARE(host.field->text(), QString());
    QCOMPARE(double(host.field->Value()), 0.0);
}

void TestRxCalcEdit::fieldEscRestores()
{
    TFieldHost host;
    host.field->SetDecimalPlaces(2);
    host.field->SetMaxValue(1000);
    host.field->SetValue(12.5);
    host.FocusField();
    host.field->selectAll();
    driver::TypeText(host.field, "77.1");
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(host.field, &esc);
    QVERIFY(esc.isAccepted());  // it does not travel on to the window
    QCOMPARE(host.field->text(), QStringLiteral("12.5"));
    QCOMPARE(double(host.field->Value()), 12.5);
}

void TestRxCalcEdit::fieldPasteOfNonNumberUndone_data()
{
    QTest::addColumn<QString>("clip");
    QTest::addColumn<QString>("expected");
    QTest::newRow("letters") << "abc" << "12";
    QTest::newRow("number with letters") << "3x" << "12";
    QTest::newRow("negative in a non-negative field") << "-4" << "12";
    QTest::newRow("too many decimals") << "1.234" << "12";
    QTest::newRow("spaces around a number") << " 345 " << "12";
    QTest::newRow("space inside a number") << "3 45" << "12";
    QTest::newRow("grouped number") << "1,234.5" << "12";
    QTest::newRow("a number is kept") << "345.5" << "345.5";
}

void TestRxCalcEdit::fieldPasteOfNonNumberUndone()
{
    QFETCH(QString, clip);
    QFETCH(QString, expected);
    TFieldHost host;
    host.field->SetDecimalPlaces(2);
    host.field->SetMaxValue(100000);
    host.FocusField();
    host.field->selectAll();
    driver::TypeText(host.field, "12");
    QApplication::clipboard()->setText(clip);
    host.field->selectAll();
    QTest::keyClick(host.field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(host.field->text(), expected);
}

void TestRxCalcEdit::contextMenuInUsersLanguage()
{
    if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_ru.qm"))
        QSKIP("Qt's Russian translation (qtbase_ru.qm) is not installed");
    // However this test ends, the tests after it have Qt's English texts and the C locale.
    const auto restore = qScopeGuard([] {
        QLocale::setDefault(QLocale::c());
        InstallQtTranslation();
    });
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QVERIFY(InstallQtTranslation());
    TFieldHost host;
    host.FocusField();
    const QPoint at = host.field->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, host.field->mapToGlobal(at));
    QApplication::sendEvent(host.field, &event);
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    QVERIFY(menu);
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts << action->text().remove(u'&').section(u'\t', 0, 0);
    menu->close();
    QVERIFY2(texts.contains(QStringLiteral("Вставить")), qPrintable(texts.join(" | ")));
    QVERIFY(!texts.contains(QStringLiteral("Paste")));
}

void TestRxCalcEdit::fieldUnfocusedDisplay_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("format");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("unfocused");
    QTest::addColumn<QString>("focused");
    QTest::newRow("grouped") << "c" << ",0.##" << 1234567.891 << "1,234,567.89" << "1234567.891";
    QTest::newRow("ru grouped") << "ru" << ",0.##" << 98765.5 << "98\u00a0765,5" << "98765,5";
    QTest::newRow("whole") << "c" << "0" << 24000.0 << "24000" << "24000";
}

void TestRxCalcEdit::fieldUnfocusedDisplay()
{
    QFETCH(QString, locale);
    QFETCH(QString, format);
    QFETCH(double, value);
    QFETCH(QString, unfocused);
    QFETCH(QString, focused);
    QLocale::setDefault(LocaleOf(locale));
    TFieldHost host;
    host.FocusOther();
    host.field->SetDecimalPlaces(3);
    host.field->SetDisplayFormat(format);
    host.field->SetMaxValue(1e7);
    host.field->SetValue(value);
    QCOMPARE(host.field->text(), unfocused);
    host.FocusField();
    QCOMPARE(host.field->text(), focused);
    host.FocusOther();
    QCOMPARE(host.field->text(), unfocused);
    QCOMPARE(double(host.field->Value()), value);  // the display does not round the value
}

// Keys pressed on the calculator; "OK" ends with its "ОК" key.
void TestRxCalcEdit::calculatorResultGoesIntoField_data()
{
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("shown");
    QTest::newRow("12 × 3 =") << 0 << QStringList{"C", "1", "2", "×", "3", "=", "ОК"} << "36";
    QTest::newRow("pending operation finished by ОК") << 0 << QStringList{"C", "7", "+", "8", "ОК"} << "15";
    QTest::newRow("rounded to the decimals") << 2 << QStringList{"C", "1", "0", "÷", "3", "ОК"} << "3.33";
    QTest::newRow("negative refused") << 2 << QStringList{"C", "2", "−", "5", "ОК"} << "12";
    QTest::newRow("division by zero refused") << 2 << QStringList{"C", "2", "÷", "0", "ОК"} << "";
    QTest::newRow("cancel") << 2 << QStringList{"9", "Отмена"} << "12";
}

void TestRxCalcEdit::calculatorResultGoesIntoField()
{
    QFETCH(int, decimals);
    QFETCH(QStringList, keys);
    QFETCH(QString, shown);
    TFieldHost host;
    host.field->SetDecimalPlaces(decimals);
    host.field->SetMaxValue(100000);
    host.FocusField();
    host.field->selectAll();
    driver::TypeText(host.field, "12");
    QTest::mouseClick(host.field->DropDownButton(), Qt::LeftButton);
    TRxCalculatorPopup *calc = host.field->Calculator();
    QVERIFY(calc);
    QTRY_VERIFY(calc->isVisible());
    QCOMPARE(calc->DisplayText(), QStringLiteral("12"));
    QPointer<TRxCalculatorPopup> guard(calc);
    for (const QString &key : keys) {
        QVERIFY2(calc->Key(key), qPrintable(key));
        QTest::mouseClick(calc->Key(key), Qt::LeftButton);
    }
    if (shown.isEmpty()) {  // an error keeps the calculator open
        QVERIFY(guard && guard->isVisible());
        QCOMPARE(host.field->text(), QStringLiteral("12"));
        QTest::mouseClick(calc->Key("Отмена"), Qt::LeftButton);
        QTRY_VERIFY(!guard);
        return;
    }
    QTRY_VERIFY(!guard);
    QCOMPARE(host.field->text(), shown);
    // the field keeps the focus of its window, and coming back to it changes nothing
    driver::Activate(&host.window);
    QTRY_VERIFY(host.field->hasFocus());
    QCOMPARE(host.field->text(), shown);
}

void TestRxCalcEdit::calculatorOpeningDoesNotClamp()
{
    TFieldHost host;
    host.field->SetDecimalPlaces(0);
    host.field->SetMinValue(100);
    host.field->SetMaxValue(100000);
    host.FocusField();
    host.field->selectAll();
    driver::TypeText(host.field, "5");
    QKeyEvent open(QEvent::KeyPress, Qt::Key_Down, Qt::AltModifier);
    QApplication::sendEvent(host.field, &open);
    QPointer<TRxCalculatorPopup> calc = host.field->Calculator();
    QVERIFY(calc);
    QTRY_VERIFY(calc->isVisible());
    QCOMPARE(host.field->text(), QStringLiteral("5"));
    QTest::keyClick(calc, Qt::Key_Escape);
    QTRY_VERIFY(!calc);
    driver::Activate(&host.window);
    QTRY_VERIFY(host.field->hasFocus());
    QCOMPARE(host.field->text(), QStringLiteral("5"));
    host.FocusOther();  // a real focus loss clamps
    QCOMPARE(host.field->text(), QStringLiteral("100"));
}

QTEST_MAIN(TestRxCalcEdit)
#include "tst_rxcalcedit.moc"
