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

// The registry's list of ports as it was, put back when the test ends.
class SavedPortList {
public:
    SavedPortList()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SerialComm, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD nameLength = 256;
            wchar_t data[257] = {};
            DWORD bytes = sizeof data - sizeof(wchar_t);
            if (RegEnumValueW(key, i, name, &nameLength, nullptr, nullptr, reinterpret_cast<BYTE *>(data), &bytes)
                != ERROR_SUCCESS)
                break;
            values_ << qMakePair(QString::fromWCharArray(name, int(nameLength)), QString::fromWCharArray(data));
        }
        RegCloseKey(key);
    }
    ~SavedPortList()
    {
        RemoveKey();
        for (const auto &value : values_)
            AddSerialPortValue(value.first, value.second);
    }

    // No list at all, as on a computer that never had a serial port.
    static bool RemoveKey()
    {
        const LONG rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, SerialComm);
        return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
    }
    // An empty list, as after the last adapter was pulled out.
    static bool MakeEmptyKey()
    {
        if (!RemoveKey())
            return false;
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, SerialComm, 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE, nullptr,
                            &key, nullptr) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

private:
    QList<QPair<QString, QString>> values_;
};

QStringList Entries(const QComboBox &combo)
{
    QStringList entries;
    for (int i = 0; i < combo.count(); ++i)
        entries << combo.itemText(i);
    return entries;
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
    const SavedPortList saved;
    QVERIFY(keyMissing ? SavedPortList::RemoveKey() : SavedPortList::MakeEmptyKey());

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
    TComComboBox &selector = *form.ComComboBox1;
    QCOMPARE(selector.count(), 0);
    form.ComPort1->SetPort(QStringLiteral("COM5"));

    // Plugged in while the program runs: the entry comes without the list being opened, and
    // it is the chosen port's.
    QVERIFY(AddSerialPortValue(QStringLiteral("\\Device\\KarvenTest5"), QStringLiteral("COM5")));
    QVERIFY2(WaitFor([&] { return Entries(selector) == QStringList{"COM5"}; }, 5000),
             qPrintable(Entries(selector).join(QLatin1Char(' '))));
    QCOMPARE(selector.currentText(), QStringLiteral("COM5"));

    // Another one plugged in, the first pulled out; then the last one, and the list goes.
    QVERIFY(AddSerialPortValue(QStringLiteral("\\Device\\KarvenTest12"), QStringLiteral("COM12")));
    RemoveSerialPortValue(QStringLiteral("\\Device\\KarvenTest5"));
    QVERIFY2(WaitFor([&] { return Entries(selector) == QStringList{"COM12"}; }, 5000),
             qPrintable(Entries(selector).join(QLatin1Char(' '))));
    QCOMPARE(selector.currentIndex(), -1);
    QCOMPARE(form.ComPort1->Port(), QStringLiteral("COM5"));
    RemoveSerialPortValue(QStringLiteral("\\Device\\KarvenTest12"));
    QVERIFY(SavedPortList::RemoveKey());
    QVERIFY2(WaitFor([&] { return selector.count() == 0; }, 5000), qPrintable(Entries(selector).join(QLatin1Char(' '))));
}

QTEST_MAIN(TestPortListWin)
#include "tst_portlist_win.moc"
