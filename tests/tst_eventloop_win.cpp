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
//   stuck     the driver never ends a request that is cancelled from now on
//   pause     a while passes with nothing happening, longer than any look
//   write     the port's thread writes a request
//   close     the port is closed (a pending wait is then cancelled)
//   close:995 the port is closed, and the close's purge ends the pending wait aborted
// Each hand-over is logged as its events ("rx" with the bytes queued then: "rx81+tx"); the
// receive handler reads what is queued unless told not to.
class ScriptedDriver : public TComEventPort, private TPendingIo {
public:
    ScriptedDriver(const QString &script, bool handlerReads)
        : steps_(script.split(QLatin1Char(' '), Qt::SkipEmptyParts)), reads_(handlerReads)
    {
        Peek();  // what the script starts with happened before the loop ran
    }

    QStringList Log;
    bool LineGone = false;
    bool Abandoned = false;
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
        else if (step.isEmpty() || step == QLatin1String("close"))
            pending_ = true;  // the stop came first: the wait is still the driver's
        else
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

    TPendingIo *PendingWait() override { return pending_ ? this : nullptr; }
    bool WaitPending() const { return pending_; }
    void SetMask(DWORD) override {}
    qint64 Now() override { return now_; }
    bool Stopping() override { return stopping_; }
    void MarkLineGone() override { LineGone = true; }
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
            else if (step == QLatin1String("stuck"))
                stuck_ = true;
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
            mask |= name == QLatin1String("rx")   ? EV_RXCHAR
                  : name == QLatin1String("tx")   ? EV_TXEMPTY
                  : name == QLatin1String("err")  ? EV_ERR
                                                  : 0;
        return mask;
    }

    // The pending wait, as the loop ends it when the port closes.
    void Cancel() override { cancelled_ = true; }
    bool Ended(DWORD ms) override
    {
        if (!cancelled_ || ms == INFINITE)
            Fault = QStringLiteral("the end of a wait awaited uncancelled or without a limit");
        if (stuck_)
            return false;
        pending_ = false;
        return true;
    }
    DWORD Result(DWORD &transferred) override
    {
        transferred = 0;
        return ERROR_OPERATION_ABORTED;
    }
    void Abandon() override { Abandoned = true; }

    QStringList steps_;
    bool reads_;
    bool stuck_ = false;
    bool cancelled_ = false;
    quint64 queued_ = 0;
    quint64 read_ = 0;
    bool gone_ = false;
    bool stopping_ = false;
    bool pending_ = false;
    qint64 now_ = 0;
};

// A write the driver ends by its time-out or not, and whose cancellation it ends or not.
class ScriptedWrite : public TPendingIo {
public:
    ScriptedWrite(bool endsInTime, DWORD error, bool cancelEnds) : inTime_(endsInTime), error_(error), cancelEnds_(cancelEnds) {}
    QString Fault;
    bool Abandoned = false;

    void Cancel() override { cancelled_ = true; }
    bool Ended(DWORD ms) override
    {
        if (++waits_ == 1)
            return inTime_;
        if (!cancelled_ || ms == INFINITE)
            Fault = QStringLiteral("the end of a write awaited uncancelled or without a limit");
        return cancelEnds_;
    }
    DWORD Result(DWORD &transferred) override
    {
        transferred = error_ ? 3 : 8;
        return error_;
    }
    void Abandon() override { Abandoned = true; }

private:
    bool inTime_;
    DWORD error_;
    bool cancelEnds_;
    bool cancelled_ = false;
    int waits_ = 0;
};

}  // namespace

class TestEventLoopWin : public QObject {
    Q_OBJECT

private slots:
    void driverOrders_data();
    void driverOrders();
    void watchedPortIsLookedAtFromTheStart();
    void writeEnds_data();
    void writeEnds();
    void dispatchCount_data();
    void dispatchCount();
};

