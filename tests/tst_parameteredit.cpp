// Editing one parameter: from a tree index to its dialog and into DeviceConfig.

#include <QComboBox>
#include <QtTest>
#include <cstddef>
#include <cstring>

#include "Globals.h"
#include "ParameterEdit.h"
#include "ResetGlobals.h"
#include "RxCalcEdit.h"
#include "dialog_driver.h"

namespace {

constexpr uint8_t Pattern = 0xA5;

enum Kind { B, F, I, W };

struct TLeaf {
    int index;
    const char *caption;
    size_t offset;
    Kind kind;
    int items;  // list length of a choice dialog
};

#define LEAF(index, caption, field, kind, items) {index, caption, offsetof(TDeviceConfig, field), kind, items}

const QList<TLeaf> &Leaves()
{
    static const QList<TLeaf> leaves = {
        LEAF(2, "Укажите количество детекторов", Tpu1DetectorCount, B, 2),
        LEAF(3, "Укажите тип детекторов", Tpu1DetectorType, B, 2),
        LEAF(4, "Укажите схему подключения детекторов", Tpu1DetectorScheme, B, 2),
        LEAF(5, "Укажите тип ТПУ", Tpu1TpuType, B, 2),
        LEAF(6, "Способ расчета суммы", Tpu1SumMethod, B, 2),
        LEAF(7, "Введите число", Tpu1KFactor2, F, 0),
        LEAF(9, "Укажите количество детекторов", Tpu2DetectorCount, B, 2),
        LEAF(10, "Укажите тип детекторов", Tpu2DetectorType, B, 2),
        LEAF(11, "Укажите схему подключения детекторов", Tpu2DetectorScheme, B, 2),
        LEAF(12, "Укажите тип ТПУ", Tpu2TpuType, B, 2),
        LEAF(13, "Способ расчета суммы", Tpu2SumMethod, B, 2),
        LEAF(14, "Введите число", Tpu2KFactor2, F, 0),
        LEAF(16, "Введите число", TprN1Min, I, 0),
        LEAF(17, "Введите число", TprN1Max, I, 0),
        LEAF(18, "Введите число", TprKFactor1, F, 0),
        LEAF(19, "Введите число", TprKFactor2, F, 0),
        LEAF(21, "Введите число", PackCount, I, 0),
        LEAF(22, "Введите число", PackFrequency, F, 0),
        LEAF(23, "Величина напряжения сигнала", PackVoltage, B, 9),
        LEAF(24, "Укажите время задержки", PackDelay, B, 6),
        LEAF(26, "Введите число", TqN1Min, I, 0),
        LEAF(27, "Введите число", TqN1Max, I, 0),
        LEAF(28, "Введите число", TqFrequency, F, 0),
        LEAF(29, "Величина напряжения сигнала", TqVoltage, B, 9),
        LEAF(31, "Укажите длительность импульсов", ImitTpuDuration, B, 3),
        LEAF(32, "Введите число", ImitTpuCount, I, 0),
        LEAF(34, "Введите число", GenFFrequency, F, 0),
        LEAF(35, "Величина напряжения сигнала", GenFVoltage, B, 9),
        LEAF(37, "Введите число", GenTPeriod, I, 0),
        LEAF(38, "Величина напряжения сигнала", GenTVoltage, B, 9),
        LEAF(40, "Введите число", GenICurrent1, W, 0),
        LEAF(41, "Введите число", GenICurrent2, W, 0),
        LEAF(42, "Укажите диапазон канала", GenIRange1, B, 2),
        LEAF(43, "Укажите шаг канала", GenIStep1, B, 4),
        LEAF(44, "Укажите шкалу канала", GenIScale1, B, 2),
        LEAF(45, "Укажите диапазон канала", GenIRange2, B, 2),
        LEAF(46, "Укажите шаг канала", GenIStep2, B, 4),
        LEAF(47, "Укажите шкалу канала", GenIScale2, B, 2),
        LEAF(49, "Укажите номинал сопротивления", ImitTcResistance, B, 5),
    };
    return leaves;
}

QByteArray ConfigBytes()
{
    return QByteArray(reinterpret_cast<const char *>(&DeviceConfig), sizeof DeviceConfig);
}

size_t SizeOf(Kind kind)
{
    switch (kind) {
    case B: return 1;
    case W: return 2;
    default: return 4;
    }
}

// The field's value as a double, read by its kind.
double FieldValue(size_t offset, Kind kind)
{
    const auto *at = reinterpret_cast<const uint8_t *>(&DeviceConfig) + offset;
    switch (kind) {
    case B: return *at;
    case W: { uint16_t v; std::memcpy(&v, at, 2); return v; }
    case I: { uint32_t v; std::memcpy(&v, at, 4); return v; }
    case F: { float v; std::memcpy(&v, at, 4); return v; }
    }
    return -1;
}

// Types into the open number dialog's field, replacing its text.
void TypeIntoField(QWidget *dialog, const QString &text)
{
    TRxCalcEdit *field = dialog->findChild<TRxCalcEdit *>();
    driver::Activate(dialog);
    field->setFocus(Qt::TabFocusReason);
    field->selectAll();
    driver::TypeText(field, text);
}

}  // namespace

