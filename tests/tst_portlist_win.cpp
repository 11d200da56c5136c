// The port list on Windows (Wine): a computer without any serial port has no list of ports in
// the registry at all, or an empty one, and the program starts all the same; adapters plugged
// in and pulled out while the main window is open show in its port selector at once.

#include "CPort.h"
#include "CPortCtl.h"
#include "MainForm.h"
#include "ModeTestRig.h"
#include "SimOnCom9.h"

#include <QtTest>

#include <windows.h>
#undef SetPort  // the printing API's, not the port's

namespace {

const wchar_t SerialComm[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Takes the registry's list of ports away, as on a computer that never had a serial port
// (or leaves it empty, as after the last adapter was pulled out), and puts it back as it
// was when it goes.
class PortListAway {
public:
    explicit PortListAway(bool keepEmptyKey)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SerialComm, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            wchar_t name[256], data[257];
            for (DWORD i = 0, nameLength = 256, bytes = 512;
                 RegEnumValueW(key, i, name, &nameLength, nullptr, nullptr, reinterpret_cast<BYTE *>(data), &bytes)
                 == ERROR_SUCCESS;
                 ++i, nameLength = 256, bytes = 512)
                saved_ << qMakePair(QString::fromWCharArray(name, int(nameLength)),
                                    QString::fromWCharArray(data, int(bytes / 2)).section(QChar(0), 0, 0));
            RegCloseKey(key);
        }
        Ok = RemoveKey() && (!keepEmptyKey || RegCreateKeyExW(HKEY_LOCAL_MACHINE, SerialComm, 0, nullptr,
                                                              REG_OPTION_VOLATILE, KEY_WRITE, nullptr, &key,
                                                              nullptr) == ERROR_SUCCESS);
        if (Ok && keepEmptyKey)
            RegCloseKey(key);
    }
    ~PortListAway()
    {
        RemoveKey();
        for (const auto &value : saved_)
            AddSerialPortValue(value.first, value.second);
    }
    static bool RemoveKey()
    {
        const LONG rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, SerialComm);
        return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
    }
    bool Ok = false;

private:
    QList<QPair<QString, QString>> saved_;
};

QString Entries(const QComboBox &combo)
{
    QStringList entries;
    for (int i = 0; i < combo.count(); ++i)
        entries << combo.itemText(i);
    return entries.join(QLatin1Char(' '));
}

}  // namespace

class TestPortListWin : public QObject {
    Q_OBJECT

private slots:
    void noPortAtStartThenAdapters_data();
    void noPortAtStartThenAdapters();
};

void TestPortListWin::noPortAtStartThenAdapters_data()
{
    QTest::addColumn<bool>("keyMissing");
    QTest::newRow("no list of ports") << true;
    QTest::newRow("an empty list of ports") << false;
}

void TestPortListWin::noPortAtStartThenAdapters()
{
    QFETCH(bool, keyMissing);
    const PortListAway away(!keyMissing);
    QVERIFY(away.Ok);
    QStringList listed{QStringLiteral("COM1")};
    try {
        ListSerialPorts(listed);
    } catch (const EComPort &e) {
        QFAIL(e.what());
    }
    QCOMPARE(listed, QStringList{});

    TForm1 form;
    QVERIFY(form.CreatedOk());
    form.show();
    const TComComboBox &selector = *form.ComComboBox1;
    QCOMPARE(selector.count(), 0);
    form.ComPort1->SetPort(QStringLiteral("COM5"));
    // Plugged in while the program runs: the entry comes without the list being opened, and
    // it is the chosen port's. Another one plugged in, the first pulled out; then the last
    // one, and the list goes.
    QVERIFY(AddSerialPortValue(QStringLiteral("\\Device\\KarvenTest5"), QStringLiteral("COM5")));
    QVERIFY2(WaitFor([&] { return Entries(selector) == QLatin1String("COM5"); }, 5000), qPrintable(Entries(selector)));
    QCOMPARE(selector.currentText(), QStringLiteral("COM5"));
    QVERIFY(AddSerialPortValue(QStringLiteral("\\Device\\KarvenTest12"), QStringLiteral("COM12")));
    RemoveSerialPortValue(QStringLiteral("\\Device\\KarvenTest5"));
    QVERIFY2(WaitFor([&] { return Entries(selector) == QLatin1String("COM12"); }, 5000), qPrintable(Entries(selector)));
    QCOMPARE(selector.currentIndex(), -1);
    QCOMPARE(form.ComPort1->Port(), QStringLiteral("COM5"));
    // While the user has the list open its entries stay; they change once it closes.
    form.ComComboBox1->showPopup();
    QVERIFY(AddSerialPortValue(QStringLiteral("\\Device\\KarvenTest3"), QStringLiteral("COM3")));
    WaitFor([] { return false; }, 500);
    QCOMPARE(Entries(selector), QStringLiteral("COM12"));
    form.ComComboBox1->hidePopup();
    QVERIFY2(WaitFor([&] { return Entries(selector) == QLatin1String("COM12 COM3"); }, 5000), qPrintable(Entries(selector)));
    // A change under the same key that leaves the ports as they are (another device's), and
    // the list opened again: the entries stay as they were, not made anew.
    QSignalSpy removed(selector.model(), &QAbstractItemModel::rowsRemoved);
    QVERIFY(AddSerialPortValue(QStringLiteral("\\Device\\KarvenTest3"), QStringLiteral("COM3")));
    WaitFor([] { return false; }, 500);
    form.ComComboBox1->showPopup();
    form.ComComboBox1->hidePopup();
    QCOMPARE(removed.count(), 0);
    QVERIFY(PortListAway::RemoveKey());
    QVERIFY2(WaitFor([&] { return selector.count() == 0; }, 5000), qPrintable(Entries(selector)));
}

QTEST_MAIN(TestPortListWin)
#include "tst_portlist_win.moc"
