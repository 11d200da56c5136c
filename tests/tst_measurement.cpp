// The measuring mode windows on an in-memory link: their forms, the frames they send,
// the status bit each one watches, the decoding of their values answers into the grid,
// the S2 base of the TPR-by-TPU window and the two ways a busy port is treated.

#include "CauseText.h"
#include "Globals.h"
#include "Imitation_TPU.h"
#include "MeasureWindow.h"
#include "MessageBoxCloser.h"
#include "ModeTestRig.h"
#include "TPR_TPR.h"
#include "TPR_TPU.h"
#include "TQ.h"
#include "freq_counter.h"
#include "pack_pulses.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

struct Rig : FakeLinkRig<TMeasureWindow> {
    TMeasureWindow &W() { return *Window; }
    QString Cell(int row) const { return Window->StringGrid1->item(row, 1)->text(); }
    QList<QByteArray> &Sent() { return Link->Sent; }
};

template <typename W>
Rig MakeRigOf(const std::function<void(W &)> &setUp = {})
{
    return {FakeLinkRig<TMeasureWindow>::Of<W>(setUp)};
}

// "TPU1", "TPU2", "TPR", "freq", "pack", "TQ", "imit"
Rig MakeRig(const QString &which)
{
    if (which == "TPU1")
        return MakeRigOf<TfmTPR_TPU>([](TfmTPR_TPU &w) { w.SelectTPU(1); });
    if (which == "TPU2")
        return MakeRigOf<TfmTPR_TPU>([](TfmTPR_TPU &w) { w.SelectTPU(0); });
    if (which == "TPR")
        return MakeRigOf<TfmTPR_TPR>();
    if (which == "freq")
        return MakeRigOf<Tfmfreq_counter>();
    if (which == "pack")
        return MakeRigOf<Tfmpack_pulses>();
    if (which == "TQ")
        return MakeRigOf<TfmTQ>();
    return MakeRigOf<TfmImitation_TPU>();
}

const QStringList AllWindows{"TPU1", "TPU2", "TPR", "freq", "pack", "TQ", "imit"};

QByteArray Status(uint8_t bits)
{
    QByteArray a = HexBytes("0A 01 01 00");
    a[3] = char(bits);
    return AppendDeviceCrc(a);
}

// A values answer of function 4 with the given data bytes.
QByteArray Values(const QByteArray &data)
{
    QByteArray a = HexBytes("0A 04 00");
    a[2] = char(data.size());
    return AppendDeviceCrc(a + data);
}

// Data bytes of `registers` registers, all zero but `bytes` at answer offset `offset`.
QByteArray DataWith(int registers, int offset, const char *bytes)
{
    QByteArray data(registers * 2, '\0');
    const QByteArray b = HexBytes(bytes);
    data.replace(offset - 3, b.size(), b);
    return data;
}

int RegistersOf(const QString &which)
{
    if (which.startsWith("TPU"))
        return 40;
    if (which == "TPR")
        return 12;
    if (which == "freq")
        return 8;
    if (which == "pack")
        return 4;
    if (which == "TQ")
        return 6;
    return 2;
}

// One full exchange: the tick that sends, the answer, the tick that processes it.
void Exchange(Rig &rig, const QByteArray &answer)
{
    rig.W().Timer1Timer();
    rig.Feed(answer);
    rig.W().Timer1Timer();
}

// A window brought to the point where its next tick sends a values request.
void ThroughFirstStatus(Rig &rig, uint8_t bits)
{
    Exchange(rig, Status(bits));
}

}  // namespace

class TestMeasurement : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
    void cleanupTestCase() { QLocale::setDefault(QLocale::c()); }
    void init() { ClearReceiveBuffer(); }

    void form_data();
    void form();
    void captionFollowsChannel();
    void firstRequests_data();
    void firstRequests();
    void statusBit_data();
    void statusBit();
    void startStop_data();
    void startStop();
    void clickBeforeEchoWins_data() { startStop_data(); }
    void clickBeforeEchoWins();
    void frequencyCounterNeverCommands();
    void values_data();
    void values();
    void valueRowsOfEveryWindow_data();
    void valueRowsOfEveryWindow();
    void shortAnswerKeepsLaterRows();
    void lateStatusAnswerShownAsValues();
    void s2AlreadyOnAtOpening();
    void s2NoNewBaseAfterFailedValues();
    void s2BelowBase();
    void s2ReopeningTakesNewBase();
    void s2BasePerChannel();
    void s2Logic_data();
    void s2Logic();
    void busyPort_data();
    void busyPort();
    void busyPortLeavesTimeToExit_data();
    void busyPortLeavesTimeToExit();
};

