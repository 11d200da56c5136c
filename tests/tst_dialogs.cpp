// The fourteen input dialogs driven through their modal loops.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "Input_ImitationTC.h"
#include "Input_RaschetSum.h"
#include "Input_Voltage.h"
#include "Input_countDetect.h"
#include "Input_durationPulses.h"
#include "Input_floatValue.h"
#include "Input_rangeChanel.h"
#include "Input_scaleChanel.h"
#include "Input_schemeDetect.h"
#include "Input_stepChanel.h"
#include "Input_tDelay.h"
#include "Input_typeDetect.h"
#include "Input_typeTPU.h"
#include "Input_wordValue.h"
#include "RxCalcEdit.h"
#include "dialog_driver.h"

using ChooseFn = uint8_t (*)();
using FormFn = const TChoiceForm &(*)();
Q_DECLARE_METATYPE(ChooseFn)

namespace {

const QString Ok = QStringLiteral("ОК");
const QString Cancel = QStringLiteral("Отмена");

QComboBox *ComboOf(QWidget *dialog)
{
    return dialog->findChild<QComboBox *>();
}

TRxCalcEdit *FieldOf(QWidget *dialog)
{
    return dialog->findChild<TRxCalcEdit *>();
}

// Replaces the combo box's text by typing, as a user would after selecting it all.
void TypeIntoCombo(QWidget *dialog, const QString &text)
{
    QLineEdit *edit = ComboOf(dialog)->lineEdit();
    edit->selectAll();
    driver::TypeText(edit, text);
}

// Types into the numeric field after selecting its text.
void TypeIntoField(QWidget *dialog, const QString &text)
{
    TRxCalcEdit *field = FieldOf(dialog);
    driver::Activate(dialog);
    field->setFocus(Qt::TabFocusReason);
    field->selectAll();
    driver::TypeText(field, text);
}

struct TMember {
    const char *name;
    ChooseFn execute;
    const char *caption;
    QStringList items;
};

QList<TMember> Members()
{
    return {
        {"countDetect", TfmInput_countDetect::Execute, "Укажите количество детекторов", {"2 детектора", "4 детектора"}},
        {"typeDetect", TfmInput_typeDetect::Execute, "Укажите тип детекторов", {"НО", "НЗ"}},
        {"schemeDetect", TfmInput_schemeDetect::Execute, "Укажите схему подключения детекторов", {"раздельная", "совместная"}},
        {"typeTPU", TfmInput_typeTPU::Execute, "Укажите тип ТПУ", {"1-направленная", "2-направленная"}},
        {"RaschetSum", TfmInput_RaschetSum::Execute, "Способ расчета суммы", {"за 1 проход", "за 2 прохода"}},
        {"Voltage", TfmInput_Voltage::Execute, "Величина напряжения сигнала",
         {"0.01", "0.025", "0.05", "0.1", "0.25", "0.5", "1.0", "2.5", "5.0"}},
        {"tDelay", TfmInput_tDelay::Execute, "Укажите время задержки", {"0", "0.1", "0.5", "1", "2", "5"}},
        {"durationPulses", TfmInput_durationPulses::Execute, "Укажите длительность импульсов", {"0.2", "1.0", "5.0"}},
        {"rangeChanel", TfmInput_rangeChanel::Execute, "Укажите диапазон канала", {"4-20 мА", "0-20 мА"}},
        {"stepChanel", TfmInput_stepChanel::Execute, "Укажите шаг канала",
         {"10 мкА/1%", "100 мкА/2%", "1000 мкА/5%", "4000 мкА/10%"}},
        {"scaleChanel", TfmInput_scaleChanel::Execute, "Укажите шкалу канала", {"в мкА", "в %"}},
        {"ImitationTC", TfmInput_ImitationTC::Execute, "Укажите номинал сопротивления",
         {"1-й номинал", "2-й номинал", "3-й номинал", "4-й номинал", "5-й номинал"}},
    };
}

}  // namespace

class TestDialogs : public QObject {
    Q_OBJECT

private slots:
    void choiceRuns_data();
    void choiceRuns();
    void choiceKeysDoNotEndDialog_data();
    void choiceKeysDoNotEndDialog();
    void choiceShowsCaptionAndList_data();
    void choiceShowsCaptionAndList();
    void closeBoxCancels_data();
    void closeBoxCancels();
    void choiceLayout_data();
    void choiceLayout();
    void choiceCreatesFreshFormEachCall();

