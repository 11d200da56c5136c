// The serial component on Windows against the Linux device simulator on COM9 (Wine): a port
// held elsewhere or missing, the event thread's hand-over of whole answers, closing from
// inside a hand-over, no spin, and the port list from the registry.

#include "CPort.h"
#include "Globals.h"
#include "ModeTestRig.h"
#include "PortInfo.h"
#include "PortMessages.h"
#include "SimOnCom9.h"
#include "modbus.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

namespace {

// Reads registers 0..37 of the configuration: the answer is 81 bytes.
const QByteArray ConfigRead = QByteArray::fromHex("0a03000000266bc5");
constexpr int ConfigAnswerLength = 81;

void RunEventLoop(int ms)
{
    WaitFor([] { return false; }, ms);
}

// Collects what arrives through OnRxChar, reading exactly the reported count.
struct Receiver {
    QByteArray bytes;
    int events = 0;

    void Attach(TCustomComPort &port)
    {
        port.OnRxChar = [this, &port](QObject *, int count) {
            ++events;
            QByteArray buf(count, '\0');
            bytes += buf.left(port.Read(buf.data(), count));
        };
    }
};

bool CrcGood(const QByteArray &answer)
{
    ReceiveLength = 0;
    AppendToReceiveBuffer(reinterpret_cast<const uint8_t *>(answer.constData()), int(answer.size()));
    return AnswerCrcGood();
}

}  // namespace

class TestComPortWin : public QObject {
    Q_OBJECT

private slots:
    void secondOpenIsRefused_data();
    void secondOpenIsRefused();
    void wholeAnswersHandedOver();
    void closeAndReopenInsideHandOver();
    void noSpinWithBytesLeftUnread();
    void portListOrder();
};

enum THolder { NoHolder, ThisProcess, LinuxProgram };

void TestComPortWin::secondOpenIsRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("holder");
    QTest::addColumn<int>("failure");
    QTest::newRow("held by a program on the Linux side") << SimPort << int(LinuxProgram) << int(TOpenFailure::Busy);
    QTest::newRow("held by another handle") << SimPort << int(ThisProcess) << int(TOpenFailure::Busy);
    QTest::newRow("no such port") << QStringLiteral("COM77") << int(NoHolder) << int(TOpenFailure::Gone);
}

void TestComPortWin::secondOpenIsRefused()
{
    QFETCH(QString, name);
    QFETCH(int, holder);
    QFETCH(int, failure);
    TComPort first;
    first.SetPort(SimPort);
    if (holder == ThisProcess) {
        if (RunningUnderWine())
            QSKIP("Wine does not keep a COM port to one handle: a second open with no sharing succeeds");
        first.Open();
    }
    const auto release = qScopeGuard([] { ReleasePortElsewhere(); });
    if (holder == LinuxProgram)
        QVERIFY(HoldPortElsewhere());
    TComPort second;
    second.SetPort(name);
    try {
        second.Open();
        QFAIL("opened");
    } catch (const EComPort &e) {
        QCOMPARE(e.Code, EComPort::OpenFailed);
        QCOMPARE(int(ClassifyOpenFailure(e.WinCode)), failure);
        qInfo("system error %d: %s", e.WinCode, qUtf8Printable(WithFailureCause(QStringLiteral("Порт занят!"), e, name)));
    }
    QVERIFY(!second.Connected());
    if (holder != NoHolder) {
        first.Close();
        ReleasePortElsewhere();
        try {
            second.Open();  // the failed open left nothing behind
        } catch (const EComPort &e) {
            QFAIL(e.what());
        }
        QVERIFY(second.Connected());
    }
}

void TestComPortWin::wholeAnswersHandedOver()
{
    TComPort port;
    Receiver rx;
    rx.Attach(port);
    port.SetPort(SimPort);
    QElapsedTimer clock;
    clock.start();
    constexpr int Rounds = 20;
    for (int i = 0; i < Rounds; ++i) {
        // As the program's senders do: close, reopen, write.
        port.Close();
        port.Open();
        rx.bytes.clear();
        port.Write(ConfigRead.constData(), int(ConfigRead.size()));
        QVERIFY2(WaitFor([&] { return rx.bytes.size() >= ConfigAnswerLength; }, 5000),
                 qUtf8Printable(QStringLiteral("round %1: %2 bytes").arg(i).arg(rx.bytes.size())));
        QCOMPARE(int(rx.bytes.size()), ConfigAnswerLength);
        QVERIFY(CrcGood(rx.bytes));
    }
    qInfo("%d configuration reads of 81 bytes: %.1f ms each, %.1f receive events each", Rounds,
          double(clock.elapsed()) / Rounds, double(rx.events) / Rounds);
}

// The port closed and opened again from a timer in a nested event loop of a receive handler.
void TestComPortWin::closeAndReopenInsideHandOver()
{
    TComPort port;
    port.SetPort(SimPort);
    int reopened = 0;
    QByteArray after;
    port.OnRxChar = [&](QObject *, int count) {
        QByteArray buf(count, '\0');
        buf.truncate(port.Read(buf.data(), count));
        if (reopened) {
            after += buf;
            return;
        }
        ++reopened;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, [&] {
            port.Close();
            port.Open();
            QTimer::singleShot(50, &loop, &QEventLoop::quit);
        });
        loop.exec();
    };
    port.Open();
    port.Write(ConfigRead.constData(), int(ConfigRead.size()));
    QVERIFY(WaitFor([&] { return reopened == 1; }, 5000));
    RunEventLoop(300);  // the rest of that answer went with the reopen
    after.clear();
    // The new event thread hands over what comes after the reopen.
    port.Write(ConfigRead.constData(), int(ConfigRead.size()));
    QVERIFY(WaitFor([&] { return after.size() >= ConfigAnswerLength; }, 5000));
    QVERIFY(CrcGood(after));
}

void TestComPortWin::noSpinWithBytesLeftUnread()
{
    TComPort port;
    int calls = 0;
    port.OnRxChar = [&](QObject *, int) { ++calls; };  // reads nothing
    port.SetPort(SimPort);
    port.Open();
    port.Write(ConfigRead.constData(), int(ConfigRead.size()));
    QVERIFY(WaitFor([&] { return calls > 0; }, 5000));
    RunEventLoop(300);
    const int callsBefore = calls;
    const double share = CpuShareOver(3000);
    QVERIFY2(share < 0.2, qPrintable(QStringLiteral("%1 % of a core").arg(share * 100)));
    QCOMPARE(calls, callsBefore);
    char buf[ConfigAnswerLength * 2];
    QCOMPARE(port.Read(buf, sizeof buf), ConfigAnswerLength);
}

void TestComPortWin::portListOrder()
{
    const QStringList ports{QStringLiteral("COM3"), QStringLiteral("COM10"), QStringLiteral("COM1")};
    for (const QString &port : ports)
        QVERIFY(AddSerialPortValue(QStringLiteral("KarvenTest") + port, port));
    QStringList listed;
    ListSerialPorts(listed);
    for (const QString &port : ports)
        RemoveSerialPortValue(QStringLiteral("KarvenTest") + port);
    listed.removeDuplicates();  // Wine lists a COM1 of its own
    listed.removeIf([&](const QString &port) { return !ports.contains(port); });
    QCOMPARE(listed, (QStringList{"COM1", "COM10", "COM3"}));
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestComPortWin test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_comport_win.moc"