void TestMeasurement::form_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QSize>("client");
    QTest::addColumn<QStringList>("captions");
    QTest::newRow("TPU1") << "TPU1" << "fmTPR_TPU" << QSize(543, 562)
                          << QStringList{"Частота, Гц", "Расход", "Количество импульсов с долями, N1-2др",
                                         "Суммарное количество импульсов с долями, S1",
                                         "Целое количество импульсов, N1-2цел",
                                         "Суммарное целое количество ипульсов S2",
                                         "Время между срабатываниями детекторов Т1-2,мкС",
                                         "Суммарное время S3, мкС", "Количество импульсов с долями, N2-1др",
                                         "Целое количество импульсов, N2-1цел",
                                         "Время между срабатываниями детекторов Т2-1,мкС",
                                         "Количество импульсов с долями, N3-4др",
                                         "Целое количество импульсов, N3-4цел",
                                         "Время между срабатываниями детекторов Т3-4,мкС",
                                         "Количество импульсов с долями, N4-3др",
                                         "Целое количество импульсов, N4-3цел",
                                         "Время между срабатываниями детекторов Т4-3,мкС",
                                         "Суммарное количество импульсов с долями, S4",
                                         "Суммарное целое количество ипульсов S5", "Суммарное время S6, мкС"};
    QTest::newRow("TPR") << "TPR" << "ТПР оп ТПР" << QSize(543, 197)
                         << QStringList{"Частота по каналу 1, Гц", "Частота по каналу 2, Гц", "Расход по каналу 1",
                                        "Расход по каналу 2", "Количество импульсов по каналу 1",
                                        "Количество импульсов по каналу 2"};
    QTest::newRow("freq") << "freq" << "Частотомер" << QSize(543, 131)
                          << QStringList{"Частота по каналу 1, Гц", "Частота по каналу 2, Гц", "Период по каналу 1",
                                         "Период по каналу 2"};
    QTest::newRow("pack") << "pack" << "Пачка импульсов" << QSize(543, 99)
                          << QStringList{"Количество импульсов N1(вх)", "Количество импульсов N2(вых)"};
    QTest::newRow("TQ") << "TQ" << "Режим TQ" << QSize(543, 121)
                        << QStringList{"Количество выданных импульсов", "Количество поступивших импульсов",
                                       "К-фактор"};
    QTest::newRow("imit") << "imit" << "Имитация ТПУ" << QSize(543, 99)
                          << QStringList{"Количество импульсов"};
}