    void wordDialogClamps_data();
    void wordDialogClamps();
    void wordDialogCancelKeepsValue();
    void floatDialogOpensClamped_data();
    void floatDialogOpensClamped();
    void floatDialogRefusesExtraDecimalAndMinus();
    void numberDialogKeysDoNotEndDialog();
    void numberDialogLayout();
    void wholeNumberCut_data();
    void wholeNumberCut();
};

// What the user does in a choice dialog, and what Execute gives back.
void TestDialogs::choiceRuns_data()
{
    QTest::addColumn<ChooseFn>("execute");
    QTest::addColumn<QString>("typed");    // "" types nothing
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("expected");
    for (const TMember &m : Members()) {
        const QByteArray n(m.name);
        QTest::newRow(n + " ok at once") << m.execute << QString() << Ok << 0;
        QTest::newRow(n + " cancel") << m.execute << QString() << Cancel << 255;
        QTest::newRow(n + " cancel after choosing") << m.execute << m.items.last() << Cancel << 255;
        QTest::newRow(n + " typed last entry") << m.execute << m.items.last() << Ok << int(m.items.size() - 1);
        QTest::newRow(n + " typed no entry") << m.execute << QStringLiteral("7x") << Ok << 255;
        QTest::newRow(n + " typed prefix of an entry") << m.execute << m.items.last().left(1) + "\u2026" << Ok << 255;
        QTest::newRow(n + " entry with a trailing space") << m.execute << m.items.first() + " " << Ok << 255;
    }
    QTest::newRow("countDetect digit only") << ChooseFn(TfmInput_countDetect::Execute) << "4" << Ok << 255;
    QTest::newRow("typeDetect case differs") << ChooseFn(TfmInput_typeDetect::Execute) << "нз" << Ok << 255;
    QTest::newRow("typeDetect case differs, Enter") << ChooseFn(TfmInput_typeDetect::Execute) << "нз\n" << Ok << 255;
    QTest::newRow("tDelay entry, Enter") << ChooseFn(TfmInput_tDelay::Execute) << "0.5\n" << Ok << 2;
}

void TestDialogs::choiceRuns()
{
    QFETCH(ChooseFn, execute);
    QFETCH(QString, typed);
    QFETCH(QString, button);
    QFETCH(int, expected);
    bool clicked = false;
    int openedOn = -2;
    driver::WhenModal([&](QWidget *dialog) {
        openedOn = ComboOf(dialog)->currentIndex();
        if (typed.endsWith(u'\n')) {
            TypeIntoCombo(dialog, typed.chopped(1));
            QTest::keyClick(ComboOf(dialog)->lineEdit(), Qt::Key_Return);
        } else if (!typed.isEmpty()) {
            TypeIntoCombo(dialog, typed);
        }
        clicked = driver::Click(dialog, button);
    });
    const int result = execute();
    QVERIFY(clicked);
    QCOMPARE(openedOn, 0);
    QCOMPARE(result, expected);
}

// Enter and Esc, in the box or on the dialog, leave it open; the list then still answers.
void TestDialogs::choiceKeysDoNotEndDialog_data()
{
    QTest::addColumn<ChooseFn>("execute");
    for (const TMember &m : Members())
        QTest::newRow(m.name) << m.execute;
}

void TestDialogs::choiceKeysDoNotEndDialog()
{
    QFETCH(ChooseFn, execute);
    bool stillOpen = false;
    int countAfterEnter = -1;
    driver::WhenModal([&](QWidget *dialog) {
        QComboBox *box = ComboOf(dialog);
        const int count = box->count();
        TypeIntoCombo(dialog, QStringLiteral("новое"));
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QTest::keyClick(box->lineEdit(), Qt::Key_Enter);
        QTest::keyClick(box->lineEdit(), Qt::Key_Escape);
        QTest::keyClick(dialog, Qt::Key_Escape);
        QTest::keyClick(dialog, Qt::Key_Return);
        QTest::keyClick(driver::Button(dialog, Ok), Qt::Key_Escape);
        driver::Pump(30);
        stillOpen = dialog->isVisible();
        countAfterEnter = box->count() - count;  // typed text never joins the list
        box->setCurrentIndex(1);  // a pick from the drop-down list
        driver::Click(dialog, Ok);
    });
    const int result = execute();
    QVERIFY(stillOpen);
    QCOMPARE(countAfterEnter, 0);
    QCOMPARE(result, 1);
}

void TestDialogs::choiceShowsCaptionAndList_data()
{
    QTest::addColumn<ChooseFn>("execute");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("items");
    for (const TMember &m : Members())
        QTest::newRow(m.name) << m.execute << QString::fromUtf8(m.caption) << m.items;
}