class TestParameterEdit : public QObject {
    Q_OBJECT

private slots:
    void init() { std::memset(&DeviceConfig, Pattern, sizeof DeviceConfig); }
    void cleanupTestCase() { ResetGlobals(); }

    void everyLeafStoresIntoItsField_data();
    void everyLeafStoresIntoItsField();
    void cancelChangesNothing_data();
    void cancelChangesNothing();
    void valuesConverted_data();
    void valuesConverted();
    void indicesWithoutRowOpenNothing_data();
    void indicesWithoutRowOpenNothing();
};

// Accepting a value stores it in the leaf's own field and nowhere else.
void TestParameterEdit::everyLeafStoresIntoItsField_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<qulonglong>("offset");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("action");  // "ok", "last" or text to type
    QTest::addColumn<double>("expected");
    for (const TLeaf &leaf : Leaves()) {
        const QByteArray n = QByteArray::number(leaf.index);
        const QString caption = QString::fromUtf8(leaf.caption);
        switch (leaf.kind) {
        case B:
            QTest::newRow(n + " ok at once") << leaf.index << caption << qulonglong(leaf.offset) << int(leaf.kind)
                                             << "ok" << 0.0;
            QTest::newRow(n + " last item") << leaf.index << caption << qulonglong(leaf.offset) << int(leaf.kind)
                                            << "last" << double(leaf.items - 1);
            break;
        case F:
            QTest::newRow(n) << leaf.index << caption << qulonglong(leaf.offset) << int(leaf.kind) << "1234.56"
                             << double(1234.5f);  // a frequency takes one decimal, a K-factor two
            break;
        case I:
        case W:
            QTest::newRow(n) << leaf.index << caption << qulonglong(leaf.offset) << int(leaf.kind) << "20000"
                             << 20000.0;
            break;
        }
    }
}

void TestParameterEdit::everyLeafStoresIntoItsField()
{
    QFETCH(int, index);
    QFETCH(QString, caption);
    QFETCH(qulonglong, offset);
    QFETCH(int, kind);
    QFETCH(QString, action);
    QFETCH(double, expected);
    QString shownCaption;
    bool twoDecimals = false;
    driver::WhenModal([&](QWidget *dialog) {
        shownCaption = dialog->windowTitle();
        if (action == "last") {
            QComboBox *box = dialog->findChild<QComboBox *>();
            box->setCurrentIndex(box->count() - 1);
        } else if (action != "ok") {
            TRxCalcEdit *field = dialog->findChild<TRxCalcEdit *>();
            twoDecimals = field->DecimalPlaces() == 2;
            TypeIntoField(dialog, action);
        }
        driver::Click(dialog, QStringLiteral("ОК"));
    });
    const QByteArray before = ConfigBytes();
    QVERIFY(EditParameter(nullptr, index));
    QCOMPARE(shownCaption, caption);
    const double want = twoDecimals ? double(1234.56f) : expected;
    QCOMPARE(FieldValue(offset, Kind(kind)), want);
    const QByteArray after = ConfigBytes();
    for (qsizetype i = 0; i < after.size(); ++i)
        if (size_t(i) < offset || size_t(i) >= offset + SizeOf(Kind(kind)))
            QVERIFY2(after[i] == before[i], qPrintable(QString("byte %1 changed").arg(i)));
}

void TestParameterEdit::cancelChangesNothing_data()
{
    QTest::addColumn<int>("index");
    for (const TLeaf &leaf : Leaves())
        QTest::newRow(QByteArray::number(leaf.index)) << leaf.index;
}

