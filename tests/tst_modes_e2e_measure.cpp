// The measuring windows end to end: opened from the main window's menu, talking to the
// device stand-in over a pty at 9600 baud. Each one starts its mode, watches its values
// move and stops it again; the pulse pack window with its port held by another program
// keeps reporting the port's error, one report at a time, until it is closed.

#include "Globals.h"
#include "MainForm.h"
#include "MeasureWindow.h"
#include "SimFixture.h"
#include "TPR_TPU.h"
#include "modbus.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <memory>

namespace {

const QString On = QStringLiteral("Включен");
const QString Off = QStringLiteral("Отключен");

// Steps run one after another from a timer inside the modal window's loop: each waits
// until its condition holds, then acts. When the time is up the window is closed so that
// the test can report where it stopped.
class Script : public QObject {
public:
    struct Step {
        const char *Name;
        std::function<bool()> Ready;
        std::function<void()> Act;
    };

    Script(std::function<TMeasureWindow *()> window, int timeoutMs) : window_(std::move(window))
    {
        deadline_.start();
        timeoutMs_ = timeoutMs;
        timer_.setInterval(40);
        connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
        timer_.start();
    }
    void Add(const char *name, std::function<bool()> ready, std::function<void()> act = {})
    {
        steps_.push_back({name, std::move(ready), std::move(act)});
    }
    bool Done() const { return next_ == steps_.size(); }
    QString Where() const { return next_ < steps_.size() ? QString::fromUtf8(steps_[next_].Name) : "done"; }
    // The window being driven; only while it is open.
    TMeasureWindow *Window() const { return seen_; }

private:
    void Tick()
    {
        TMeasureWindow *w = window_();
        if (!w || !w->isVisible())
            return;
        seen_ = w;
        if (deadline_.elapsed() > timeoutMs_) {
            timer_.stop();
            w->Button2->click();
            return;
        }
        while (next_ < steps_.size() && steps_[next_].Ready()) {
            if (steps_[next_].Act)
                steps_[next_].Act();
            ++next_;
        }
        if (Done())
            timer_.stop();
    }

    std::function<TMeasureWindow *()> window_;
    std::vector<Step> steps_;
    size_t next_ = 0;
    QTimer timer_;
    QElapsedTimer deadline_;
    qint64 timeoutMs_ = 0;
    TMeasureWindow *seen_ = nullptr;
};

TMeasureWindow *ActiveMeasureWindow()
{
    return qobject_cast<TMeasureWindow *>(QApplication::activeModalWidget());
}

bool IsWrite(const sim::LogEntry &e, int coil, bool on)
{
    return e.Kind == sim::LogEntry::Request && e.Bytes.size() == 8 && e.Bytes[1] == 5 && e.Bytes[3] == coil
        && e.Bytes[4] == (on ? 0xFF : 0x00);
}

std::vector<uint8_t> Bytes(const char *hex)
{
    const QByteArray b = QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
    return {b.begin(), b.end()};
}

}  // namespace

class TestModesE2eMeasure : public QObject {
    Q_OBJECT

    SimFixture sim_;
    std::unique_ptr<TForm1> form_;

private slots:
    void init()
    {
        QVERIFY(sim_.Start());
        form_ = std::make_unique<TForm1>();
        form_->ComPort1->SetPort(sim_.Link());
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }
    void cleanup()
    {
        form_.reset();
        sim_.Discard();
    }

    void startWatchStop_data();
    void startWatchStop();
    void heldPortReportsUntilClosed();
};