void TestDialogs::choiceShowsCaptionAndList()
{
    QFETCH(ChooseFn, execute);
    QFETCH(QString, caption);
    QFETCH(QStringList, items);
    QString shownCaption;
    QStringList shownItems;
    QString shownText;
    bool editable = false;
    driver::WhenModal([&](QWidget *dialog) {
        shownCaption = dialog->windowTitle();
        QComboBox *box = ComboOf(dialog);
        for (int i = 0; i < box->count(); ++i)
            shownItems << box->itemText(i);
        shownText = box->currentText();
        editable = box->isEditable();
        driver::Click(dialog, Cancel);
    });
    execute();
    QCOMPARE(shownCaption, caption);
    QCOMPARE(shownItems, items);
    QCOMPARE(shownText, items.first());
    QVERIFY(editable);
}

// The close box gives the cancel result, even after an entry was chosen.
void TestDialogs::closeBoxCancels_data()
{
    QTest::addColumn<ChooseFn>("execute");
    QTest::newRow("typeTPU") << ChooseFn(TfmInput_typeTPU::Execute);
    QTest::newRow("tool window closed by the window manager") << ChooseFn(TfmInput_countDetect::Execute);
}

void TestDialogs::closeBoxCancels()
{
    QFETCH(ChooseFn, execute);
    driver::WhenModal([&](QWidget *dialog) {
        ComboOf(dialog)->setCurrentIndex(1);
        dialog->close();
    });
    QCOMPARE(int(execute()), 255);
}

void TestDialogs::choiceLayout_data()
{
    QTest::addColumn<QString>("member");
    QTest::addColumn<QSize>("client");
    QTest::addColumn<QRect>("box");
    QTest::addColumn<int>("buttonX");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QPoint>("labelAt");
    QTest::addColumn<bool>("toolWindow");
    QTest::addColumn<bool>("designedPosition");
    const QSize common(323, 101);
    const QRect box(16, 24, 177, 21);
    QTest::newRow("countDetect") << "countDetect" << common << box << 232 << "" << QPoint() << true << false;
    QTest::newRow("schemeDetect") << "schemeDetect" << QSize(366, 101) << QRect(16, 24, 241, 21) << 272 << ""
                                  << QPoint() << true << false;
    QTest::newRow("typeTPU") << "typeTPU" << common << box << 232 << "" << QPoint() << false << true;
    QTest::newRow("Voltage") << "Voltage" << common << QRect(16, 24, 161, 21) << 232 << "В" << QPoint(184, 28)
                             << true << true;
    QTest::newRow("durationPulses") << "durationPulses" << common << box << 232 << "сек" << QPoint(192, 27) << true
                                    << true;
    QTest::newRow("ImitationTC") << "ImitationTC" << common << box << 232 << "" << QPoint() << true << false;
}

void TestDialogs::choiceLayout()
{
    QFETCH(QString, member);
    QFETCH(QSize, client);
    QFETCH(QRect, box);
    QFETCH(int, buttonX);
    QFETCH(QString, label);
    QFETCH(QPoint, labelAt);
    QFETCH(bool, toolWindow);
    QFETCH(bool, designedPosition);
    std::unique_ptr<TChoiceDialog> dialog;
    if (member == "countDetect") dialog.reset(new TfmInput_countDetect);
    if (member == "schemeDetect") dialog.reset(new TfmInput_schemeDetect);
    if (member == "typeTPU") dialog.reset(new TfmInput_typeTPU);
    if (member == "Voltage") dialog.reset(new TfmInput_Voltage);
    if (member == "durationPulses") dialog.reset(new TfmInput_durationPulses);
    if (member == "ImitationTC") dialog.reset(new TfmInput_ImitationTC);
    QVERIFY(dialog);

    QCOMPARE(dialog->size(), client);
    QCOMPARE(dialog->ComboBox1->geometry(), box);
    QCOMPARE(dialog->Button1->geometry(), QRect(buttonX, 24, 75, 25));
    QCOMPARE(dialog->Button2->geometry(), QRect(buttonX, 65, 75, 25));
    QCOMPARE(dialog->Button1->text(), QString::fromUtf8("\u041e\u041a"));  // Cyrillic О and К
    QCOMPARE(dialog->Button2->text(), Cancel);
    QVERIFY(!dialog->Button1->autoDefault() && !dialog->Button1->isDefault());
    QVERIFY(!dialog->Button2->autoDefault() && !dialog->Button2->isDefault());
    QCOMPARE(dialog->ComboBox1->insertPolicy(), QComboBox::NoInsert);
    QVERIFY(dialog->ComboBox1->completer() == nullptr);
    QCOMPARE(dialog->font().pointSize(), 8);
    if (label.isEmpty()) {
        QVERIFY(dialog->Label1 == nullptr);
    } else {
        QVERIFY(dialog->Label1);
        QCOMPARE(dialog->Label1->text(), label);
        QCOMPARE(dialog->Label1->pos(), labelAt);
        QCOMPARE(dialog->Label1->font().pointSize(), 12);
        // the label stays clear of the box and of the buttons
        QVERIFY(dialog->Label1->geometry().left() >= dialog->ComboBox1->geometry().right());
        QVERIFY(dialog->Label1->geometry().right() < buttonX);
    }
    const Qt::WindowFlags flags = dialog->windowFlags();
    QCOMPARE((flags & Qt::WindowType_Mask) == Qt::Tool, toolWindow);
    QCOMPARE(bool(flags & Qt::WindowCloseButtonHint), !toolWindow);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));

    QPoint shownAt;
    driver::WhenModal([&](QWidget *d) {
        shownAt = d->pos();
        driver::Click(d, Cancel);
    });
    dialog->Choose();
    if (designedPosition)
        QCOMPARE(shownAt, QPoint(704, 330));
    else
        QVERIFY(shownAt != QPoint(704, 330));
}