void TestParameterEdit::cancelChangesNothing()
{
    QFETCH(int, index);
    driver::WhenModal([&](QWidget *dialog) {
        if (QComboBox *box = dialog->findChild<QComboBox *>())
            box->setCurrentIndex(1);
        else
            TypeIntoField(dialog, "50");
        driver::Click(dialog, QStringLiteral("Отмена"));
    });
    const QByteArray before = ConfigBytes();
    QVERIFY(!EditParameter(nullptr, index));
    QCOMPARE(ConfigBytes(), before);
}

void TestParameterEdit::valuesConverted_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<qulonglong>("offset");
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("expected");
    const auto at = [](auto field) { return qulonglong(field); };
    QTest::newRow("4 детектора at 2") << 2 << "4 детектора" << at(offsetof(TDeviceConfig, Tpu1DetectorCount)) << int(B) << 1.0;
    QTest::newRow("K-factor 12.34") << 7 << "12.34" << at(offsetof(TDeviceConfig, Tpu1KFactor2)) << int(F)
                                    << double(12.34f);
    QTest::newRow("K-factor third decimal refused") << 18 << "12.345" << at(offsetof(TDeviceConfig, TprKFactor1))
                                                    << int(F) << double(12.34f);
    QTest::newRow("K-factor raised to 1") << 19 << "0.5" << at(offsetof(TDeviceConfig, TprKFactor2)) << int(F) << 1.0;
    QTest::newRow("frequency lowered to 12000") << 34 << "99999" << at(offsetof(TDeviceConfig, GenFFrequency))
                                                << int(F) << 12000.0;
    QTest::newRow("current 30000 at 40") << 40 << "30000" << at(offsetof(TDeviceConfig, GenICurrent1)) << int(W)
                                         << 24000.0;
    QTest::newRow("current 5 at 41") << 41 << "5" << at(offsetof(TDeviceConfig, GenICurrent2)) << int(W) << 10.0;
    QTest::newRow("preset 999999") << 16 << "999999" << at(offsetof(TDeviceConfig, TprN1Min)) << int(I) << 999999.0;
    QTest::newRow("preset above") << 21 << "1000000" << at(offsetof(TDeviceConfig, PackCount)) << int(I) << 999999.0;
    QTest::newRow("preset 0") << 26 << "0" << at(offsetof(TDeviceConfig, TqN1Min)) << int(I) << 0.0;
    QTest::newRow("pulse count at least 1") << 32 << "0" << at(offsetof(TDeviceConfig, ImitTpuCount)) << int(I) << 1.0;
    QTest::newRow("period 5 raised") << 37 << "5" << at(offsetof(TDeviceConfig, GenTPeriod)) << int(I) << 100.0;
    QTest::newRow("voltage 2.5") << 38 << "2.5" << at(offsetof(TDeviceConfig, GenTVoltage)) << int(B) << 7.0;
    QTest::newRow("typed no entry") << 24 << "3" << at(offsetof(TDeviceConfig, PackDelay)) << int(B) << double(Pattern);
}

void TestParameterEdit::valuesConverted()
{
    QFETCH(int, index);
    QFETCH(QString, typed);
    QFETCH(qulonglong, offset);
    QFETCH(int, kind);
    QFETCH(double, expected);
    driver::WhenModal([&](QWidget *dialog) {
        if (QComboBox *box = dialog->findChild<QComboBox *>()) {
            box->lineEdit()->selectAll();
            driver::TypeText(box->lineEdit(), typed);
        } else {
            TypeIntoField(dialog, typed);
        }
        driver::Click(dialog, QStringLiteral("ОК"));
    });
    const bool accepted = EditParameter(nullptr, index);
    QCOMPARE(accepted, expected != double(Pattern));
    QCOMPARE(FieldValue(offset, Kind(kind)), expected);
}

void TestParameterEdit::indicesWithoutRowOpenNothing_data()
{
    QTest::addColumn<int>("index");
    for (int index : {0, 1, 8, 15, 20, 25, 30, 33, 36, 39, 48, 50, 51, 1000, -1})
        QTest::newRow(QByteArray::number(index)) << index;
}

void TestParameterEdit::indicesWithoutRowOpenNothing()
{
    QFETCH(int, index);
    bool opened = false;
    driver::WhenModal(
        [&](QWidget *dialog) {
            opened = true;
            driver::Click(dialog, QStringLiteral("Отмена"));
        },
        200);
    const QByteArray before = ConfigBytes();
    QVERIFY(!EditParameter(nullptr, index));
    driver::Pump(300);
    QVERIFY(!opened);
    QCOMPARE(ConfigBytes(), before);
}

QTEST_MAIN(TestParameterEdit)
#include "tst_parameteredit.moc"