void TestModesE2eMeasure::startWatchStop_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("coil");
    QTest::addColumn<QByteArray>("valuesRequest");  // the six bytes before the CRC
    QTest::addColumn<int>("row");                   // a row whose value moves while the mode runs
    QTest::newRow("ТПР по ТПУ1") << "N12" << "ТПР по ТПУ1" << 0 << QByteArray("0A 04 00 00 00 28") << 5;
    QTest::newRow("ТПР по ТПУ2") << "N22" << "ТПР по ТПУ2" << 1 << QByteArray("0A 04 00 28 00 28") << 5;
    QTest::newRow("ТПР по ТПР") << "N3" << "ТПР оп ТПР" << 2 << QByteArray("0A 04 00 50 00 0C") << 4;
    QTest::newRow("Частотомер") << "N14" << "Частотомер" << 3 << QByteArray("0A 04 00 5E 00 08") << 2;
    QTest::newRow("Пачка импульсов") << "N2" << "Пачка импульсов" << 3 << QByteArray("0A 04 00 66 00 04") << 1;
    QTest::newRow("Режим TQ") << "TQ1" << "Режим TQ" << 4 << QByteArray("0A 04 00 6A 00 06") << 0;
    QTest::newRow("Имитация ТПУ") << "N4" << "Имитация ТПУ" << 5 << QByteArray("0A 04 00 70 00 02") << 0;
}

void TestModesE2eMeasure::startWatchStop()
{
    QFETCH(QString, item);
    QFETCH(QString, caption);
    QFETCH(int, coil);
    QFETCH(QByteArray, valuesRequest);
    QFETCH(int, row);
    auto *action = form_->findChild<QAction *>(item);
    QVERIFY(action);
    const bool watchOnly = item == "N14";  // the frequency counter has no start/stop
    const bool relativeS2 = item == "N12" || item == "N22";
    sim::SimDevice &dev = sim_.Device();

    Script script(ActiveMeasureWindow, 20000);
    auto w = [&] { return script.Window(); };
    auto cell = [&] { return w()->StringGrid1->item(row, 1)->text(); };
    QString firstValue;
    QStringList shownWhileOn;
    bool onSeen = false;
    const auto start = [&] {
        if (watchOnly)
            dev.SetCoil(coil, true);  // switched on at the device
        else
            w()->Button1->click();
    };
    const auto stop = [&] {
        if (watchOnly)
            dev.SetCoil(coil, false);
        else if (w()->Button1->Tag == 1)
            w()->Button1->click();
    };
    // Started once the state and the values have been shown, so that the first two
    // requests are the two polls.
    script.Add("off shown", [&] { return w()->lbRezim->text() == Off && !cell().isEmpty(); }, start);
    script.Add("on shown", [&] {
        onSeen = onSeen || w()->lbRezim->text() == On;
        // The S2 row starts from the base taken when the mode was seen starting.
        if (relativeS2)
            return onSeen && cell() == QStringLiteral("0");
        return onSeen && !cell().isEmpty() && dev.Coil(coil);
    }, [&] { firstValue = cell(); });
    script.Add("value moves", [&] {
        if (shownWhileOn.isEmpty() || shownWhileOn.last() != cell())
            shownWhileOn << cell();
        return cell() != firstValue;
    }, stop);
    QString title;
    script.Add("off again", [&] { return w()->lbRezim->text() == Off && !dev.Coil(coil); }, [&] {
        title = w()->windowTitle();
        w()->Button2->click();
    });

    QElapsedTimer elapsed;
    elapsed.start();
    action->trigger();
    QVERIFY2(script.Done(), qPrintable(QStringLiteral("stopped at: ") + script.Where()));
    qInfo("%s: %lld ms", qPrintable(caption), elapsed.elapsed());
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(!form_->ComPort1->Connected());
    QCOMPARE(title, caption);

    const std::vector<sim::LogEntry> log = dev.Log();
    std::vector<std::vector<uint8_t>> requests;
    for (const sim::LogEntry &e : log) {
        if (e.Kind == sim::LogEntry::Request) {
            QVERIFY(e.CrcGood);
            requests.push_back(e.Bytes);
        }
    }
    QVERIFY(requests.size() >= 4);
    QCOMPARE(requests[0], Bytes("0A 01 00 00 00 08 B7 3C"));
    std::vector<uint8_t> values = Bytes(valuesRequest.constData());
    const uint16_t crc = ModbusCrc16(values.data(), uint16_t(values.size()));
    values.push_back(uint8_t(crc >> 8));
    values.push_back(uint8_t(crc));
    QCOMPARE(requests[1], values);
    const bool wroteOn = std::any_of(log.begin(), log.end(), [&](const auto &e) { return IsWrite(e, coil, true); });
    const bool anyWrite = std::any_of(log.begin(), log.end(), [](const auto &e) {
        return e.Kind == sim::LogEntry::Request && e.Bytes.size() > 1 && e.Bytes[1] == 5;
    });
    QCOMPARE(wroteOn, !watchOnly);
    QCOMPARE(anyWrite, !watchOnly);

    if (relativeS2) {
        // Counted up from the base (a wrap below it would show a huge number).
        QVERIFY(shownWhileOn.last().toUInt() > 0);
        QVERIFY(shownWhileOn.last().toUInt() < 100000);
    }
}