// Nothing carries over from one call to the next: the second call opens on item 0 again.
void TestDialogs::choiceCreatesFreshFormEachCall()
{
    driver::WhenModal([](QWidget *dialog) {
        ComboOf(dialog)->setCurrentIndex(4);
        driver::Click(dialog, Ok);
    });
    QCOMPARE(int(TfmInput_ImitationTC::Execute()), 4);
    int openedOn = -1;
    driver::WhenModal([&](QWidget *dialog) {
        openedOn = ComboOf(dialog)->currentIndex();
        driver::Click(dialog, Ok);
    });
    QCOMPARE(int(TfmInput_ImitationTC::Execute()), 0);
    QCOMPARE(openedOn, 0);
    int dialogsLeft = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        dialogsLeft += qobject_cast<QDialog *>(w) ? 1 : 0;
    QCOMPARE(dialogsLeft, 0);  // each call destroys its form
}

void TestDialogs::wordDialogClamps_data()
{
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("expected");
    QTest::newRow("above the maximum") << 100.0 << 100000.0 << "150000" << 100000;
    QTest::newRow("below the minimum") << 100.0 << 100000.0 << "5" << 100;
    QTest::newRow("within") << 100.0 << 100000.0 << "4321" << 4321;
    QTest::newRow("many digits") << 0.0 << 999999.0 << "12345678901234567890" << 999999;
    QTest::newRow("zero") << 0.0 << 999999.0 << "0" << 0;
    QTest::newRow("emptied field") << 0.0 << 999999.0 << "\b" << 0;
    QTest::newRow("emptied field raised to the minimum") << 1.0 << 999999.0 << "\b" << 1;
    QTest::newRow("decimal digit refused") << 10.0 << 24000.0 << "123.7" << 123;
    QTest::newRow("minus refused") << 10.0 << 24000.0 << "-20" << 20;
    QTest::newRow("current above") << 10.0 << 24000.0 << "30000" << 24000;
    QTest::newRow("nothing typed opens at the minimum") << 100.0 << 100000.0 << "" << 100;
    QTest::newRow("nothing typed, 1 within") << 0.0 << 999999.0 << "" << 1;
}

void TestDialogs::wordDialogClamps()
{
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(QString, typed);
    QFETCH(int, expected);
    driver::WhenModal([&](QWidget *dialog) {
        if (typed == "\b") {
            TypeIntoField(dialog, QString());
            QTest::keyClick(FieldOf(dialog), Qt::Key_Backspace);
        } else if (!typed.isEmpty()) {
            TypeIntoField(dialog, typed);
        }
        driver::Click(dialog, Ok);
    });
    int32_t value = -7;
    QVERIFY(TfmInput_wordValue::Execute(value, min, max));
    QCOMPARE(value, expected);
}

void TestDialogs::wordDialogCancelKeepsValue()
{
    driver::WhenModal([](QWidget *dialog) {
        TypeIntoField(dialog, "555");
        driver::Click(dialog, Cancel);
    });
    int32_t value = 4242;
    QVERIFY(!TfmInput_wordValue::Execute(value, 0, 999999));
    QCOMPARE(value, 4242);

    driver::WhenModal([](QWidget *dialog) {
        TypeIntoField(dialog, "555");
        driver::Click(dialog, Cancel);
    });
    long double real = 3.5L;
    QVERIFY(!TfmInput_floatValue::Execute(real, 2, 1, 99999.99L));
    QCOMPARE(double(real), 3.5);
}