void TestMeasurement::form()
{
    QFETCH(QString, which);
    QFETCH(QString, caption);
    QFETCH(QSize, client);
    QFETCH(QStringList, captions);
    Rig rig = MakeRig(which);
    TMeasureWindow &w = rig.W();
    QTableWidget *grid = w.StringGrid1;

    QCOMPARE(w.windowTitle(), caption);
    // 543 px wide unless the grid had to widen to show its captions whole.
    QCOMPARE(w.height(), client.height());
    QVERIFY(w.width() >= client.width());
    QVERIFY(!(w.windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(w.isModal());
    QCOMPARE(grid->columnCount(), 2);
    QCOMPARE(grid->rowCount(), captions.size());
    QVERIFY(grid->horizontalHeader()->isHidden());
    QVERIFY(grid->verticalHeader()->isHidden());
    QVERIFY(grid->showGrid());
    QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(grid->horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
    QVERIFY(grid->columnWidth(0) >= 300);
    QVERIFY(grid->columnWidth(1) >= 100);
    const QFontMetrics metrics(grid->font());
    QVERIFY(metrics.horizontalAdvance(QStringLiteral("4294967295")) + CellTextPadding <= grid->columnWidth(1));
    for (int r = 0; r < captions.size(); ++r) {
        QCOMPARE(grid->item(r, 0)->text(), captions[r]);
        QVERIFY2(metrics.horizontalAdvance(captions[r]) + CellTextPadding <= grid->columnWidth(0),
                 qPrintable(captions[r]));
        QVERIFY(grid->item(r, 1)->text().isEmpty());
        QVERIFY(!(grid->item(r, 1)->flags() & Qt::ItemIsEditable));
    }
    QCOMPARE(w.Timer1->interval(), 200);
    QCOMPARE(w.TimerWaitAnswer->interval(), 2000);
    QVERIFY(!w.Timer1->isActive());
    QCOMPARE(w.Button2->text(), QStringLiteral("Выход"));
    QVERIFY(w.lbRezim->text().isEmpty());
    QCOMPARE(w.lbRezim->font().pixelSize(), 16);
    if (which == "freq") {
        QVERIFY(!w.Button1);
        QVERIFY(!w.Label3);
    } else {
        QVERIFY(w.Button1->text().isEmpty());
        QCOMPARE(w.Label3->text(), QStringLiteral("Режим:"));
        QCOMPARE(w.Label3->font().pixelSize(), 16);
        QVERIFY(w.lbRezim->x() > w.Label3->geometry().right());
        QVERIFY(w.Button1->geometry().bottom() < w.Button2->y());
    }

    // Nothing is cut off: every control inside the form, every grid row in sight, the
    // state text with room beside or above its neighbours, also at its longest.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.lbRezim->setText(QStringLiteral("Отключен"));
    w.lbRezim->adjustSize();
    for (QWidget *child : w.findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisible())
            QVERIFY2(w.rect().contains(child->geometry()), qPrintable(child->metaObject()->className()));
    }
    QVERIFY(!w.lbRezim->geometry().intersects(grid->geometry()));
    QVERIFY(!w.lbRezim->geometry().intersects(w.Button2->geometry()));
    const int lastRow = captions.size() - 1;
    QVERIFY(grid->rowViewportPosition(lastRow) + grid->rowHeight(lastRow) <= grid->viewport()->height());
    QVERIFY(grid->columnViewportPosition(1) + grid->columnWidth(1) <= grid->viewport()->width());
    QVERIFY(!grid->horizontalScrollBar()->isVisible());
    QVERIFY(!grid->verticalScrollBar()->isVisible());
    w.Button2->click();
}

void TestMeasurement::captionFollowsChannel()
{
    for (uint8_t tpu : {uint8_t(1), uint8_t(0)}) {
        TfmTPR_TPU w;
        QCOMPARE(w.IsTPU1, uint8_t(0));
        w.SelectTPU(tpu);
        QCOMPARE(w.windowTitle(), QStringLiteral("fmTPR_TPU"));
        w.show();
        QCOMPARE(w.windowTitle(), tpu ? QStringLiteral("ТПР по ТПУ1") : QStringLiteral("ТПР по ТПУ2"));
        w.Button2->click();
    }
}

void TestMeasurement::firstRequests_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QByteArray>("values");
    QTest::addColumn<QByteArray>("commandOn");
    QTest::addColumn<QByteArray>("commandOff");
    // The expected frames carry the CRC computed independently, high byte first.
    QTest::newRow("TPU1") << "TPU1" << AppendDeviceCrc(HexBytes("0A 04 00 00 00 28"))
                          << AppendDeviceCrc(HexBytes("0A 05 00 00 FF 00"))
                          << AppendDeviceCrc(HexBytes("0A 05 00 00 00 00"));
    QTest::newRow("TPU2") << "TPU2" << AppendDeviceCrc(HexBytes("0A 04 00 28 00 28"))
                          << AppendDeviceCrc(HexBytes("0A 05 00 01 FF 00"))
                          << AppendDeviceCrc(HexBytes("0A 05 00 01 00 00"));
    QTest::newRow("TPR") << "TPR" << AppendDeviceCrc(HexBytes("0A 04 00 50 00 0C"))
                         << AppendDeviceCrc(HexBytes("0A 05 00 02 FF 00"))
                         << AppendDeviceCrc(HexBytes("0A 05 00 02 00 00"));
    QTest::newRow("freq") << "freq" << AppendDeviceCrc(HexBytes("0A 04 00 5E 00 08")) << QByteArray()
                          << QByteArray();
    QTest::newRow("pack") << "pack" << AppendDeviceCrc(HexBytes("0A 04 00 66 00 04"))
                          << AppendDeviceCrc(HexBytes("0A 05 00 03 FF 00"))
                          << AppendDeviceCrc(HexBytes("0A 05 00 03 00 00"));
    QTest::newRow("TQ") << "TQ" << AppendDeviceCrc(HexBytes("0A 04 00 6A 00 06"))
                        << AppendDeviceCrc(HexBytes("0A 05 00 04 FF 00"))
                        << AppendDeviceCrc(HexBytes("0A 05 00 04 00 00"));
    QTest::newRow("imit") << "imit" << AppendDeviceCrc(HexBytes("0A 04 00 70 00 02"))
                          << AppendDeviceCrc(HexBytes("0A 05 00 05 FF 00"))
                          << AppendDeviceCrc(HexBytes("0A 05 00 05 00 00"));
}

void TestMeasurement::firstRequests()
{
    QFETCH(QString, which);
    QFETCH(QByteArray, values);
    QFETCH(QByteArray, commandOn);
    QFETCH(QByteArray, commandOff);
    // Whatever the unit's previous window left behind, a new window starts afresh.
    TPR_TPU::AnswerState = TPR_TPR::AnswerState = freq_counter::AnswerState = AnswerAwaited;
    pack_pulses::RequestKind = TQ::RequestKind = Imitation_TPU::RequestKind = RequestStatus;
    TPR_TPU::CommandValue = TQ::CommandValue = CommandOn;
    Rig rig = MakeRig(which);
    const QByteArray status = HexBytes("0A 01 00 00 00 08 B7 3C");

    Exchange(rig, Status(0));
    QCOMPARE(rig.Sent(), QList<QByteArray>{status});
    rig.W().Timer1Timer();
    QCOMPARE(rig.Sent(), (QList<QByteArray>{status, values}));
    // A values exchange that times out is followed by a status request.
    rig.W().TimerWaitAnswerTimer();
    rig.W().Timer1Timer();
    QCOMPARE(rig.Sent().last(), status);
    if (which == "TPU1")
        QCOMPARE(rig.Sent()[1], HexBytes("0A 04 00 00 00 28 6F F1"));
    if (commandOn.isEmpty())
        return;

    rig.Feed(Status(0));
    rig.W().Timer1Timer();
    rig.W().Button1->click();
    rig.W().Timer1Timer();
    QCOMPARE(rig.Sent().last(), commandOn);
    // A command with no good answer goes out again at the next ready tick.
    rig.W().TimerWaitAnswerTimer();
    rig.W().Timer1Timer();
    QCOMPARE(rig.Sent().last(), commandOn);
    rig.Feed(commandOn);
    rig.W().Timer1Timer();
    QCOMPARE(rig.W().Cycle().State().CommandValue, NoCommand);
    Exchange(rig, Status(0xFF));
    QCOMPARE(rig.Sent().last(), status);
    rig.W().Button1->click();
    rig.W().Timer1Timer();
    QCOMPARE(rig.Sent().last(), commandOff);
}

void TestMeasurement::statusBit_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("on");
    const QList<QPair<QString, int>> own{{"TPU1", 0x01}, {"TPU2", 0x02}, {"TPR", 0x04}, {"freq", 0x08},
                                         {"pack", 0x08}, {"TQ", 0x10}, {"imit", 0x20}};
    for (const auto &[which, bit] : own) {
        QTest::addRow("%s own bit", qPrintable(which)) << which << bit << true;
        QTest::addRow("%s all others", qPrintable(which)) << which << (0xFF & ~bit) << false;
        QTest::addRow("%s all", qPrintable(which)) << which << 0xFF << true;
        QTest::addRow("%s none", qPrintable(which)) << which << 0 << false;
    }
    // Neighbours' bits without the window's own.
    QTest::newRow("TPR 03") << "TPR" << 0x03 << false;
    QTest::newRow("TQ 08") << "TQ" << 0x08 << false;
}

