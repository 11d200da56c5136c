// The generator and TC imitation windows on an in-memory link: their forms, the frames
// they send, what they show for each status answer, the start/stop command, failures of
// the port, and the shell's other variants (three-request cycle, unguarded send).

#include "CauseText.h"
#include "Generator_T.h"
#include "Generator_TC.h"
#include "Generator_f.h"
#include "Globals.h"
#include "MessageBoxCloser.h"
#include "ModeTestRig.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

using Rig = FakeLinkRig<TGeneratorWindow>;

Rig MakeRig(const QString &which)
{
    if (which == "f")
        return Rig::Of<TfmGenerator_f>();
    if (which == "T")
        return Rig::Of<TfmGenerator_T>();
    return Rig::Of<TfmGenerator_TC>();
}

QByteArray StatusFrame(const QString &which)
{
    return HexBytes(which == "TC" ? "0A 01 00 00 00 09 77 FD" : "0A 01 00 00 00 08 B7 3C");
}

QByteArray StatusAnswer(const QString &which, bool on)
{
    if (which == "TC")
        return AppendDeviceCrc(HexBytes(on ? "0A 01 02 00 01" : "0A 01 02 00 00"));
    QByteArray a = HexBytes("0A 01 01 00");
    a[3] = char(on ? (which == "f" ? 0x40 : 0x80) : 0x00);
    return AppendDeviceCrc(a);
}

QByteArray CommandFrame(const QString &which, bool on)
{
    const int coil = which == "f" ? 6 : which == "T" ? 7 : 8;
    QByteArray f = HexBytes("0A 05 00 00 00 00");
    f[3] = char(coil);
    f[4] = char(on ? 0xFF : 0x00);
    return AppendDeviceCrc(f);
}

// A three-request window in the shape of the pulse pack window, to show the shell serves
// it: values of registers 102..105, status bit 3, coil 3.
class ThreeRequestWindow : public TModeWindow {
public:
    static inline int32_t AnswerState = 0, RequestKind = 0;
    static inline uint8_t CommandValue = 0;
    int ValuesShown = 0;

    explicit ThreeRequestWindow(TSendFailure failure = TSendFailure::Caught)
        : TModeWindow(nullptr, {AnswerState, RequestKind, CommandValue}, TCycleVariant::ThreeRequest,
                      ModeStatusTexts, failure)
    {
        lbRezim = new QLabel(this);
        Button1 = new TTagButton(this);
        Button2 = new QPushButton(QStringLiteral("Выход"), this);
        FormCreate();
    }

protected:
    std::optional<TRequestFields> RequestFor(int32_t kind) const override
    {
        switch (kind) {
        case RequestValues: return ValuesRequestFields(102, 4);
        case RequestStatus: return StatusRequestFields(8);
        case RequestCommand: return CommandRequestFields(3, CommandValue);
        default: return std::nullopt;
        }
    }
    bool StatusBitSet() const override { return ReceiveBuffer[3] & 0x08; }
    void ShowValues() override { ++ValuesShown; }
};

}  // namespace

class TestGenerators : public QObject {
    Q_OBJECT
private slots:
    void form_data();
    void form();
    void statusShown_data();
    void statusShown();
    void startStop_data();
    void startStop();
    void lastClickWins();
    void commandWithBadCrcIsSentAgain();
    void timeoutRepeatsSilently();
    void answerInPiecesAndFlood();
    void busyPortStopsPolling();
    void closesOnlyThroughExit();
    void runModeWindowSteps();
    void threeRequestWindow();
    void unguardedSendReportsOnceAtATime();
};

void TestGenerators::form_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("caption");
    QTest::newRow("f") << "f" << "Генератор f";
    QTest::newRow("T") << "T" << "Генератор T";
    QTest::newRow("TC") << "TC" << "Имитация ТС";
}

