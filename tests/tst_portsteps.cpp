// The order of a port's opening and closing on a scripted stand-in of the system's steps:
// which step's failure raises which code with the system's error, and that the device is let
// go again after any failure once it was taken.

#include "PortCalls.h"
#include "SystemErrors.h"

#include <QtTest>

namespace {

constexpr int StepError = 1234;

// Logs each step; the step named failAt fails with StepError.
class TScriptedSteps : public TPortSteps {
public:
    QString failAt;
    int purgeError = 0;
    bool lineGone = false;
    bool threadStuck = false;
    QStringList log;

    TStepFailure OpenDevice() override { return Step("open"); }
    TStepFailure SetQueues() override { return Step("queues"); }
    TStepFailure ApplySettings() override { return Step("settings"); }
    TStepFailure ApplyTimeouts() override { return Step("timeouts"); }
    TStepFailure PurgeInput() override { return Step("purge"); }
    TStepFailure StartThread() override { return Step("thread"); }
    void BeginClose() override { log << "begin close"; }
    int PurgeBoth() override
    {
        log << "purge both";
        return purgeError;
    }
    bool StopThread() override
    {
        log << "stop thread";
        return !threadStuck;
    }
    void CloseDevice() override { log << "close"; }
    bool LineGone() override { return lineGone; }

private:
    TStepFailure Step(const QString &name)
    {
        log << name;
        return name == failAt ? TStepFailure(StepError) : std::nullopt;
    }
};

// An error of a port in use that says its device has gone, or that it has not.
int InUseError(bool gone)
{
    for (const TPortErrorSample &sample : PortErrorSamples()) {
        if (sample.Stage == TPortStage::InUse && sample.Err > 0 && (sample.Cause == TPortCause::Gone) == gone)
            return sample.Err;
    }
    return -1;
}

}  // namespace

class TestPortSteps : public QObject {
    Q_OBJECT

private slots:
    void opening_data()
    {
        QTest::addColumn<QString>("failAt");
        QTest::addColumn<bool>("withThread");
        QTest::addColumn<int>("code");  // 0: opened
        QTest::addColumn<QString>("steps");
        const QString all = "open queues settings timeouts purge thread";
        QTest::newRow("opened") << "" << true << 0 << all;
        QTest::newRow("no events, no thread") << "" << false << 0 << "open queues settings timeouts purge";
        QTest::newRow("device") << "open" << true << EComPort::OpenFailed << "open";
        QTest::newRow("queues") << "queues" << true << EComPort::SetupFailed << "open queues close";
        QTest::newRow("settings") << "settings" << true << EComPort::SetStateFailed << "open queues settings close";
        QTest::newRow("time-outs") << "timeouts" << true << EComPort::SetTimeoutsFailed
                                   << "open queues settings timeouts close";
        QTest::newRow("purge") << "purge" << true << EComPort::PurgeFailed
                               << "open queues settings timeouts purge close";
        QTest::newRow("thread") << "thread" << true << EComPort::OpenFailed << all + " close";
    }

    void opening()
    {
        QFETCH(QString, failAt);
        QFETCH(bool, withThread);
        QFETCH(int, code);
        QFETCH(QString, steps);
        TScriptedSteps script;
        script.failAt = failAt;
        int raised = 0;
        try {
            OpenPort(script, withThread);
        } catch (const EComPort &e) {
            raised = e.Code;
            QCOMPARE(e.WinCode, StepError);
        }
        QCOMPARE(raised, code);
        QCOMPARE(script.log.join(' '), steps);
    }

    void closing_data()
    {
        QTest::addColumn<int>("purgeError");
        QTest::addColumn<bool>("lineGone");
        QTest::addColumn<bool>("threadStuck");
        QTest::addColumn<bool>("raised");
        QTest::addColumn<QString>("steps");
        const QString all = "begin close;purge both;stop thread;close";
        QTest::newRow("closed") << 0 << false << false << false << all;
        QTest::newRow("purge failed, device there") << InUseError(false) << false << false << true << all;
        QTest::newRow("purge failed, device gone") << InUseError(true) << false << false << false << all;
        QTest::newRow("purge failed, line gone") << InUseError(false) << true << false << false << all;
        QTest::newRow("thread stuck in a driver") << InUseError(false) << false << true << false
                                                  << "begin close;purge both;stop thread";
    }

    void closing()
    {
        QFETCH(int, purgeError);
        QFETCH(bool, lineGone);
        QFETCH(bool, threadStuck);
        QFETCH(bool, raised);
        QFETCH(QString, steps);
        QVERIFY(purgeError >= 0);
        TScriptedSteps script;
        script.purgeError = purgeError;
        script.lineGone = lineGone;
        script.threadStuck = threadStuck;
        bool thrown = false;
        try {
            ClosePort(script);
        } catch (const EComPort &e) {
            thrown = true;
            QCOMPARE(e.Code, EComPort::PurgeFailed);
            QCOMPARE(e.WinCode, purgeError);
        }
        QCOMPARE(thrown, raised);
        QCOMPARE(script.log.join(';'), steps);
    }
};

QTEST_GUILESS_MAIN(TestPortSteps)
#include "tst_portsteps.moc"
