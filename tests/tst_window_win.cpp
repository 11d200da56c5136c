// The window program on Windows against the Linux device simulator on COM9 (Wine): the main
// window reads the simulator's configuration and lists it with its values, a port held
// elsewhere is reported as busy with its cause, and a device that goes away while a mode
// window polls is reported once; neither the polling nor the gone device keeps the
// processor busy, nor, on Wine's own platform with the Windows style, the drawing of a
// polling window.

#include "CPortCtl.h"
#include "CauseText.h"
#include "ConfigExchange.h"
#include "Globals.h"
#include "MainForm.h"
#include "MessageBoxCloser.h"
#include "ModeTestRig.h"
#include "ModeWindow.h"
#include "RegisterMap.h"
#include "ResetGlobals.h"
#include "SimModel.h"
#include "SimOnCom9.h"
#include "TQ.h"
#include "ValueText.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QStyle>
#include <QTableWidget>
#include <QTreeWidget>
#include <QtTest>

namespace {

const QString SimValue = QStringLiteral("KarvenSimulator");

}  // namespace

class TestWindowWin : public QObject {
    Q_OBJECT

    std::unique_ptr<TForm1> form_;

    QString RootText() const { return form_->NodeAt(0)->text(0); }
    bool Idle() const
    {
        return !form_->TimerReadCfgInPribor->isActive() && !form_->TimerWaitAnswer->isActive();
    }

private slots:
    void initTestCase()
    {
        // The system lists the simulator's port before the main window reads the list.
        QVERIFY(AddSerialPortValue(SimValue, SimPort));
    }
    void cleanupTestCase() { RemoveSerialPortValue(SimValue); }
    void init()
    {
        ResetGlobals();
        form_ = std::make_unique<TForm1>();
        QVERIFY(form_->CreatedOk());
        form_->show();
    }
    void cleanup() { form_.reset(); }

    void readsConfigurationIntoTheGrid();
    void heldPortIsReportedBusy();
    void pollingWindowDrawsWhatChanges();
    void deviceGoneWhileModePollsIsReportedOnce();
};

void TestWindowWin::readsConfigurationIntoTheGrid()
{
    // The user picks the simulator's port in the selector.
    TComComboBox *selector = form_->ComComboBox1;
    const int entry = selector->findText(SimPort);
    QVERIFY2(entry >= 0, qUtf8Printable(QStringLiteral("no %1 among the ports").arg(SimPort)));
    selector->setCurrentIndex(entry);
    emit selector->activated(entry);
    QCOMPARE(form_->ComPort1->Port(), SimPort);

    // The simulator starts with its own configuration, which the program's zeros are not.
    const sim::SimModel device;
    std::array<uint8_t, 2 * ConfigRegisterCount> deviceRegisters{};
    for (int i = 0; i < ConfigRegisterCount; ++i) {
        deviceRegisters[2 * i] = uint8_t(device.Holding(i) >> 8);
        deviceRegisters[2 * i + 1] = uint8_t(device.Holding(i) & 0xFF);
    }
    QVERIFY(PackConfigRegisters() != deviceRegisters);

    QCOMPARE(RootText(), QStringLiteral("Карвен-12Т*"));
    MessageBoxCollector boxes;
    QElapsedTimer clock;
    clock.start();
    form_->N6->trigger();
    QVERIFY(WaitFor([&] { return RootText() == QStringLiteral("Карвен-12Т") && Idle(); }, 10000));
    qInfo("configuration read (two blocks) in %lld ms", qint64(clock.elapsed()));
    QCOMPARE(boxes.Texts, QStringList{});
    QCOMPARE(PackConfigRegisters(), deviceRegisters);
    // Every group and parameter of the tree, each parameter with the value just read.
    QCOMPARE(form_->StringGrid1->rowCount(), TForm1::NodeCount - 1);
    for (int i = 1; i < TForm1::NodeCount; ++i) {
        const QTreeWidgetItem *node = form_->NodeAt(i);
        QCOMPARE(form_->StringGrid1->item(i - 1, 0)->text(), node->text(0));
        const QString value = node->childCount() ? QString() : QLatin1Char(' ') + NodeValueText(i);
        QCOMPARE(form_->StringGrid1->item(i - 1, 1)->text(), value);
    }
}