void TestMeasurement::statusBit()
{
    QFETCH(QString, which);
    QFETCH(int, bits);
    QFETCH(bool, on);
    Rig rig = MakeRig(which);
    TMeasureWindow &w = rig.W();
    rig.W().Timer1Timer();
    rig.Feed(Status(uint8_t(bits)));
    QVERIFY(w.lbRezim->text().isEmpty());  // shown by the next tick, not by the answer
    w.Timer1Timer();
    QCOMPARE(w.lbRezim->text(), on ? QStringLiteral("Включен") : QStringLiteral("Отключен"));
    if (w.Button1) {
        QCOMPARE(w.Button1->text(), on ? QStringLiteral("Стоп") : QStringLiteral("Старт"));
        QCOMPARE(w.Button1->Tag, on ? 1 : 0);
    }
    // The state text never overlaps anything, whatever its length.
    QVERIFY(w.rect().contains(w.lbRezim->geometry()));
    QVERIFY(!w.lbRezim->geometry().intersects(w.StringGrid1->geometry()));
}

void TestMeasurement::startStop_data()
{
    QTest::addColumn<QString>("which");
    for (const QString &which : AllWindows)
        if (which != "freq")
            QTest::newRow(qPrintable(which)) << which;
}

void TestMeasurement::startStop()
{
    QFETCH(QString, which);
    Rig rig = MakeRig(which);
    TMeasureWindow &w = rig.W();
    // A click on the blank button before any status answer queues a start.
    w.Button1->click();
    QCOMPARE(w.Cycle().State().CommandValue, CommandOn);
    QVERIFY(w.Button1->text().isEmpty());
    // The last click wins.
    w.Button1->click();
    QCOMPARE(w.Cycle().State().CommandValue, CommandOff);
    w.Timer1Timer();
    QCOMPARE(uint8_t(rig.Sent().last()[1]), uint8_t(5));
    QCOMPARE(uint8_t(rig.Sent().last()[4]), uint8_t(0));
    rig.Feed(rig.Sent().last());
    w.Timer1Timer();
    // The request after a command is a status request.
    w.Timer1Timer();
    QCOMPARE(rig.Sent().last(), HexBytes("0A 01 00 00 00 08 B7 3C"));
}

