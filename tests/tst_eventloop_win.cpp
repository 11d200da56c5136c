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
        // What the script starts with happened before the loop ran.
        const QString first = TakeFollowing();
        if (!first.isEmpty())
            steps_.prepend(first);
    }

    QStringList Log;
    QList<DWORD> Masks;  // masks set by the loop
    bool LineGone = false;
    bool UnableToWait = false;
    QString Fault;  // a call the script did not expect

    TWaitEnd Wait(DWORD ms) override
    {
        TWaitEnd end;
        if (!pending_) {
            ++waitsStarted_;
            const QString step = TakeFollowing();
            if (step.startsWith(QLatin1String("now:"))) {
                end.Kind = TWaitEnd::Failed;
                end.AtOnce = true;
                end.Error = step.mid(4).toUInt();
                return end;
            }
            if (!step.isEmpty())
                steps_.prepend(step);
            pending_ = true;
        }
        for (;;) {
            const QString step = TakeFollowing();
            if (step == QLatin1String("pause")) {
                if (ms == INFINITE)
                    continue;
                now_ += ms;
                end.Kind = TWaitEnd::TimedOut;
                return end;
            }
            pending_ = false;
            if (step.startsWith(QLatin1String("ev:"))) {
                end.Kind = TWaitEnd::Completed;
                end.Mask = Mask(step.mid(3));
            } else if (step.startsWith(QLatin1String("fail:"))) {
                end.Kind = TWaitEnd::Failed;
                end.Error = step.mid(5).toUInt();
            } else if (step == QLatin1String("close:995")) {
                stopping_ = true;
                end.Kind = TWaitEnd::Failed;
                end.Error = ERROR_OPERATION_ABORTED;
            } else if (step.isEmpty() || step == QLatin1String("close")) {
                stopping_ = true;
                end.Kind = TWaitEnd::Stopped;
            } else {
                Fault = QStringLiteral("a wait met \"%1\"").arg(step);
                stopping_ = true;
                end.Kind = TWaitEnd::Stopped;
            }
            return end;
        }
    }

    void SetMask(DWORD mask) override { Masks << mask; }

    bool Arrived(quint64 &arrived) override
    {
        if (gone_)
            return false;
        arrived = read_ + queued_;
        return true;
    }

    TWake Sleep(DWORD ms) override
    {
        const QString step = TakeFollowing();
        if (step == QLatin1String("pause")) {
            now_ += ms;
            return TWake::Time;
        }
        if (step == QLatin1String("write"))
            return TWake::Wrote;
        if (!step.isEmpty() && !step.startsWith(QLatin1String("close")))
            Fault = QStringLiteral("a look at the queue met \"%1\"").arg(step);
        stopping_ = true;
        return TWake::Stop;
    }

    qint64 Now() override { return now_; }
    bool Stopping() override { return stopping_; }

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

    void MarkLineGone() override { LineGone = true; }
    void MarkUnableToWait() override { UnableToWait = true; }
    void WaitForStop() override
    {
        // Whatever the script still holds happens while the thread only waits to be stopped.
        steps_.clear();
        stopping_ = true;
    }

    int WaitsStarted() const { return waitsStarted_; }
    bool ScriptDone() const { return steps_.isEmpty(); }

private:
    // The next step that is no arrival of bytes or loss of the device; those happen on the way.
    QString TakeFollowing()
    {
        while (!steps_.isEmpty()) {
            const QString step = steps_.takeFirst();
            if (step.startsWith(QLatin1Char('+')))
                queued_ += step.mid(1).toULongLong();
            else if (step == QLatin1String("gone"))
                gone_ = true;
            else
                return step;
        }
        return {};
    }

    static DWORD Mask(const QString &names)
    {
        DWORD mask = 0;
        for (const QString &name : names.split(QLatin1Char(','))) {
            if (name == QLatin1String("rx"))
                mask |= EV_RXCHAR;
            else if (name == QLatin1String("tx"))
                mask |= EV_TXEMPTY;
        }
        return mask;
    }

    QStringList steps_;
    bool reads_;
    quint64 queued_ = 0;
    quint64 read_ = 0;
    bool gone_ = false;
    bool stopping_ = false;
    bool pending_ = false;
    int waitsStarted_ = 0;
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
    QCOMPARE(driver.WaitsStarted(), 0);
}

QTEST_GUILESS_MAIN(TestEventLoopWin)
#include "tst_eventloop_win.moc"
