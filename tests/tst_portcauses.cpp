// What the system's errors say about a port, on each system: the cause each error is sorted
// into at the port's opening and while it is in use, which both programs put into words, and
// whether closing a port that met the error tells of it (not when its device has gone).

#include "PortInfo.h"
#include "SystemErrors.h"

#include <QtTest>

class TestPortCauses : public QObject {
    Q_OBJECT

private slots:
    void sortedOnce_data()
    {
        QTest::addColumn<int>("err");
        QTest::addColumn<int>("stage");
        QTest::addColumn<int>("cause");
        for (const TPortErrorSample &sample : PortErrorSamples())
            QTest::newRow(sample.What) << sample.Err << int(sample.Stage) << int(sample.Cause);
    }

    void sortedOnce()
    {
        QFETCH(int, err);
        QFETCH(int, stage);
        QFETCH(int, cause);
        QCOMPARE(int(ClassifyPortError(err, TPortStage(stage))), cause);
        if (TPortStage(stage) == TPortStage::InUse)
            QCOMPARE(DeviceGoneError(err), TPortCause(cause) == TPortCause::Gone);
    }
};

QTEST_GUILESS_MAIN(TestPortCauses)
#include "tst_portcauses.moc"