// Start goes out, stop is clicked before start's echo is processed: the echo does not
// clear the stop, which goes out next, and the window ends off.
void TestMeasurement::clickBeforeEchoWins()
{
    QFETCH(QString, which);
    Rig rig = MakeRig(which);
    TMeasureWindow &w = rig.W();
    ThroughFirstStatus(rig, 0);
    w.Button1->click();
    w.Timer1Timer();
    QCOMPARE(uint8_t(rig.Sent().last()[4]), CommandOn);
    w.Button1->click();
    Exchange(rig, rig.Sent().last());
    w.Timer1Timer();
    QCOMPARE(uint8_t(rig.Sent().last()[1]), uint8_t(5));
    QCOMPARE(uint8_t(rig.Sent().last()[4]), CommandOff);
    Exchange(rig, rig.Sent().last());
    Exchange(rig, Status(0));
    QCOMPARE(rig.Sent().last(), HexBytes("0A 01 00 00 00 08 B7 3C"));
    QCOMPARE(w.lbRezim->text(), ModeStatusTexts.LabelOff);
    QCOMPARE(w.Cycle().State().CommandValue, NoCommand);
}

void TestMeasurement::frequencyCounterNeverCommands()
{
    Rig rig = MakeRig("freq");
    const QByteArray values = Values(QByteArray(16, '\0'));
    for (int i = 0; i < 6; ++i) {
        Exchange(rig, Status(i % 2 ? 0x08 : 0x00));
        Exchange(rig, values);
        rig.W().TimerWaitAnswerTimer();
    }
    QCOMPARE(rig.Sent().size(), 12);
    for (const QByteArray &frame : rig.Sent())
        QVERIFY(frame[1] == char(1) || frame[1] == char(4));
    QCOMPARE(rig.W().lbRezim->text(), QStringLiteral("Включен"));
}

void TestMeasurement::values_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("text");
    auto add = [](const char *name, const QString &which, int offset, const char *bytes, int row, const char *text) {
        QTest::newRow(name) << which << DataWith(RegistersOf(which), offset, bytes) << row << QString::fromUtf8(text);
    };
    add("TPU1 frequency 1.0", "TPU1", 3, "00 00 3F 80", 0, "1,00");
    add("TPU1 N1-2 count", "TPU1", 19, "86 A0 00 01", 4, "100000");
    add("TPU1 count FF", "TPU1", 19, "FF FF FF FF", 4, "4294967295");
    add("TPU2 S6 last row", "TPU2", 79, "86 A0 00 01", 19, "100000");
    add("TPU2 S4 float", "TPU2", 71, "00 00 41 48", 17, "12,50");
    add("TPU1 negative", "TPU1", 7, "00 00 C1 48", 1, "-12,50");
    add("TPU1 NAN", "TPU1", 3, "00 00 7F C0", 0, "NAN");
    add("TPU1 -INF", "TPU1", 3, "00 00 FF 80", 0, "-INF");
    add("TPR frequency 1", "TPR", 3, "00 00 41 48", 0, "12,50");
    add("TPR pulses 1", "TPR", 19, "86 A0 00 01", 4, "100000");
    add("TPR pulses 2", "TPR", 23, "FF FF FF FF", 5, "4294967295");
    add("freq period 1", "freq", 11, "00 00 3F 80", 2, "1,00");
    add("freq period 2", "freq", 15, "00 00 41 48", 3, "12,50");
    add("TQ K-factor", "TQ", 11, "00 00 41 48", 2, "12,50");
    add("TQ sent", "TQ", 3, "86 A0 00 01", 0, "100000");
    add("TQ received", "TQ", 7, "FF FF FF FF", 1, "4294967295");
    add("imit all FF", "imit", 3, "FF FF FF FF", 0, "4294967295");
    QTest::newRow("pack row 0") << "pack" << HexBytes("00 05 00 00 00 07 00 00") << 0 << "7";
    QTest::newRow("pack row 1") << "pack" << HexBytes("00 05 00 00 00 07 00 00") << 1 << "5";
    QTest::newRow("imit two registers") << "imit" << HexBytes("00 01 00 02") << 0 << "131073";
}

void TestMeasurement::values()
{
    QFETCH(QString, which);
    QFETCH(QByteArray, data);
    QFETCH(int, row);
    QFETCH(QString, text);
    Rig rig = MakeRig(which);
    ThroughFirstStatus(rig, 0);
    Exchange(rig, Values(data));
    QCOMPARE(rig.Cell(row), text);
}

