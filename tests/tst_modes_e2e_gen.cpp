// The generator and TC imitation windows against the device simulator over a pty at
// 9600 baud: frames on the line, switching the mode, closing and reopening, a silent
// device, a held port, and freeing a window while an answer streams in.

#include "CauseText.h"
#include "Generator_T.h"
#include "Generator_TC.h"
#include "Generator_f.h"
#include "ModeTestRig.h"
#include "SimFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

std::unique_ptr<TGeneratorWindow> MakeWindow(const QString &which)
{
    if (which == "f")
        return std::make_unique<TfmGenerator_f>();
    if (which == "T")
        return std::make_unique<TfmGenerator_T>();
    return std::make_unique<TfmGenerator_TC>();
}

int CoilOf(const QString &which)
{
    return which == "f" ? 6 : which == "T" ? 7 : 8;
}

QByteArray Bytes(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), qsizetype(v.size()));
}

// Requests the simulator received, in order.
QList<QByteArray> Requests(const SimFixture &sim)
{
    QList<QByteArray> out;
    for (const std::vector<uint8_t> &request : sim.Requests())
        out << Bytes(request);
    return out;
}

QList<double> RequestTimesMs(const sim::SimDevice &device)
{
    QList<double> out;
    const auto origin = sim::Clock::time_point{};
    for (const sim::LogEntry &e : device.Log())
        if (e.Kind == sim::LogEntry::Request)
            out << std::chrono::duration<double, std::milli>(e.Time - origin).count();
    return out;
}

const QString On = QStringLiteral("Состояние - Включен");
const QString Off = QStringLiteral("Состояние - Отключен");

}  // namespace

class TestModesE2eGen : public QObject {
    Q_OBJECT
private:
    SimFixture sim_;
    QString link_;

private slots:
    void init();
    void cleanup();
    void switchesTheMode_data();
    void switchesTheMode();
    void closingLeavesTheModeRunning();
    void silentDeviceRepeatsTheRequest();
    void heldPortShowsBusyMessage();
    void freeWhileAnswerStreams();
};

void TestModesE2eGen::init()
{
    QVERIFY(sim_.Start());
    link_ = sim_.Link();
}

void TestModesE2eGen::cleanup()
{
    sim_.Discard();
}

void TestModesE2eGen::switchesTheMode_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("commandOn");
    QTest::addColumn<QByteArray>("commandOff");
    QTest::newRow("f") << "f" << HexBytes("0A 01 00 00 00 08 B7 3C") << HexBytes("0A 05 00 06 FF 00 40 6D")
                       << AppendDeviceCrc(HexBytes("0A 05 00 06 00 00"));
    QTest::newRow("T") << "T" << HexBytes("0A 01 00 00 00 08 B7 3C") << AppendDeviceCrc(HexBytes("0A 05 00 07 FF 00"))
                       << AppendDeviceCrc(HexBytes("0A 05 00 07 00 00"));
    QTest::newRow("TC") << "TC" << HexBytes("0A 01 00 00 00 09 77 FD") << HexBytes("0A 05 00 08 FF 00 83 0C")
                        << AppendDeviceCrc(HexBytes("0A 05 00 08 00 00"));
}

void TestModesE2eGen::switchesTheMode()
{
    QFETCH(QString, which);
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, commandOn);
    QFETCH(QByteArray, commandOff);
    const int coil = CoilOf(which);
    // Another mode running must not show in this window.
    sim_->SetCoil(coil == 6 ? 7 : 6, true);

    auto w = MakeWindow(which);
    w->ComPort1->SetPort(link_);
    w->show();
    w->StartPolling();
    QVERIFY(WaitFor([&] { return w->lbRezim->text() == Off; }, 5000));
    QCOMPARE(w->Button1->text(), QStringLiteral("Включить"));
    QCOMPARE(Requests(sim_).first(), status);

    w->Button1->click();
    QVERIFY(WaitFor([&] { return w->lbRezim->text() == On; }, 5000));
    QCOMPARE(w->Button1->text(), QStringLiteral("Выключить"));
    QVERIFY(sim_->Coil(coil));
    QVERIFY(Requests(sim_).contains(commandOn));
    // After the echo the window goes back to status requests.
    const qsizetype seen = Requests(sim_).size();
    QVERIFY(WaitFor([&] { return Requests(sim_).size() >= seen + 2; }, 5000));
    for (const QByteArray &r : Requests(sim_).mid(seen))
        QCOMPARE(r, status);

    w->Button1->click();
    QVERIFY(WaitFor([&] { return w->lbRezim->text() == Off; }, 5000));
    QVERIFY(!sim_->Coil(coil));
    QVERIFY(Requests(sim_).contains(commandOff));
    QCOMPARE(Requests(sim_).count(commandOn), 1);
    QCOMPARE(Requests(sim_).count(commandOff), 1);
    // Every request the window sent is one of its three frames.
    for (const QByteArray &r : Requests(sim_))
        QVERIFY(r == status || r == commandOn || r == commandOff);
}