void TestGenerators::form()
{
    QFETCH(QString, which);
    QFETCH(QString, caption);
    // Whatever an earlier window of the unit left behind, a new one starts afresh.
    Generator_f::AnswerState = Generator_T::AnswerState = Generator_TC::AnswerState = 2;
    Generator_f::CommandValue = Generator_T::CommandValue = Generator_TC::CommandValue = 0;
    Rig rig = MakeRig(which);
    TGeneratorWindow &w = *rig.Window;

    QCOMPARE(w.windowTitle(), caption);
    QCOMPARE(w.height(), 93);
    QVERIFY(w.width() >= 207);
    QVERIFY(!(w.windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(w.windowFlags() & Qt::CustomizeWindowHint);
    QCOMPARE(w.lbRezim->text(), QStringLiteral("Состояние - "));
    QCOMPARE(w.lbRezim->pos(), QPoint(16, 16));
    QCOMPARE(w.lbRezim->font().pointSize(), 12);
    QCOMPARE(w.Button1->text(), QString());
    QCOMPARE(w.Button1->geometry(), QRect(16, 56, 97, 25));
    QCOMPARE(w.Button2->text(), QStringLiteral("Выход"));
    QCOMPARE(w.Button2->geometry(), QRect(120, 56, 75, 25));
    QCOMPARE(w.Timer1->interval(), 200);
    QCOMPARE(w.TimerWaitAnswer->interval(), 2000);
    QCOMPARE(w.Timer1->timerType(), Qt::PreciseTimer);
    QVERIFY(!w.Timer1->isActive());
    QVERIFY(!w.TimerWaitAnswer->isActive());
    const TModeState &s = w.Cycle().State();
    QCOMPARE(s.AnswerState, AnswerReady);
    QCOMPARE(s.RequestKind, RequestStatus);
    QCOMPARE(s.CommandValue, NoCommand);
}

void TestGenerators::statusShown_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("on");
    const QByteArray b40 = AppendDeviceCrc(HexBytes("0A 01 01 40"));
    const QByteArray b80 = AppendDeviceCrc(HexBytes("0A 01 01 80"));
    const QByteArray bC0 = AppendDeviceCrc(HexBytes("0A 01 01 C0"));
    const QByteArray bBF = AppendDeviceCrc(HexBytes("0A 01 01 BF"));
    QTest::newRow("f, 40") << "f" << b40 << true;
    QTest::newRow("T, 40") << "T" << b40 << false;
    QTest::newRow("f, 80") << "f" << b80 << false;
    QTest::newRow("T, 80") << "T" << b80 << true;
    QTest::newRow("f, C0") << "f" << bC0 << true;
    QTest::newRow("T, C0") << "T" << bC0 << true;
    QTest::newRow("f, BF") << "f" << bBF << false;
    QTest::newRow("TC, 00 01") << "TC" << AppendDeviceCrc(HexBytes("0A 01 02 00 01")) << true;
    QTest::newRow("TC, FF 00") << "TC" << AppendDeviceCrc(HexBytes("0A 01 02 FF 00")) << false;
    QTest::newRow("TC, FF FE") << "TC" << AppendDeviceCrc(HexBytes("0A 01 02 FF FE")) << false;
}

void TestGenerators::statusShown()
{
    QFETCH(QString, which);
    QFETCH(QByteArray, answer);
    QFETCH(bool, on);
    Rig rig = MakeRig(which);
    TGeneratorWindow &w = *rig.Window;

    w.Timer1Timer();
    QCOMPARE(rig.Link->Sent, QList<QByteArray>{StatusFrame(which)});
    QVERIFY(w.TimerWaitAnswer->isActive());
    QCOMPARE(w.Cycle().State().AnswerState, AnswerAwaited);

    rig.Feed(answer);
    QVERIFY(!w.TimerWaitAnswer->isActive());
    QCOMPARE(w.Cycle().State().AnswerState, AnswerGood);
    // Nothing is shown before the tick that processes the answer.
    QCOMPARE(w.lbRezim->text(), QStringLiteral("Состояние - "));
    QCOMPARE(w.Button1->text(), QString());

    w.Timer1Timer();
    QCOMPARE(rig.Link->Sent.size(), 1);  // the processing tick sends nothing
    QCOMPARE(w.lbRezim->text(), on ? QStringLiteral("Состояние - Включен") : QStringLiteral("Состояние - Отключен"));
    QCOMPARE(w.Button1->text(), on ? QStringLiteral("Выключить") : QStringLiteral("Включить"));
    QCOMPARE(w.Button1->Tag, on ? 1 : 0);
    // The label grows with its text and keeps a margin inside the window.
    QVERIFY2(w.lbRezim->geometry().right() + 8 < w.width(),
             qPrintable(QStringLiteral("%1 of %2").arg(w.lbRezim->geometry().right()).arg(w.width())));
}

void TestGenerators::startStop_data()
{
    QTest::addColumn<QString>("which");
    QTest::newRow("f") << "f";
    QTest::newRow("T") << "T";
    QTest::newRow("TC") << "TC";
}

void TestGenerators::startStop()
{
    QFETCH(QString, which);
    Rig rig = MakeRig(which);
    TGeneratorWindow &w = *rig.Window;
    QList<QByteArray> &sent = rig.Link->Sent;

    w.Timer1Timer();
    rig.Feed(StatusAnswer(which, false));
    w.Timer1Timer();
    QCOMPARE(w.Button1->text(), QStringLiteral("Включить"));

    w.Button1->click();
    QCOMPARE(w.Cycle().State().CommandValue, CommandOn);
    QCOMPARE(sent.size(), 1);  // nothing goes out at the click
    QCOMPARE(w.Button1->text(), QStringLiteral("Включить"));

    w.Timer1Timer();
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent.last(), CommandFrame(which, true));
    if (which == "f")
        QCOMPARE(sent.last(), HexBytes("0A 05 00 06 FF 00 40 6D"));
    if (which == "TC")
        QCOMPARE(sent.last(), HexBytes("0A 05 00 08 FF 00 83 0C"));

    rig.Feed(sent.last());  // the echo
    w.Timer1Timer();
    QCOMPARE(w.Cycle().State().CommandValue, NoCommand);
    // The display waits for the device to report the new state.
    QCOMPARE(w.lbRezim->text(), QStringLiteral("Состояние - Отключен"));
    QCOMPARE(w.Button1->text(), QStringLiteral("Включить"));

    w.Timer1Timer();
    QCOMPARE(sent.last(), StatusFrame(which));
    rig.Feed(StatusAnswer(which, true));
    w.Timer1Timer();
    QCOMPARE(w.lbRezim->text(), QStringLiteral("Состояние - Включен"));
    QCOMPARE(w.Button1->text(), QStringLiteral("Выключить"));
    QCOMPARE(w.Button1->Tag, 1);

    w.Button1->click();
    QCOMPARE(w.Button1->Tag, 0);
    w.Timer1Timer();
    QCOMPARE(sent.last(), CommandFrame(which, false));
}