// Every row of every window, with a value of its own, to catch a wrong offset or kind:
// the count rows carry their row number + 1, the float rows (row number + 1) / 4.
void TestMeasurement::valueRowsOfEveryWindow_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("texts");
    struct Layout {
        const char *which;
        QList<QPair<int, bool>> rows;  // answer offset, float
    };
    const QList<Layout> layouts{
        {"TPU2", {{3, true}, {7, true}, {11, true}, {15, true}, {19, false}, {23, false}, {27, false},
                  {31, false}, {35, true}, {39, false}, {43, false}, {47, true}, {51, false}, {55, false},
                  {59, true}, {63, false}, {67, false}, {71, true}, {75, false}, {79, false}}},
        {"TPR", {{3, true}, {7, true}, {11, true}, {15, true}, {19, false}, {23, false}}},
        {"freq", {{3, true}, {7, true}, {11, true}, {15, true}}},
        {"pack", {{7, false}, {3, false}}},
        {"TQ", {{3, false}, {7, false}, {11, true}}},
        {"imit", {{3, false}}},
    };
    for (const Layout &l : layouts) {
        QByteArray data(RegistersOf(l.which) * 2, '\0');
        QStringList texts;
        for (int r = 0; r < l.rows.size(); ++r) {
            const auto [offset, isFloat] = l.rows[r];
            uint32_t bits;
            if (isFloat) {
                const float v = float(r + 1) / 4;
                std::memcpy(&bits, &v, 4);
                texts << QLocale().toString(double(v), 'f', 2);
            } else {
                bits = uint32_t(r + 1) | 0x00010000u * uint32_t(r);
                texts << QString::number(bits);
            }
            // Low register first, each register high byte first.
            const char b[4] = {char(bits >> 8), char(bits), char(bits >> 24), char(bits >> 16)};
            data.replace(offset - 3, 4, QByteArray(b, 4));
        }
        QTest::newRow(l.which) << QString(l.which) << data << texts;
    }
}

void TestMeasurement::valueRowsOfEveryWindow()
{
    QFETCH(QString, which);
    QFETCH(QByteArray, data);
    QFETCH(QStringList, texts);
    TPR_TPU::S2Base[0] = TPR_TPU::S2Base[1] = 0;
    Rig rig = MakeRig(which);
    ThroughFirstStatus(rig, 0);
    Exchange(rig, Values(data));
    for (int r = 0; r < texts.size(); ++r)
        QCOMPARE(rig.Cell(r), texts[r]);
}

// The device answers a values request with fewer registers than asked: the rows whose
// bytes did not come keep what they showed instead of showing stale buffer bytes.
void TestMeasurement::shortAnswerKeepsLaterRows()
{
    Rig rig = MakeRig("TQ");
    ThroughFirstStatus(rig, 0);
    Exchange(rig, Values(HexBytes("00 01 00 00 00 02 00 00 00 00 41 48")));
    QCOMPARE(rig.Cell(2), QStringLiteral("12,50"));
    Exchange(rig, Status(0x10));
    Exchange(rig, Values(HexBytes("00 03 00 00")));
    QCOMPARE(rig.Cell(0), QStringLiteral("3"));
    QCOMPARE(rig.Cell(1), QStringLiteral("2"));
    QCOMPARE(rig.Cell(2), QStringLiteral("12,50"));
}

// A status answer that arrives after its time-out is processed under the values request
// that follows: it carries no value bytes and changes no row.
void TestMeasurement::lateStatusAnswerShownAsValues()
{
    Rig rig = MakeRig("imit");
    ThroughFirstStatus(rig, 0);
    Exchange(rig, Values(HexBytes("00 07 00 00")));
    QCOMPARE(rig.Cell(0), QStringLiteral("7"));
    rig.W().Timer1Timer();
    rig.W().TimerWaitAnswerTimer();
    rig.W().Timer1Timer();  // values request out
    QCOMPARE(rig.W().Cycle().State().RequestKind, RequestValues);
    rig.Feed(Status(0x20));
    rig.W().Timer1Timer();
    QCOMPARE(rig.Cell(0), QStringLiteral("7"));
}

namespace {

QByteArray S2Values(uint32_t s2, uint32_t s5 = 0)
{
    QByteArray data(80, '\0');
    const char b[4] = {char(s2 >> 8), char(s2), char(s2 >> 24), char(s2 >> 16)};
    data.replace(23 - 3, 4, QByteArray(b, 4));
    const char c[4] = {char(s5 >> 8), char(s5), char(s5 >> 24), char(s5 >> 16)};
    data.replace(75 - 3, 4, QByteArray(c, 4));
    return Values(data);
}

}  // namespace

void TestMeasurement::s2AlreadyOnAtOpening()
{
    TPR_TPU::S2Base[0] = 0;
    Rig rig = MakeRig("TPU1");
    Exchange(rig, Status(0x01));
    QCOMPARE(TPR_TPU::ModeSeenOn, uint8_t(1));
    QCOMPARE(TPR_TPU::S2CapturePending, uint8_t(1));
    Exchange(rig, S2Values(5000, 5000));
    QCOMPARE(TPR_TPU::S2Base[0], 5000u);
    QCOMPARE(rig.Cell(5), QStringLiteral("0"));
    QCOMPARE(rig.Cell(18), QStringLiteral("5000"));  // S5 is shown as it comes
    Exchange(rig, Status(0x01));
    Exchange(rig, S2Values(5012, 5012));
    QCOMPARE(rig.Cell(5), QStringLiteral("12"));
    Exchange(rig, Status(0x01));
    Exchange(rig, S2Values(5020));
    QCOMPARE(rig.Cell(5), QStringLiteral("20"));
    QCOMPARE(TPR_TPU::S2Base[0], 5000u);
}

