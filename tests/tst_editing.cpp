// Editing from the main window with the real input dialogs: the pop-up item opens the
// leaf's dialog, an accepted value lands in the record, the root gets its asterisk and
// the grid shows the new value; a cancelled dialog changes nothing.

#include "Globals.h"
#include "MainForm.h"
#include "ResetGlobals.h"
#include "dialog_driver.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QTableWidget>
#include <QTreeWidget>
#include <QtTest>

#include <cmath>

class TestEditing : public QObject {
    Q_OBJECT

    TForm1 *form = nullptr;

    void RightClickLeaf(int index)
    {
        QTreeWidgetItem *node = form->NodeAt(index);
        node->parent()->setExpanded(true);
        form->TreeView1->scrollToItem(node);
        QTest::mouseClick(form->TreeView1->viewport(), Qt::RightButton, {},
                          form->TreeView1->visualItemRect(node).center());
        QCoreApplication::processEvents();
        QVERIFY(form->PopupMenu1->isVisible());
        form->PopupMenu1->hide();
    }
    QString GridValue() { return form->StringGrid1->item(0, 1)->text(); }

private slots:
    void init()
    {
        ResetGlobals();
        form = new TForm1;
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        form->NodeAt(0)->setText(0, QStringLiteral("Карвен-12Т"));  // as after a read
    }
    void cleanup()
    {
        delete form;
        form = nullptr;
    }

    void choiceAcceptedStoresPositionAndMarksRoot_data()
    {
        QTest::addColumn<int>("held");
        QTest::newRow("new value") << 0;
        QTest::newRow("value already held") << 1;
    }
    void choiceAcceptedStoresPositionAndMarksRoot()
    {
        QFETCH(int, held);
        DeviceConfig.Tpu1DetectorCount = uint8_t(held);
        RightClickLeaf(2);
        driver::WhenModal([](QWidget *dialog) {
            auto *box = dialog->findChild<QComboBox *>();
            QCOMPARE(box->currentIndex(), 0);  // opens on its first item
            box->setCurrentIndex(1);           // "4 детектора"
            QVERIFY(driver::Click(dialog, QStringLiteral("ОК")));
        });
        form->N13->trigger();
        QCOMPARE(DeviceConfig.Tpu1DetectorCount, uint8_t(1));
        QCOMPARE(form->NodeAt(0)->text(0), QStringLiteral("Карвен-12Т*"));
        QCOMPARE(form->StringGrid1->rowCount(), 1);
        QCOMPARE(GridValue(), QStringLiteral(" 4 детектора"));
    }

    void cancelledDialogChangesNothing()
    {
        DeviceConfig.GenICurrent1 = 500;
        RightClickLeaf(40);
        const QString shown = GridValue();
        driver::WhenModal([](QWidget *dialog) {
            dialog->findChild<QLineEdit *>()->setText(QStringLiteral("777"));
            QVERIFY(driver::Click(dialog, QStringLiteral("Отмена")));
        });
        form->N13->trigger();
        QCOMPARE(DeviceConfig.GenICurrent1, uint16_t(500));
        QCOMPARE(form->NodeAt(0)->text(0), QStringLiteral("Карвен-12Т"));
        QCOMPARE(GridValue(), shown);
    }

    void numberDialogClampsAndConverts()
    {
        RightClickLeaf(40);  // current 1: 10 to 24000
        driver::WhenModal([](QWidget *dialog) {
            auto *edit = dialog->findChild<QLineEdit *>();
            edit->setFocus();
            edit->selectAll();
            QTest::keyClicks(edit, QStringLiteral("30000"));
            QVERIFY(driver::Click(dialog, QStringLiteral("ОК")));
        });
        form->N13->trigger();
        QCOMPARE(DeviceConfig.GenICurrent1, uint16_t(24000));
        QCOMPARE(GridValue(), QStringLiteral(" 24000"));
        QCOMPARE(form->NodeAt(0)->text(0), QStringLiteral("Карвен-12Т*"));

        RightClickLeaf(7);  // K-factor: 2 decimals, 1 to 99999.99
        driver::WhenModal([](QWidget *dialog) {
            auto *edit = dialog->findChild<QLineEdit *>();
            edit->setFocus();
            edit->selectAll();
            QTest::keyClicks(edit, QStringLiteral("12.34"));
            QVERIFY(driver::Click(dialog, QStringLiteral("ОК")));
        });
        form->N13->trigger();
        QCOMPARE(DeviceConfig.Tpu1KFactor2, 12.34f);
    }
};

QTEST_MAIN(TestEditing)
#include "tst_editing.moc"