void TestGenerators::lastClickWins()
{
    Rig rig = MakeRig("f");
    TGeneratorWindow &w = *rig.Window;
    w.Timer1Timer();
    rig.Feed(StatusAnswer("f", false));
    w.Timer1Timer();

    w.Button1->click();
    w.Button1->click();
    QCOMPARE(w.Cycle().State().CommandValue, CommandOff);
    QCOMPARE(w.Button1->Tag, 0);
    w.Timer1Timer();
    QCOMPARE(rig.Link->Sent.last(), HexBytes("0A 05 00 06 00 00 B0 2C"));
}

void TestGenerators::commandWithBadCrcIsSentAgain()
{
    Rig rig = MakeRig("T");
    TGeneratorWindow &w = *rig.Window;
    QList<QByteArray> &sent = rig.Link->Sent;
    w.Button1->click();

    w.Timer1Timer();
    const QByteArray command = CommandFrame("T", true);
    QCOMPARE(sent.last(), command);

    // Echo with its CRC in the usual low-high order: a bad answer for this device.
    QByteArray swapped = command;
    std::swap(swapped[6], swapped[7]);
    rig.Feed(swapped);
    QVERIFY(!w.TimerWaitAnswer->isActive());
    QCOMPARE(w.Cycle().State().AnswerState, AnswerReady);

    w.Timer1Timer();
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent.last(), command);
    rig.Feed(command);
    w.Timer1Timer();
    w.Timer1Timer();
    QCOMPARE(sent.last(), StatusFrame("T"));
    QCOMPARE(w.Cycle().State().CommandValue, NoCommand);
}

