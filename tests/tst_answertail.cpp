// A values step fed an answer of another kind (a late status answer or a command echo,
// which the cycle takes under the current request kind) with stray bytes behind it: the
// grid shows only what the answer itself carries, never bytes that came after it.

#include "Globals.h"
#include "ModeTestRig.h"
#include "TPR_TPR.h"
#include "TPR_TPU.h"
#include "Imitation_TPU.h"
#include "MeasureWindow.h"

#include <QTableWidget>
#include <QtTest>

#include <memory>
#include <tuple>

namespace {

QStringList Column(const QTableWidget *grid)
{
    QStringList out;
    for (int r = 0; r < grid->rowCount(); ++r)
        out << (grid->item(r, 1) ? grid->item(r, 1)->text() : QString());
    return out;
}

// Runs a window up to its first values step on answer + tail, the tail arriving in a later
// receive event before the tick; returns the grid's column 1 before and after that step.
template <typename Window>
std::pair<QStringList, QStringList> ValuesStepOn(const QByteArray &first, const QByteArray &answer,
                                                 const QByteArray &tail, std::function<void(Window &)> setUp = {})
{
    FakeLinkWindow<Window> w;
    if (setUp)
        setUp(w);
    w.Timer1Timer();  // status request
    w.Feed(AppendDeviceCrc(HexBytes("0A 01 01 00")));
    w.Timer1Timer();  // status step
    w.Timer1Timer();  // values request
    w.Feed(first);
    w.Timer1Timer();  // values step on a proper answer
    w.Timer1Timer();  // status request
    w.Feed(AppendDeviceCrc(HexBytes("0A 01 01 00")));
    w.Timer1Timer();  // status step
    w.Timer1Timer();  // values request
    const QStringList before = Column(w.StringGrid1);
    w.Feed(answer);
    if (!tail.isEmpty())
        w.Feed(tail);
    w.Timer1Timer();  // values step on the other answer
    return {before, Column(w.StringGrid1)};
}

}  // namespace

class TestAnswerTail : public QObject {
    Q_OBJECT

private slots:
    void shortAnswerWithStrayBytes_data();
    void shortAnswerWithStrayBytes();
    void relativeSumKeepsItsText();
};

void TestAnswerTail::shortAnswerWithStrayBytes_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<int>("changedRows");  // leading rows the answer itself may rewrite

    const QByteArray status = AppendDeviceCrc(HexBytes("0A 01 01 17"));
    const QByteArray echo = AppendDeviceCrc(HexBytes("0A 05 00 02 FF 00"));
    const QByteArray stray = HexBytes("39 23 5E 11 22 33 44 55 66 77 88 99 AA BB CC");
    QTest::newRow("TPU imitation, status, no tail") << "imitation" << status << QByteArray() << 0;
    QTest::newRow("TPU imitation, status, one stray byte") << "imitation" << status << stray.left(1) << 0;
    QTest::newRow("TPU imitation, status, three stray bytes") << "imitation" << status << stray.left(3) << 0;
    // The echo's bytes 3..6 are within it: the first row shows them, no other row changes.
    QTest::newRow("TPR by TPR, echo, no tail") << "tpr" << echo << QByteArray() << 1;
    QTest::newRow("TPR by TPR, echo, stray bytes") << "tpr" << echo << stray << 1;
}

void TestAnswerTail::shortAnswerWithStrayBytes()
{
    QFETCH(QString, window);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, tail);
    QFETCH(int, changedRows);

    QStringList before, after;
    const TValueRow *rows = nullptr;
    if (window == "imitation") {
        std::tie(before, after) =
            ValuesStepOn<TfmImitation_TPU>(AppendDeviceCrc(HexBytes("0A 04 04 12 34 00 01")), answer, tail);
        rows = Imitation_TPU::Rows;
    } else {
        QByteArray values = HexBytes("0A 04 18");
        for (int i = 0; i < 6; ++i)
            values += HexBytes("00 00 41 20");  // 10.0 word-swapped, 2703360 as a count
        std::tie(before, after) = ValuesStepOn<TfmTPR_TPR>(AppendDeviceCrc(values), answer, tail);
        rows = TPR_TPR::Rows;
    }
    QCOMPARE(after.size(), before.size());
    QVERIFY(!before[0].isEmpty());
    for (int r = changedRows; r < before.size(); ++r)
        QCOMPARE(after[r], before[r]);
    for (int r = 0; r < changedRows; ++r)
        QCOMPARE(after[r], ValueRowText(reinterpret_cast<const uint8_t *>(answer.constData()), rows[r]));
}

void TestAnswerTail::relativeSumKeepsItsText()
{
    QByteArray values = HexBytes("0A 04 50");
    for (int i = 0; i < 20; ++i)
        values += HexBytes("00 00 41 20");
    const QByteArray status = AppendDeviceCrc(HexBytes("0A 01 01 00"));
    const auto [before, after] = ValuesStepOn<TfmTPR_TPU>(AppendDeviceCrc(values), status, HexBytes("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D"),
                                                          [](TfmTPR_TPU &w) { w.SelectTPU(1); });
    QCOMPARE(after, before);
}

QTEST_MAIN(TestAnswerTail)
#include "tst_answertail.moc"