void TestWindowWin::heldPortIsReportedBusy()
{
    const auto release = qScopeGuard([] { ReleasePortElsewhere(); });
    QVERIFY(HoldPortElsewhere());
    form_->ComPort1->SetPort(SimPort);
    MessageBoxCollector boxes;
    form_->N6->trigger();
    QVERIFY(WaitFor([&] { return !boxes.Texts.isEmpty() && Idle(); }, 10000));
    QCOMPARE(boxes.Texts.size(), 1);
    QVERIFY2(SaysWithCause(boxes.Texts[0], QString::fromUtf8(PortBusyText), TOpenFailure::Busy),
             qUtf8Printable(boxes.Texts[0]));
    QCOMPARE(RootText(), QStringLiteral("Карвен-12Т*"));
}

namespace {

// Counts the paintings of the widgets it is installed on.
class PaintCounter : public QObject {
public:
    int Count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++Count;
        return false;
    }
};

}  // namespace

// A polling mode window on screen and active, in the Windows style: its default button, which
// the style makes pulse, is drawn when something changes, not many times a second.
void TestWindowWin::pollingWindowDrawsWhatChanges()
{
    if (QGuiApplication::platformName() != QLatin1String("windows"))
        QSKIP("drawn off screen: tst_window_win_desktop runs this on Wine's own platform");
    const QString usual = QApplication::style()->name();
    const auto restore = qScopeGuard([&] { QApplication::setStyle(usual); });
    QApplication::setStyle(QStringLiteral("windowsvista"));
    QCOMPARE(QApplication::style()->name(), QStringLiteral("windowsvista"));

    TfmTQ window(form_.get());
    window.ComPort1->SetPort(SimPort);
    PaintCounter paints;
    for (QPushButton *button : window.findChildren<QPushButton *>())
        button->installEventFilter(&paints);
    MessageBoxCollector boxes;
    window.StartPolling();
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(WaitFor([&] { return window.lbRezim->text() == ModeStatusTexts.LabelOff; }, 5000));
    QVERIFY(window.Button1->isDefault());
    WaitFor([] { return false; }, 500);
    paints.Count = 0;
    WaitFor([] { return false; }, 2000);
    qInfo("buttons drawn %d times in 2 s of polling", paints.Count);
    QVERIFY2(paints.Count <= 4, qPrintable(QString::number(paints.Count)));
    QCOMPARE(boxes.Texts, QStringList{});
}

// Last: the simulator does not come back.
void TestWindowWin::deviceGoneWhileModePollsIsReportedOnce()
{
    TfmTQ window(form_.get());
    window.ComPort1->SetPort(SimPort);
    int received = 0;
    const auto handler = window.ComPort1->OnRxChar;
    window.ComPort1->OnRxChar = [&](QObject *sender, int count) {
        received += count;
        handler(sender, count);
    };
    MessageBoxCollector boxes(500);  // seldom: its looks are no part of the program's work
    window.StartPolling();
    window.show();
    WaitFor([] { return false; }, 1000);  // settled in
    QVERIFY2(boxes.Texts.isEmpty(), qUtf8Printable(boxes.Texts.join(QLatin1Char('|'))));
    received = 0;
    // About 1 % of a core as a rule (the benchmark's figure); a spinning thread would take a
    // whole one. The margin is wide: a shared machine under Wine measures coarsely.
    const double polling = CpuShareOver(5000);
    QVERIFY2(polling < 0.2, qPrintable(QStringLiteral("%1 % of a core").arg(polling * 100)));
    QVERIFY2(received >= 48, qUtf8Printable(QString::number(received)));  // eight answers at the least

    if (!StopSimulator())
        QSKIP("no simulator to stop");
    QVERIFY(WaitFor([&] { return !boxes.Texts.isEmpty(); }, 15000));
    WaitFor([] { return false; }, 3000);  // room for more reports, which must not come
    qInfo("report: %s", qUtf8Printable(boxes.Texts.join(QStringLiteral(" | "))));
    QCOMPARE(boxes.Texts.size(), 1);
    QVERIFY2(SaysWithCause(boxes.Texts[0], BusyPortText, TOpenFailure::Gone), qUtf8Printable(boxes.Texts[0]));
    const double gone = CpuShareOver(3000);
    QVERIFY2(gone < 0.2, qPrintable(QStringLiteral("%1 % of a core").arg(gone * 100)));
}

QTEST_MAIN(TestWindowWin)
#include "tst_window_win.moc"