void TestGenerators::timeoutRepeatsSilently()
{
    Rig rig = MakeRig("TC");
    TGeneratorWindow &w = *rig.Window;
    w.Timer1Timer();
    rig.Feed(StatusAnswer("TC", true));
    w.Timer1Timer();

    MessageBoxCollector boxes;
    w.Timer1Timer();
    QCOMPARE(rig.Link->Sent.size(), 2);
    w.TimerWaitAnswerTimer();
    QVERIFY(!w.TimerWaitAnswer->isActive());
    w.Timer1Timer();
    QCOMPARE(rig.Link->Sent.size(), 3);
    QCOMPARE(rig.Link->Sent.last(), StatusFrame("TC"));
    QCOMPARE(w.lbRezim->text(), QStringLiteral("Состояние - Включен"));
    QCOMPARE(w.Button1->text(), QStringLiteral("Выключить"));
    QCoreApplication::processEvents();
    QCOMPARE(int(boxes.Texts.size()), 0);
}

void TestGenerators::answerInPiecesAndFlood()
{
    Rig rig = MakeRig("f");
    TGeneratorWindow &w = *rig.Window;
    w.Timer1Timer();
    const QByteArray answer = StatusAnswer("f", true);
    rig.Feed(answer.left(2));
    rig.Feed(answer.mid(2, 2));
    QCOMPARE(w.Cycle().State().AnswerState, AnswerAwaited);
    QVERIFY(w.TimerWaitAnswer->isActive());
    rig.Feed(answer.mid(4));
    QCOMPARE(w.Cycle().State().AnswerState, AnswerGood);
    w.Timer1Timer();

    // A flood overruns the buffer and is never judged: the time-out ends the exchange.
    w.Timer1Timer();
    QByteArray flood(1000, char(0x55));
    flood[1] = 0x01;
    flood[2] = 0x01;
    rig.Feed(flood);
    rig.Feed(AppendDeviceCrc(HexBytes("0A 01 01 40")));
    QCOMPARE(w.Cycle().State().AnswerState, AnswerAwaited);
    QVERIFY(w.TimerWaitAnswer->isActive());
}

void TestGenerators::busyPortStopsPolling()
{
    Rig rig = MakeRig("f");
    TGeneratorWindow &w = *rig.Window;
    rig.Link->FailOpen = true;
    MessageBoxCollector boxes;
    w.StartPolling();
    QVERIFY(WaitFor([&] { return boxes.Texts.size() > 0; }, 5000));
    QVERIFY2(SaysWithCause(boxes.Texts.last(), BusyPortText, TOpenFailure::Busy),
             qPrintable(boxes.Texts.last()));
    QVERIFY(!w.Timer1->isActive());
    QVERIFY(!w.TimerWaitAnswer->isActive());
    QCOMPARE(w.Cycle().State().AnswerState, AnswerReady);

    // Nothing more is tried, even once the port would open again.
    rig.Link->FailOpen = false;
    WaitFor([] { return false; }, 2600);
    QCOMPARE(rig.Link->Attempts, 1);
    QVERIFY(rig.Link->Sent.isEmpty());
    QCOMPARE(int(boxes.Texts.size()), 1);
    QCOMPARE(w.lbRezim->text(), QStringLiteral("Состояние - "));
}

void TestGenerators::closesOnlyThroughExit()
{
    Rig rig = MakeRig("T");
    TGeneratorWindow &w = *rig.Window;
    bool stillOpen = false;
    QTimer::singleShot(100, &w, [&] {
        QTest::keyClick(&w, Qt::Key_Escape);
        w.close();
        QCoreApplication::processEvents();
        stillOpen = w.isVisible();
        w.Button2->click();
    });
    QCOMPARE(w.exec(), 1);
    QVERIFY(stillOpen);
    QVERIFY(!w.isVisible());
}

void TestGenerators::runModeWindowSteps()
{
    TComPort mainPort;
    mainPort.SetPort(QStringLiteral("ttyV7"));
    Rig rig = MakeRig("TC");
    TGeneratorWindow &w = *rig.Window;
    QString portSeen;
    bool pollingAtShow = false;
    QTimer::singleShot(0, &w, [&] {
        portSeen = w.ComPort1->Port();
        pollingAtShow = w.Timer1->isActive();
    });
    QTimer::singleShot(700, &w, [&] { w.Button2->click(); });
    QCOMPARE(RunModeWindow(w, mainPort), 1);
    QCOMPARE(portSeen, QStringLiteral("ttyV7"));
    QVERIFY(pollingAtShow);
    QVERIFY(!mainPort.Connected());
    QVERIFY(!rig.Link->Sent.isEmpty());
    QCOMPARE(rig.Link->Sent.first(), StatusFrame("TC"));
}

