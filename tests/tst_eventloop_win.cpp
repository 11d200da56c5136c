// The event thread's decisions on Windows against a scripted driver: the orders in which a
// real driver (and Wine's) can end waits, count the queue and lose its device, which no
// port under Wine ever gives.

#include "ComEventLoop_win.h"

#include <QStringList>
#include <QtTest>

namespace {

// A driver that answers the event loop from a script of what happens on the port, one
// step after the other, as the loop's calls let time pass:
//   +N        N bytes arrive in the input queue (no event of their own)
//   ev:rx,tx  the pending wait ends with these events (ev:0: with none)
//   fail:N    the pending wait fails with system error N
//   now:N     the next WaitCommEvent fails at once with N
//   gone      the device is pulled out: counting the queue fails from now on
//   pause     a while passes with nothing happening, longer than any look
//   write     the port's thread writes a request
//   close     the port is closed
//   close:995 the port is closed, and the close's purge ends the pending wait aborted
// Each hand-over is logged as its events ("rx" with the bytes queued then: "rx81+tx"); the
// receive handler reads what is queued unless told not to.
class ScriptedDriver : public TComEventPort {
public:
    ScriptedDriver(const QString &script, bool handlerReads)
        : steps_(script.split(QLatin1Char(' '), Qt::SkipEmptyParts)), reads_(handlerReads)
    {
        Peek();  // what the script starts with happened before the loop ran
    }

    QStringList Log;
    bool LineGone = false;
    bool UnableToWait = false;
    int WaitsStarted = 0;
    QString Fault;  // a step that came where the script's driver cannot give it

    TWaitEnd Wait(DWORD ms) override
    {
        TWaitEnd end;
        QString step = Peek();
        if (!pending_) {
            ++WaitsStarted;
            if (step.startsWith(QLatin1String("now:"))) {
                steps_.removeFirst();
                end = {TWaitEnd::Failed, true, step.mid(4).toUInt(), 0};
                return end;
            }
            pending_ = true;
        }
        for (; step == QLatin1String("pause"); step = Peek()) {
            steps_.removeFirst();
            if (ms != INFINITE) {
                now_ += ms;
                end.Kind = TWaitEnd::TimedOut;
                return end;
            }
        }
        pending_ = false;
        Take();
        if (step.startsWith(QLatin1String("ev:")))
            end = {TWaitEnd::Completed, false, 0, Mask(step.mid(3))};
        else if (step.startsWith(QLatin1String("fail:")))
            end = {TWaitEnd::Failed, false, step.mid(5).toUInt(), 0};
        else if (step == QLatin1String("close:995"))
            end = {TWaitEnd::Failed, false, ERROR_OPERATION_ABORTED, 0};
        else if (!step.isEmpty() && step != QLatin1String("close"))
            Fault = QStringLiteral("a wait met \"%1\"").arg(step);
        stopping_ = end.Kind == TWaitEnd::Stopped || step.startsWith(QLatin1String("close"));
        return end;
    }

    TWake Sleep(DWORD ms) override
    {
        const QString step = Take();
        if (step == QLatin1String("pause")) {
            now_ += ms;
            return TWake::Time;
        }
        if (step == QLatin1String("write"))
            return TWake::Wrote;
        if (!step.isEmpty() && step != QLatin1String("close"))
            Fault = QStringLiteral("a look at the queue met \"%1\"").arg(step);
        stopping_ = true;
        return TWake::Stop;
    }

    bool Arrived(quint64 &arrived) override
    {
        arrived = read_ + queued_;
        return !gone_;
    }

    bool HandOver(TComEvents got) override
    {
        QStringList names;
        if (got & (1u << evRxChar))
            names << QStringLiteral("rx%1").arg(queued_);
        if (got & (1u << evTxEmpty))
            names << QStringLiteral("tx");
        if (got & (1u << evError))
            names << QStringLiteral("err");
        Log << names.join(QLatin1Char('+'));
        if (reads_ && (got & (1u << evRxChar))) {
            read_ += queued_;
            queued_ = 0;
        }
        return !stopping_;
    }

    void SetMask(DWORD) override {}
    qint64 Now() override { return now_; }
    bool Stopping() override { return stopping_; }
    void MarkLineGone() override { LineGone = true; }
    void MarkUnableToWait() override { UnableToWait = true; }
    void WaitForStop() override
    {
        steps_.clear();  // the rest happens while the thread only waits to be stopped
        stopping_ = true;
    }
    bool ScriptDone() const { return steps_.isEmpty(); }

private:
    // The next step that is no arrival of bytes or loss of the device (those happen on the
    // way), left in the script.
    QString Peek()
    {
        while (!steps_.isEmpty()) {
            const QString &step = steps_.first();
            if (step.startsWith(QLatin1Char('+')))
                queued_ += step.mid(1).toULongLong();
            else if (step == QLatin1String("gone"))
                gone_ = true;
            else
                return step;
            steps_.removeFirst();
        }
        return {};
    }
    QString Take()
    {
        const QString step = Peek();
        if (!step.isEmpty())
            steps_.removeFirst();
        return step;
    }