void TestMeasurement::s2NoNewBaseAfterFailedValues()
{
    TPR_TPU::S2Base[1] = 300;
    Rig rig = MakeRig("TPU2");
    Exchange(rig, Status(0x02));
    rig.W().Timer1Timer();
    QCOMPARE(rig.W().Cycle().State().RequestKind, RequestValues);
    rig.W().TimerWaitAnswerTimer();  // the values answer never comes
    Exchange(rig, Status(0x02));     // still on: the capture is given up
    QCOMPARE(TPR_TPU::S2CapturePending, uint8_t(0));
    Exchange(rig, S2Values(1000));
    QCOMPARE(TPR_TPU::S2Base[1], 300u);
    QCOMPARE(rig.Cell(5), QStringLiteral("700"));
    // Off and on again: now a base is taken.
    Exchange(rig, Status(0x00));
    Exchange(rig, S2Values(1100));
    QCOMPARE(rig.Cell(5), QStringLiteral("800"));
    Exchange(rig, Status(0x02));
    Exchange(rig, S2Values(40));
    QCOMPARE(TPR_TPU::S2Base[1], 40u);
    QCOMPARE(rig.Cell(5), QStringLiteral("0"));
}

void TestMeasurement::s2BelowBase()
{
    TPR_TPU::S2Base[0] = 10;
    Rig rig = MakeRig("TPU1");
    ThroughFirstStatus(rig, 0);
    Exchange(rig, S2Values(3));
    QCOMPARE(rig.Cell(5), QStringLiteral("4294967289"));
}

void TestMeasurement::s2ReopeningTakesNewBase()
{
    TPR_TPU::S2Base[0] = 0;
    {
        Rig rig = MakeRig("TPU1");
        Exchange(rig, Status(0x01));
        Exchange(rig, S2Values(100));
        Exchange(rig, Status(0x01));
        Exchange(rig, S2Values(150));
        QCOMPARE(rig.Cell(5), QStringLiteral("50"));
    }
    // The mode ran on while no window was open.
    Rig rig = MakeRig("TPU1");
    QCOMPARE(TPR_TPU::S2Base[0], 100u);  // the window does not reset it
    Exchange(rig, Status(0x01));
    QCOMPARE(rig.W().lbRezim->text(), QStringLiteral("Включен"));
    Exchange(rig, S2Values(400));
    QCOMPARE(TPR_TPU::S2Base[0], 400u);
    QCOMPARE(rig.Cell(5), QStringLiteral("0"));
}

// Each channel keeps its own base: one TPU's run takes nothing from the other's, and a
// channel's base lasts from one of its windows to the next.
void TestMeasurement::s2BasePerChannel()
{
    TPR_TPU::S2Base[0] = TPR_TPU::S2Base[1] = 0;
    {
        Rig rig = MakeRig("TPU1");
        Exchange(rig, Status(0x01));
        Exchange(rig, S2Values(70));
    }
    // TPU2 off: shown against its own base, not TPU1's (30 - 70 would wrap).
    Rig rig = MakeRig("TPU2");
    Exchange(rig, Status(0x01));
    QCOMPARE(rig.W().lbRezim->text(), QStringLiteral("Отключен"));
    Exchange(rig, S2Values(30));
    QCOMPARE(TPR_TPU::S2Base[0], 70u);
    QCOMPARE(TPR_TPU::S2Base[1], 0u);
    QCOMPARE(rig.Cell(5), QStringLiteral("30"));
}

// The two flags through a sequence of status answers (1 on, 0 off), values answers (v)
// and their failures (x: no effect at all).
void TestMeasurement::s2Logic_data()
{
    QTest::addColumn<QString>("events");
    QTest::addColumn<bool>("seenOn");
    QTest::addColumn<bool>("pending");
    QTest::addColumn<bool>("captures");  // whether the next values answer takes a base
    QTest::newRow("fresh") << "" << false << false << false;
    QTest::newRow("on") << "1" << true << true << true;
    QTest::newRow("on, values") << "1v" << true << false << false;
    QTest::newRow("on, on") << "11" << true << false << false;
    QTest::newRow("on, off") << "10" << false << true << false;
    QTest::newRow("on, off, on") << "101" << true << true << true;
    QTest::newRow("on, values, off, on") << "1v01" << true << true << true;
    QTest::newRow("off, values") << "0v" << false << false << false;
    QTest::newRow("on, x, on, on") << "1x11" << true << false << false;
}

