// The mode windows' exchange cycle, driven without a window: a script of timer ticks,
// answers, time-outs and clicks, and the log of what went out and what was processed.

#include "ExchangeCycle.h"

#include <QtTest>

Q_DECLARE_METATYPE(TCycleVariant)

namespace {

// One mode unit's variables and its cycle, with a log of the requests sent ("S" status,
// "V" values, "C+"/"C-" command on/off) and the answers processed ("s", "v", "d" for a
// confirmed command).
struct Driver {
    int32_t AnswerState = -1;
    int32_t RequestKind = -1;
    uint8_t CommandValue = 0;
    int Tag = 0;
    TExchangeCycle Cycle;
    QStringList Log;

    explicit Driver(TCycleVariant variant) : Cycle({AnswerState, RequestKind, CommandValue}, variant)
    {
        Cycle.Reset();
    }

    void Tick()
    {
        if (Cycle.ChooseRequest()) {
            switch (RequestKind) {
            case RequestValues: Log << "V"; break;
            case RequestStatus: Log << "S"; break;
            case RequestCommand: Log << (CommandValue == CommandOn ? "C+" : "C-"); break;
            default: Log << "?"; break;
            }
            Cycle.MarkAwaited();
        }
        switch (Cycle.TakeAnswer()) {
        case TAnswerStep::Values: Log << "v"; break;
        case TAnswerStep::Status: Log << "s"; break;
        case TAnswerStep::CommandDone: Log << "d"; break;
        case TAnswerStep::None: break;
        }
    }

    // t tick, g good answer, b answer with a bad CRC, o time-out, c click, f send failed
    void Run(const QString &script)
    {
        for (QChar ch : script) {
            switch (ch.toLatin1()) {
            case 't': Tick(); break;
            case 'g': Cycle.AnswerComplete(true); break;
            case 'b': Cycle.AnswerComplete(false); break;
            case 'o': Cycle.TimedOut(); break;
            case 'c': Tag = Cycle.Click(Tag); break;
            case 'f': Cycle.SendFailed(); break;
            case ' ': break;
            default: QFAIL(qPrintable(QStringLiteral("bad script letter %1").arg(ch)));
            }
        }
    }
};

}  // namespace

class TestExchangeCycle : public QObject {
    Q_OBJECT
private slots:
    void startValues_data();
    void startValues();
    void sequence_data();
    void sequence();
    void lastClickWins();
    void nothingHappensWhileAwaited();
};

void TestExchangeCycle::startValues_data()
{
    QTest::addColumn<TCycleVariant>("variant");
    QTest::addColumn<int>("requestKind");
    QTest::newRow("three-request") << TCycleVariant::ThreeRequest << int(RequestValues);
    QTest::newRow("status only") << TCycleVariant::StatusOnly << int(RequestStatus);
}

void TestExchangeCycle::startValues()
{
    QFETCH(TCycleVariant, variant);
    QFETCH(int, requestKind);
    Driver d(variant);
    QCOMPARE(d.AnswerState, AnswerReady);
    QCOMPARE(d.RequestKind, requestKind);
    QCOMPARE(d.CommandValue, NoCommand);
    // Reset also clears what a previous window of the unit left behind.
    d.Run("c t");
    d.Cycle.Reset();
    QCOMPARE(d.AnswerState, AnswerReady);
    QCOMPARE(d.RequestKind, requestKind);
    QCOMPARE(d.CommandValue, NoCommand);
}

void TestExchangeCycle::sequence_data()
{
    QTest::addColumn<TCycleVariant>("variant");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("log");
    const auto three = TCycleVariant::ThreeRequest;
    const auto gen = TCycleVariant::StatusOnly;

    QTest::newRow("3: first request is status") << three << "t" << "S";
    QTest::newRow("gen: first request is status") << gen << "t" << "S";
    QTest::newRow("3: status and values alternate, each processed a tick later")
        << three << "tgt tgt tgt tgt" << "S s V v S s V v";
    QTest::newRow("gen: status only") << gen << "tgt tgt tgt" << "S s S s S s";
    QTest::newRow("3: ticks while awaited send nothing") << three << "tttt g tt" << "S s V";
    QTest::newRow("3: time-out on values is followed by status") << three << "tgt t o t" << "S s V S";
    QTest::newRow("3: time-out on status is followed by values") << three << "t o t" << "S V";
    QTest::newRow("3: bad CRC is not repeated, the alternation goes on") << three << "t b t b t" << "S V S";
    QTest::newRow("gen: time-out repeats the status request") << gen << "t o t o t" << "S S S";
    QTest::newRow("gen: click queues on, command leaves at the next ready tick")
        << gen << "tgt c tgt t" << "S s C+ d S";
    QTest::newRow("3: command takes the place of values, status follows it")
        << three << "tgt c tgt tgt" << "S s C+ d S s";
    QTest::newRow("3: click while awaited waits for the answer") << three << "t c t g t t" << "S s C+";
    QTest::newRow("gen: command with a bad CRC is sent again") << gen << "c t b t b t g t t" << "C+ C+ C+ d S";
    QTest::newRow("3: command timed out is sent again") << three << "c t o t o t g t t" << "C+ C+ C+ d S";
    QTest::newRow("gen: second click turns the command off") << gen << "c c t g t" << "C- d";
    QTest::newRow("gen: click after the command went out replaces it")
        << gen << "c t c o t g t t" << "C+ C- d S";
    QTest::newRow("gen: echo of the earlier command keeps the later click pending")
        << gen << "c t c g t t g t t" << "C+ d C- d S";
    QTest::newRow("3: echo of the earlier command keeps the later click pending")
        << three << "tgt c t c g t t g t t" << "S s C+ d C- d S";
    QTest::newRow("3: late answer after a time-out is processed as the current request")
        << three << "tgt t o g t t" << "S s V v S";
    QTest::newRow("3: failed send leaves the cycle ready for the next request")
        << three << "t f t" << "S V";
    QTest::newRow("gen: failed command send keeps the command pending") << gen << "c t f t" << "C+ C+";
}

void TestExchangeCycle::sequence()
{
    QFETCH(TCycleVariant, variant);
    QFETCH(QString, script);
    QFETCH(QString, log);
    Driver d(variant);
    d.Run(script);
    QCOMPARE(d.Log.join(' '), log);
}

void TestExchangeCycle::lastClickWins()
{
    Driver d(TCycleVariant::StatusOnly);
    QCOMPARE(d.Cycle.Click(0), 1);
    QCOMPARE(d.CommandValue, CommandOn);
    QCOMPARE(d.Cycle.Click(1), 0);
    QCOMPARE(d.CommandValue, CommandOff);
    // A tag of any non-zero value means "shown running".
    QCOMPARE(d.Cycle.Click(7), 0);
    QCOMPARE(d.CommandValue, CommandOff);
}

void TestExchangeCycle::nothingHappensWhileAwaited()
{
    Driver d(TCycleVariant::ThreeRequest);
    d.Run("t");
    const int32_t kind = d.RequestKind;
    for (int i = 0; i < 50; ++i) {
        QVERIFY(!d.Cycle.ChooseRequest());
        QCOMPARE(d.Cycle.TakeAnswer(), TAnswerStep::None);
    }
    QCOMPARE(d.AnswerState, AnswerAwaited);
    QCOMPARE(d.RequestKind, kind);
}


QTEST_APPLESS_MAIN(TestExchangeCycle)
#include "tst_exchangecycle.moc"