    static DWORD Mask(const QString &names)
    {
        DWORD mask = 0;
        for (const QString &name : names.split(QLatin1Char(',')))
            mask |= name == QLatin1String("rx") ? EV_RXCHAR : name == QLatin1String("tx") ? EV_TXEMPTY : 0;
        return mask;
    }

    QStringList steps_;
    bool reads_;
    quint64 queued_ = 0;
    quint64 read_ = 0;
    bool gone_ = false;
    bool stopping_ = false;
    bool pending_ = false;
    qint64 now_ = 0;
};

}  // namespace

class TestEventLoopWin : public QObject {
    Q_OBJECT

private slots:
    void driverOrders_data();
    void driverOrders();
    void watchedPortIsLookedAtFromTheStart();
};

void TestEventLoopWin::driverOrders_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("handlerReads");
    QTest::addColumn<QString>("handedOver");
    QTest::addColumn<QString>("after");  // "waits", "watched" (from now on), "gone"

    // A real driver. A script that starts with bytes has them queued before the first wait.
    QTest::newRow("an answer whole before the first wait") << "+81 close" << true << "rx81" << "waits";
    QTest::newRow("each answer at its event")
        << "pause +8 ev:rx +81 ev:rx,tx close" << true << "rx8 rx81+tx" << "waits";
    QTest::newRow("an event before its bytes are counted")
        << "pause ev:rx +81 pause close" << true << "rx81" << "waits";
    QTest::newRow("an answer's tail counted after its event")
        << "pause +40 ev:rx +41 pause close" << true << "rx40 rx41" << "waits";
    QTest::newRow("an event of bytes the last hand-over read already")
        << "pause +5 ev:rx ev:rx pause +2 ev:rx close" << true << "rx5 rx2" << "waits";
    QTest::newRow("a wait the close's purge ends aborted") << "pause +8 ev:rx close:995" << true << "rx8" << "waits";
    QTest::newRow("pulled out in a wait: access denied")
        << "pause +8 ev:rx fail:5 close" << true << "rx8 err" << "gone";
    QTest::newRow("pulled out in a wait: bad command")
        << "pause +8 ev:rx fail:22 close" << true << "rx8 err" << "gone";
    QTest::newRow("pulled out in a wait: device removed")
        << "pause +8 ev:rx fail:1617 close" << true << "rx8 err" << "gone";
    QTest::newRow("pulled out in a wait: aborted")
        << "pause +8 ev:rx gone fail:995 close" << true << "rx8 err" << "gone";
    QTest::newRow("pulled out before the first wait") << "gone close" << true << "err" << "gone";

    // Wine's COM port on a pseudo-terminal.
    QTest::newRow("no modem lines, waits end aborted")
        << "now:50 fail:995 pause write +81 pause pause close" << true << "rx81" << "watched";
    QTest::newRow("waits end with no event") << "+3 ev:0 pause +5 pause close" << true << "rx3 rx5" << "watched";
    QTest::newRow("bytes left queued reported as new at each wait")
        << "+6 ev:rx ev:rx pause +2 pause close" << false << "rx6 rx8" << "watched";
}

void TestEventLoopWin::driverOrders()
{
    QFETCH(QString, script);
    QFETCH(bool, handlerReads);
    QFETCH(QString, handedOver);
    QFETCH(QString, after);

    ScriptedDriver driver(script, handlerReads);
    TComEventLoop loop(driver, AllComEvents, 0);
    loop.Run(false);
    QVERIFY2(driver.Fault.isEmpty(), qPrintable(driver.Fault));
    QVERIFY2(driver.ScriptDone(), "the loop ended before the port was closed");
    QCOMPARE(driver.Log.join(QLatin1Char(' ')), handedOver);
    QCOMPARE(driver.UnableToWait, after == QLatin1String("watched"));
    QCOMPARE(driver.LineGone, after == QLatin1String("gone"));
}

void TestEventLoopWin::watchedPortIsLookedAtFromTheStart()
{
    // A port found unable to wait in an earlier opening starts no wait at all: what was
    // queued is handed over at the first look, and an answer after a write at the next.
    ScriptedDriver driver(QStringLiteral("+4 write +81 pause close"), true);
    TComEventLoop loop(driver, AllComEvents, 0);
    loop.Run(true);
    QVERIFY2(driver.Fault.isEmpty(), qPrintable(driver.Fault));
    QCOMPARE(driver.Log, (QStringList{"rx4", "rx81"}));
    QCOMPARE(driver.WaitsStarted, 0);
}

QTEST_GUILESS_MAIN(TestEventLoopWin)
#include "tst_eventloop_win.moc"