void TestDialogs::floatDialogOpensClamped_data()
{
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<double>("opensAt");
    QTest::newRow("frequency") << 1 << 10.0 << 12000.0 << 10.0;
    QTest::newRow("K-factor") << 2 << 1.0 << 99999.99 << 1.0;
}

void TestDialogs::floatDialogOpensClamped()
{
    QFETCH(int, decimals);
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(double, opensAt);
    QString shown;
    driver::WhenModal([&](QWidget *dialog) {
        driver::Activate(dialog);
        shown = FieldOf(dialog)->text();
        driver::Click(dialog, Ok);
    });
    long double value = -1;
    QVERIFY(TfmInput_floatValue::Execute(value, decimals, min, max));
    QCOMPARE(double(value), opensAt);
    QCOMPARE(shown, QString::number(opensAt));
}

void TestDialogs::floatDialogRefusesExtraDecimalAndMinus()
{
    QString shown;
    driver::WhenModal([&](QWidget *dialog) {
        TypeIntoField(dialog, "-12.345");
        shown = FieldOf(dialog)->text();
        driver::Click(dialog, Ok);
    });
    long double value = 0;
    QVERIFY(TfmInput_floatValue::Execute(value, 2, 1, 99999.99L));
    QCOMPARE(shown, QStringLiteral("12.34"));
    QCOMPARE(float(value), 12.34f);  // what the program stores
}

// Enter and Esc in the field or on the dialog leave it open; Esc puts the value's text back.
void TestDialogs::numberDialogKeysDoNotEndDialog()
{
    bool stillOpen = false;
    QString afterEsc;
    driver::WhenModal([&](QWidget *dialog) {
        TypeIntoField(dialog, "777");
        QTest::keyClick(FieldOf(dialog), Qt::Key_Return);
        QTest::keyClick(FieldOf(dialog), Qt::Key_Escape);
        afterEsc = FieldOf(dialog)->text();
        QTest::keyClick(dialog, Qt::Key_Escape);
        QTest::keyClick(dialog, Qt::Key_Enter);
        driver::Pump(30);
        stillOpen = dialog->isVisible();
        TypeIntoField(dialog, "88");
        driver::Click(dialog, Ok);
    });
    int32_t value = 0;
    QVERIFY(TfmInput_wordValue::Execute(value, 100, 100000));
    QVERIFY(stillOpen);
    QCOMPARE(afterEsc, QStringLiteral("100"));
    QCOMPARE(value, 100);  // 88 raised to the minimum
}

void TestDialogs::numberDialogLayout()
{
    TfmInput_floatValue real;
    TfmInput_wordValue whole;
    for (TNumberDialog *dialog : {static_cast<TNumberDialog *>(&real), static_cast<TNumberDialog *>(&whole)}) {
        QCOMPARE(dialog->size(), QSize(320, 104));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Введите число"));
        QCOMPARE(dialog->RxCalcEdit1->geometry(), QRect(8, 24, 177, 21));
        QCOMPARE(dialog->Button1->geometry(), QRect(224, 24, 75, 25));
        QCOMPARE(dialog->Button2->geometry(), QRect(224, 64, 75, 25));
        QCOMPARE(dialog->findChildren<QLabel *>().size(), 0);  // the caption is the only text
    }
    QCOMPARE(real.RxCalcEdit1->DisplayFormat(), QStringLiteral(",0.##"));
    QCOMPARE(real.RxCalcEdit1->DecimalPlaces(), 1);
    QCOMPARE(whole.RxCalcEdit1->DisplayFormat(), QStringLiteral("0"));
    QCOMPARE(whole.RxCalcEdit1->DecimalPlaces(), 0);
}

void TestDialogs::wholeNumberCut_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("toward zero") << 3.9 << 3;
    QTest::newRow("negative toward zero") << -3.9 << -3;
    QTest::newRow("largest") << 2147483647.0 << 2147483647;
    QTest::newRow("beyond the largest") << 1e12 << 2147483647;
    QTest::newRow("beyond the smallest") << -1e12 << int(-2147483647 - 1);
    QTest::newRow("not a number") << std::nan("") << 0;
}

void TestDialogs::wholeNumberCut()
{
    QFETCH(double, value);
    QFETCH(int, expected);
    QCOMPARE(TruncateToInt32(value), expected);
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