void TestModesE2eGen::closingLeavesTheModeRunning()
{
    {
        TfmGenerator_f w;
        w.ComPort1->SetPort(link_);
        w.StartPolling();
        QTimer::singleShot(0, &w, [&] { w.Button1->click(); });
        QTimer::singleShot(0, &w, [&] {
            // Leave as soon as the device reports the generator running.
            auto *watch = new QTimer(&w);
            QObject::connect(watch, &QTimer::timeout, &w, [&] {
                if (w.lbRezim->text() == QStringLiteral("Состояние - Включен"))
                    w.Button2->click();
            });
            watch->start(20);
        });
        QTimer::singleShot(8000, &w, [&] { w.Button2->click(); });
        QCOMPARE(w.exec(), 1);
        QCOMPARE(w.lbRezim->text(), On);
    }
    QVERIFY(sim_->Coil(6));
    const qsizetype sent = Requests(sim_).size();
    WaitFor([] { return false; }, 1000);
    QCOMPARE(Requests(sim_).size(), sent);
    QVERIFY(sim_->Coil(6));

    // A new window of the mode shows it running at its first status answer.
    TfmGenerator_f again;
    again.ComPort1->SetPort(link_);
    again.StartPolling();
    QVERIFY(WaitFor([&] { return again.lbRezim->text() != QStringLiteral("Состояние - "); }, 5000));
    QCOMPARE(again.lbRezim->text(), On);
    QCOMPARE(again.Button1->text(), QStringLiteral("Выключить"));
    QCOMPARE(again.Button1->Tag, 1);
}

void TestModesE2eGen::silentDeviceRepeatsTheRequest()
{
    TfmGenerator_TC w;
    w.ComPort1->SetPort(link_);
    w.StartPolling();
    QVERIFY(WaitFor([&] { return w.lbRezim->text() == Off; }, 5000));

    int boxes = 0;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget())
            ++boxes;
    });
    watcher.start(50);
    sim_->ClearLog();
    sim_->QueueFault(sim::Fault::NoReply, 100);
    WaitFor([&] { return Requests(sim_).size() >= 5; }, 12000);

    const QList<QByteArray> requests = Requests(sim_);
    const QList<double> times = RequestTimesMs(sim_.Device());
    QVERIFY2(requests.size() >= 4, qPrintable(QString::number(requests.size())));
    for (const QByteArray &r : requests)
        QCOMPARE(r, HexBytes("0A 01 00 00 00 09 77 FD"));
    // The first one may have left before the device fell silent; the gaps after it follow
    // the 2000 ms time-out and the next 200 ms tick.
    for (int i = 2; i < times.size(); ++i) {
        const double gap = times[i] - times[i - 1];
        QVERIFY2(gap > 1900 && gap < 2700, qPrintable(QStringLiteral("gap %1 ms").arg(gap)));
    }
    QCOMPARE(boxes, 0);
    QCOMPARE(w.lbRezim->text(), Off);
    QCOMPARE(w.Button1->text(), QStringLiteral("Включить"));
}

void TestModesE2eGen::heldPortShowsBusyMessage()
{
    TComPort holder;
    holder.SetPort(link_);
    holder.Open();

    TfmGenerator_T w;
    w.ComPort1->SetPort(link_);
    QString text;
    QTimer catcher;
    QObject::connect(&catcher, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            text = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    catcher.start(20);
    w.StartPolling();
    QVERIFY(WaitFor([&] { return !text.isEmpty(); }, 5000));
    QVERIFY2(SaysWithCause(text, BusyPortText, TOpenFailure::Busy), qPrintable(text));
    QVERIFY(!w.Timer1->isActive());
    QVERIFY(!w.TimerWaitAnswer->isActive());
    QVERIFY(!w.ComPort1->Connected());

    // Even once the port is free the window stays idle.
    holder.Close();
    WaitFor([] { return false; }, 1000);
    QVERIFY(Requests(sim_).isEmpty());
}

void TestModesE2eGen::freeWhileAnswerStreams()
{
    // Replies in slow pieces, so that a window is freed while its answer is coming in.
    sim_->QueueFault(sim::Fault::Split, 1000);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 15; ++i) {
        auto w = std::make_unique<TfmGenerator_TC>();
        w->ComPort1->SetPort(link_);
        w->StartPolling();
        const size_t before = sim_->Log().size();
        QVERIFY(WaitFor([&] {
            const std::vector<sim::LogEntry> log = sim_->Log();
            for (size_t k = before; k < log.size(); ++k)
                if (log[k].Kind == sim::LogEntry::Reply)
                    return true;
            return false;
        }, 5000));
        WaitFor([] { return false; }, 10 + 7 * i);
        w.reset();
    }
    QVERIFY(clock.elapsed() < 60000);
    // The line is still usable afterwards.
    sim_->ClearFaults();
    TfmGenerator_TC w;
    w.ComPort1->SetPort(link_);
    w.StartPolling();
    QVERIFY(WaitFor([&] { return w.lbRezim->text() == Off; }, 5000));
}

QTEST_MAIN(TestModesE2eGen)
#include "tst_modes_e2e_gen.moc"