void TestEventLoopWin::driverOrders_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("handlerReads");
    QTest::addColumn<QString>("handedOver");
    QTest::addColumn<QString>("after");  // "waits", "watched" (from now on), "gone", "abandoned"

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
    QTest::newRow("pulled out in a wait: general failure")
        << "pause +8 ev:rx fail:31 close" << true << "rx8 err" << "gone";
    QTest::newRow("pulled out in a wait: device not connected")
        << "pause +8 ev:rx fail:1167 close" << true << "rx8 err" << "gone";
    QTest::newRow("pulled out before the first wait") << "gone close" << true << "err" << "gone";
    // A driver cancels waits around a suspend and resume: the port waits on.
    QTest::newRow("a wait aborted with the device present, then an event")
        << "pause +8 ev:rx fail:995 +81 ev:rx close" << true << "rx8 rx81" << "waits";
    QTest::newRow("a wait aborted while bytes came")
        << "pause +8 ev:rx +5 fail:995 pause +3 ev:rx close" << true << "rx8 rx5 rx3" << "waits";
    // Line errors of a noisy line: nothing to hand over until bytes come.
    QTest::newRow("a burst of line errors")
        << "pause +8 ev:rx ev:err ev:err ev:err ev:err ev:err +4 ev:rx,err close" << true << "rx8 rx4+err" << "waits";
    // A driver that never ends a cancelled wait leaves the port gone, not the window frozen.
    QTest::newRow("a wait whose cancel never completes") << "pause +8 ev:rx stuck close" << true << "rx8" << "abandoned";

    // Wine's COM port on a pseudo-terminal.
    QTest::newRow("no modem lines, waits end aborted")
        << "now:50 fail:995 fail:995 pause write +81 pause pause close" << true << "rx81" << "watched";
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
    QCOMPARE(loop.Watched(), after == QLatin1String("watched"));
    QCOMPARE(driver.LineGone, after == QLatin1String("gone") || after == QLatin1String("abandoned"));
    QCOMPARE(driver.Abandoned, after == QLatin1String("abandoned"));
    QVERIFY2(driver.Abandoned || !driver.WaitPending(), "a wait was left pending");
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

void TestEventLoopWin::writeEnds_data()
{
    QTest::addColumn<bool>("endsInTime");
    QTest::addColumn<int>("error");       // how the write ended, by itself or cancelled
    QTest::addColumn<bool>("cancelEnds");
    QTest::addColumn<int>("failure");     // what the write fails with; 0: none
    QTest::newRow("written") << true << 0 << true << 0;
    QTest::newRow("cut off by a device pulled out") << true << int(ERROR_OPERATION_ABORTED) << true << int(ERROR_OPERATION_ABORTED);
    QTest::newRow("gone in a write") << true << int(ERROR_DEVICE_NOT_CONNECTED) << true << int(ERROR_DEVICE_NOT_CONNECTED);
    QTest::newRow("timed out, cancelled") << false << int(ERROR_OPERATION_ABORTED) << true << 0;
    QTest::newRow("timed out, ended as it was cancelled") << false << 0 << true << 0;
    QTest::newRow("a cancel that never completes") << false << 0 << false << int(ERROR_DEVICE_NOT_CONNECTED);
}

void TestEventLoopWin::writeEnds()
{
    QFETCH(bool, endsInTime);
    QFETCH(int, error);
    QFETCH(bool, cancelEnds);
    QFETCH(int, failure);
    ScriptedWrite write(endsInTime, DWORD(error), cancelEnds);
    const TWriteEnd end = FinishWrite(write, 1800);
    QVERIFY2(write.Fault.isEmpty(), qPrintable(write.Fault));
    QCOMPARE(int(end.Error), failure);
    QCOMPARE(end.Abandoned, !endsInTime && !cancelEnds);
    QCOMPARE(write.Abandoned, end.Abandoned);
}

void TestEventLoopWin::dispatchCount_data()
{
    QTest::addColumn<int>("queued");  // the count, or -1: it failed with error
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("withLineError");
    QTest::addColumn<bool>("lineGone");
    QTest::addColumn<int>("count");  // -1: a failure (EComPort::StatusFailed)
    QTest::newRow("bytes queued") << 5 << 0 << false << false << 5;
    QTest::newRow("pulled out in the hand-over: bad command") << -1 << int(ERROR_BAD_COMMAND) << false << false << 0;
    QTest::newRow("pulled out in the hand-over: not connected") << -1 << int(ERROR_DEVICE_NOT_CONNECTED) << false << false << 0;
    QTest::newRow("pulled out in the hand-over: access denied") << -1 << int(ERROR_ACCESS_DENIED) << false << false << 0;
    QTest::newRow("a line error with the bytes") << -1 << int(ERROR_INVALID_PARAMETER) << true << false << 0;
    QTest::newRow("the line known gone") << -1 << int(ERROR_INVALID_PARAMETER) << false << true << 0;
    QTest::newRow("a count refused on a working port") << -1 << int(ERROR_INVALID_PARAMETER) << false << false << -1;
}

void TestEventLoopWin::dispatchCount()
{
    QFETCH(int, queued);
    QFETCH(int, error);
    QFETCH(bool, withLineError);
    QFETCH(bool, lineGone);
    QFETCH(int, count);
    const TComEvents got = (1u << evRxChar) | (withLineError ? 1u << evError : 0);
    try {
        QCOMPARE(DispatchCount(queued, DWORD(error), got, lineGone), count);
    } catch (const EComPort &e) {
        QCOMPARE(count, -1);
        QCOMPARE(e.Code, EComPort::StatusFailed);
        QCOMPARE(e.WinCode, error);
    }
}

QTEST_GUILESS_MAIN(TestEventLoopWin)
#include "tst_eventloop_win.moc"