void TestGenerators::threeRequestWindow()
{
    FakeLinkWindow<ThreeRequestWindow> w;
    w.Timer1Timer();
    QCOMPARE(w.Sent.last(), HexBytes("0A 01 00 00 00 08 B7 3C"));
    w.Feed(AppendDeviceCrc(HexBytes("0A 01 01 08")));
    w.Timer1Timer();
    QCOMPARE(w.lbRezim->text(), QStringLiteral("Включен"));
    QCOMPARE(w.Button1->text(), QStringLiteral("Стоп"));

    w.Timer1Timer();
    QCOMPARE(w.Sent.last(), AppendDeviceCrc(HexBytes("0A 04 00 66 00 04")));
    w.Feed(AppendDeviceCrc(HexBytes("0A 04 08 00 05 00 00 00 07 00 00")));
    w.Timer1Timer();
    QCOMPARE(w.ValuesShown, 1);

    // A values exchange that times out is followed by a status request.
    w.Timer1Timer();
    w.Feed(AppendDeviceCrc(HexBytes("0A 01 01 08")));
    w.Timer1Timer();
    w.Timer1Timer();
    QCOMPARE(w.Sent.last(), AppendDeviceCrc(HexBytes("0A 04 00 66 00 04")));
    w.TimerWaitAnswerTimer();
    w.Timer1Timer();
    QCOMPARE(w.Sent.last(), HexBytes("0A 01 00 00 00 08 B7 3C"));
    QCOMPARE(w.ValuesShown, 1);
}

void TestGenerators::unguardedSendReportsOnceAtATime()
{
    FakeLinkWindow<ThreeRequestWindow> w(TSendFailure::Propagate);
    w.FailOpen = true;
    const QString expected = EComPort(EComPort::OpenFailed, SampleSystemError(TOpenFailure::Busy)).Message();

    // Sampled from inside the reports' own event loops.
    struct Seen {
        QString Text;
        int Attempts;
        int32_t AnswerStateAtClose;
        bool Timer1Active;
    };
    QList<Seen> seen;
    QMessageBox *current = nullptr;
    QElapsedTimer openFor;
    int maxBoxes = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        int boxes = 0;
        QMessageBox *box = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (auto *b = qobject_cast<QMessageBox *>(top); b && b->isVisible()) {
                ++boxes;
                box = b;
            }
        }
        maxBoxes = std::max(maxBoxes, boxes);
        if (!box)
            return;
        if (box != current) {
            current = box;
            openFor.start();
        }
        // The first report stays open past the answer time-out; the second goes at once.
        if (seen.isEmpty() && openFor.elapsed() < 2600)
            return;
        seen << Seen{box->text(), w.Attempts, w.Cycle().State().AnswerState, w.Timer1->isActive()};
        current = nullptr;
        box->button(QMessageBox::Ok)->click();
    });
    sampler.start(50);
    w.StartPolling();
    QVERIFY(WaitFor([&] { return seen.size() == 2 && !QApplication::activeModalWidget(); }, 15000));
    w.Timer1->stop();
    w.TimerWaitAnswer->stop();

    QCOMPARE(maxBoxes, 1);
    QCOMPARE(seen[0].Text, expected);
    QCOMPARE(seen[1].Text, expected);
    // While the first report was open no further attempt was made, the timers ran on
    // and the time-out made the cycle ready again.
    QCOMPARE(seen[0].Attempts, 1);
    QVERIFY(seen[0].Timer1Active);
    QCOMPARE(seen[0].AnswerStateAtClose, AnswerReady);
    // After it the next attempt failed the same way and left the answer awaited.
    QCOMPARE(seen[1].Attempts, 2);
    QVERIFY(seen[1].Timer1Active);
    QCOMPARE(seen[1].AnswerStateAtClose, AnswerAwaited);
    QVERIFY(w.Sent.isEmpty());
}

Q_DECLARE_METATYPE(QList<QByteArray>)

QTEST_MAIN(TestGenerators)
#include "tst_generators.moc"