void TestModesE2eMeasure::heldPortReportsUntilClosed()
{
    // Another program holds the port.
    const int holder = ::open(sim_->LinkPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(holder >= 0);
    QCOMPARE(::flock(holder, LOCK_EX | LOCK_NB), 0);

    QList<qint64> reportTimes;
    QStringList texts;
    int maxBoxes = 0;
    bool timersRanWhileReported = true;
    QElapsedTimer clock;
    clock.start();
    QMessageBox *current = nullptr;
    qint64 currentSince = 0;
    QTimer sampler;
    sampler.setInterval(30);
    connect(&sampler, &QTimer::timeout, this, [&] {
        int boxes = 0;
        QMessageBox *box = nullptr;
        TMeasureWindow *window = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (!top->isVisible())
                continue;
            if (auto *b = qobject_cast<QMessageBox *>(top)) {
                ++boxes;
                box = b;
            }
            if (auto *m = qobject_cast<TMeasureWindow *>(top))
                window = m;
        }
        maxBoxes = std::max(maxBoxes, boxes);
        if (box && box != current) {
            current = box;
            currentSince = clock.elapsed();
            reportTimes << currentSince;
            texts << box->text();
            if (window)
                timersRanWhileReported = timersRanWhileReported && window->Timer1->isActive();
        }
        // The person reads each report for a moment, then closes it.
        if (box && clock.elapsed() - currentSince > 300) {
            box->button(QMessageBox::Ok)->click();
            current = nullptr;
        }
        if (window && !box && reportTimes.size() >= 3)
            window->Button2->click();
        if (clock.elapsed() > 20000 && window)
            window->Button2->click();
    });
    sampler.start();
    form_->N2->trigger();
    sampler.stop();
    ::flock(holder, LOCK_UN);
    ::close(holder);

    QVERIFY2(reportTimes.size() >= 3, qPrintable(QString::number(reportTimes.size())));
    qInfo("report: %s", qPrintable(texts.first()));
    QCOMPARE(maxBoxes, 1);
    QVERIFY(timersRanWhileReported);
    for (const QString &text : texts) {
        QVERIFY(!text.isEmpty());
        QVERIFY(!text.startsWith(BusyPortText));
        QCOMPARE(text, texts.first());
    }
    // About every 2 s: the answer time-out and the wait for the next tick.
    for (int i = 1; i < reportTimes.size(); ++i) {
        const qint64 gap = reportTimes[i] - reportTimes[i - 1];
        qInfo("report %d after %lld ms", i + 1, gap);
        QVERIFY2(gap >= 1800 && gap <= 4000, qPrintable(QString::number(gap)));
    }
    QVERIFY(!QApplication::activeModalWidget());
    // Nothing reached the device.
    QVERIFY(sim_.Requests().empty());
}

QTEST_MAIN(TestModesE2eMeasure)
#include "tst_modes_e2e_measure.moc"
