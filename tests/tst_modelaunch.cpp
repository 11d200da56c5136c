// The "Режим работы" menu: each item opens its own mode window modally on the main
// window's port, with the main port closed, and frees it after "Выход".

#include "MainForm.h"
#include "ModeWindow.h"
#include "PtyPair.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QTimer>
#include <QtTest>

class TestModeLaunch : public QObject {
    Q_OBJECT
private slots:
    void menuItemOpensItsWindow_data();
    void menuItemOpensItsWindow();
};

void TestModeLaunch::menuItemOpensItsWindow_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("caption");
    QTest::newRow("generator f") << "f1" << QStringLiteral("Генератор f");
    QTest::newRow("generator T") << "T1" << QStringLiteral("Генератор T");
    QTest::newRow("TC imitation") << "N5" << QStringLiteral("Имитация ТС");
    QTest::newRow("TPR by TPU1") << "N12" << QStringLiteral("ТПР по ТПУ1");
    QTest::newRow("TPR by TPU2") << "N22" << QStringLiteral("ТПР по ТПУ2");
    QTest::newRow("TPR by TPR") << "N3" << QStringLiteral("ТПР оп ТПР");
    QTest::newRow("frequency counter") << "N14" << QStringLiteral("Частотомер");
    QTest::newRow("pulse pack") << "N2" << QStringLiteral("Пачка импульсов");
    QTest::newRow("TQ") << "TQ1" << QStringLiteral("Режим TQ");
    QTest::newRow("TPU imitation") << "N4" << QStringLiteral("Имитация ТПУ");
}

void TestModeLaunch::menuItemOpensItsWindow()
{
    QFETCH(QString, action);
    QFETCH(QString, caption);

    PtyPair pty;
    QVERIFY(pty.IsOpen());
    QVERIFY(pty.HoldSlave());

    TForm1 form;
    form.ComPort1->SetPort(pty.SlavePath());
    form.ComPort1->Open();  // the main port is open before the mode starts

    QAction *item = form.findChild<QAction *>(action);
    QVERIFY(item);

    QString seenCaption, seenPort;
    bool mainPortClosed = false, polling = false;
    QPointer<TModeWindow> seenWindow;
    QTimer probe;
    probe.setInterval(20);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        auto *window = qobject_cast<TModeWindow *>(QApplication::activeModalWidget());
        if (!window)
            return;
        probe.stop();
        seenWindow = window;
        seenCaption = window->windowTitle();
        seenPort = window->ComPort1->Port();
        mainPortClosed = !form.ComPort1->Connected();
        polling = window->Timer1->isActive();
        window->Button2->click();
    });
    probe.start();
    item->trigger();  // returns when the modal window has closed

    QCOMPARE(seenCaption, caption);
    QCOMPARE(seenPort, pty.SlavePath());
    QVERIFY(mainPortClosed);
    QVERIFY(polling);
    QVERIFY(seenWindow.isNull());  // freed after it closed
    QVERIFY(!form.ComPort1->Connected());
}

QTEST_MAIN(TestModeLaunch)
#include "tst_modelaunch.moc"