void TestMeasurement::s2Logic()
{
    QFETCH(QString, events);
    QFETCH(bool, seenOn);
    QFETCH(bool, pending);
    QFETCH(bool, captures);
    TPR_TPU::ModeSeenOn = 0;
    TPR_TPU::S2CapturePending = 0;
    TPR_TPU::S2Base[0] = 1;
    uint32_t raw = 10;
    for (QChar e : events) {
        if (e == '1' || e == '0')
            TPR_TPU::NoteModeState(e == '1');
        else if (e == 'v')
            TPR_TPU::RelativeS2(raw += 10, 1);
    }
    QCOMPARE(bool(TPR_TPU::ModeSeenOn), seenOn);
    QCOMPARE(bool(TPR_TPU::S2CapturePending), pending);
    const uint32_t before = TPR_TPU::S2Base[0];
    const uint32_t shown = TPR_TPU::RelativeS2(1000, 1);
    QCOMPARE(shown, captures ? 0u : 1000u - before);
    QCOMPARE(TPR_TPU::S2Base[0], captures ? 1000u : before);
}

void TestMeasurement::busyPort_data()
{
    QTest::addColumn<QString>("which");
    for (const QString &which : AllWindows)
        QTest::newRow(qPrintable(which)) << which;
}

// Every window but the pulse pack window catches a port that cannot be opened: the busy
// message, polling stopped. The pulse pack window lets the error through to the general
// report and goes on polling.
void TestMeasurement::busyPort()
{
    QFETCH(QString, which);
    Rig rig = MakeRig(which);
    TMeasureWindow &w = rig.W();
    rig.Link->FailOpen = true;
    w.StartPolling();
    if (which != "pack") {
        MessageBoxCollector boxes;
        w.Timer1Timer();
        QVERIFY(WaitFor([&] { return !boxes.Texts.isEmpty(); }, 3000));
        QCOMPARE(boxes.Texts.size(), 1);
        QVERIFY2(SaysWithCause(boxes.Texts[0], BusyPortText, TOpenFailure::Busy), qPrintable(boxes.Texts[0]));
        QVERIFY(!w.Timer1->isActive());
        QVERIFY(!w.TimerWaitAnswer->isActive());
        QCOMPARE(w.Cycle().State().AnswerState, AnswerReady);
        return;
    }
    MessageBoxCollector boxes;
    w.Timer1Timer();
    QCOMPARE(boxes.Texts, QStringList{EComPort(EComPort::OpenFailed, SampleSystemError(TOpenFailure::Busy)).Message()});
    QVERIFY(w.Timer1->isActive());
    QVERIFY(w.TimerWaitAnswer->isActive());
    QCOMPARE(w.Cycle().State().AnswerState, AnswerAwaited);
    // The time-out makes it ready again; the next attempt flips to the values request.
    w.TimerWaitAnswerTimer();
    rig.Link->FailOpen = false;
    w.Timer1Timer();
    QCOMPARE(rig.Sent(), QList<QByteArray>{AppendDeviceCrc(HexBytes("0A 04 00 66 00 04"))});
    w.Timer1->stop();
}

void TestMeasurement::busyPortLeavesTimeToExit_data()
{
    QTest::addColumn<bool>("failClose");
    QTest::newRow("open fails") << false;
    QTest::newRow("close before the send fails") << true;
}

// The pulse pack window on a port that stays busy, each report read for 3 s: the next
// attempt waits a whole answer time-out after OK, time enough to leave with "Выход".
void TestMeasurement::busyPortLeavesTimeToExit()
{
    QFETCH(bool, failClose);
    Rig rig = MakeRig("pack");
    TMeasureWindow &w = rig.W();
    (failClose ? rig.Link->FailClose : rig.Link->FailOpen) = true;
    QElapsedTimer clock;
    clock.start();
    QList<qint64> shownAt, dismissedAt;
    QPointer<QMessageBox> current;
    int attemptsAtExit = -1;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box && box->isVisible() && box != current) {
            current = box;
            shownAt << clock.elapsed();
        } else if (box && box == current && clock.elapsed() - shownAt.last() >= 3000) {
            dismissedAt << clock.elapsed();
            box->button(QMessageBox::Ok)->click();
        } else if (!box && attemptsAtExit < 0
                   && ((dismissedAt.size() == 2 && clock.elapsed() - dismissedAt.last() >= 1000)
                       || clock.elapsed() > 30000)) {
            attemptsAtExit = rig.Link->Attempts;
            w.Button2->click();
        }
    });
    driver.start(20);
    w.StartPolling();
    QCOMPARE(w.exec(), 1);
    const int attemptsAfter = rig.Link->Attempts;
    rig.Window.reset();

    QCOMPARE(shownAt.size(), 2);
    QCOMPARE(dismissedAt.size(), 2);
    const qint64 gap = shownAt[1] - dismissedAt[0];
    QVERIFY2(gap >= 1800, qPrintable(QStringLiteral("next report %1 ms after OK").arg(gap)));
    QCOMPARE(attemptsAtExit, 2);
    QCOMPARE(attemptsAfter, attemptsAtExit);
}

Q_DECLARE_METATYPE(QList<QByteArray>)

QTEST_MAIN(TestMeasurement)
#include "tst_measurement.moc"
