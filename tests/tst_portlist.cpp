// The list of serial ports built from a fake sysfs and /dev tree, and the port selector that
// shows it.

#include "CPortCtl.h"
#include "MainForm.h"
#include "PortInfo.h"
#include "PortMessages.h"
#include "Causes.h"
#include "MessageBoxCloser.h"
#include "PtyPair.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

namespace {

bool WriteFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// A fake system: sysfs ttys with and without devices and UART types, symlinks in dev and in
// the user's runtime directory to a live pty, to a regular file and to a vanished pty.
class FakeTree {
public:
    FakeTree()
    {
        struct Tty {
            const char *name;
            bool device;
            const char *type;  // nullptr: no type file
        };
        const Tty ttys[] = {
            {"ttyS0", true, "4\n"},    // a 16550A
            {"ttyS2", true, "4\n"},
            {"ttyS3", true, "0\n"},    // a placeholder of the driver: no UART behind it
            {"ttyS10", true, "4\n"},
            {"ttymxc0", true, nullptr},
            {"tty0", false, nullptr},  // virtual console
            {"console", false, nullptr},
        };
        for (const Tty &t : ttys) {
            const QString dir = Sys() + QStringLiteral("/class/tty/") + QLatin1String(t.name);
            QDir().mkpath(dir);
            WriteFile(dir + QStringLiteral("/dev"), "4:64\n");
            if (t.device) {
                QDir().mkpath(dir + QStringLiteral("/device"));
                QFile::link(Sys() + QStringLiteral("/bus/platform/drivers/serial8250"), dir + QStringLiteral("/device/driver"));
            }
            if (t.type)
                WriteFile(dir + QStringLiteral("/type"), t.type);
        }
        QDir().mkpath(Dev());
        QDir().mkpath(User());
        WriteFile(root_.filePath(QStringLiteral("plain")), "not a tty");
        QFile::link(pty_.SlavePath(), Dev() + QStringLiteral("/ttyV0"));
        QFile::link(root_.filePath(QStringLiteral("plain")), Dev() + QStringLiteral("/ttyFile"));
        QFile::link(QStringLiteral("/dev/pts/999999"), Dev() + QStringLiteral("/ttyGone"));
        WriteFile(Dev() + QStringLiteral("/ttyS7"), "");  // a plain node name, no link
        QFile::link(pty_.SlavePath(), User() + QStringLiteral("/ttyKarven"));
        QFile::link(root_.filePath(QStringLiteral("plain")), User() + QStringLiteral("/notes"));
        QDir().mkpath(Sys() + QStringLiteral("/bus/platform/drivers/serial8250"));
        PlugUsb("ttyUSB0", "1-2", "Acme Devices", "RS485 Cable", "ftdi_sio");
        PlugUsb("ttyACM0", "1-3", nullptr, nullptr, "cdc_acm");
    }

    // A USB adapter in the way the kernel shows one: the USB device (ids, maker, product)
    // above its interface, the tty's device link into it, the node and its by-id link.
    // A maker of nullptr leaves the names out, as some adapters do.
    void PlugUsb(const char *tty, const char *bus, const char *maker, const char *product, const char *driver)
    {
        const QString name = QLatin1String(tty);
        const QString usb = Sys() + QStringLiteral("/devices/usb1/") + QLatin1String(bus);
        const QString port = usb + QLatin1Char('/') + QLatin1String(bus) + QStringLiteral(":1.0/") + name;
        const QString drivers = Sys() + QStringLiteral("/bus/usb/drivers/") + QLatin1String(driver);
        QDir().mkpath(port);
        QDir().mkpath(drivers);
        QFile::link(drivers, port + QStringLiteral("/driver"));
        WriteFile(usb + QStringLiteral("/idVendor"), "1a2b\n");
        WriteFile(usb + QStringLiteral("/idProduct"), "3c4d\n");
        if (maker) {
            WriteFile(usb + QStringLiteral("/manufacturer"), QByteArray(maker) + '\n');
            WriteFile(usb + QStringLiteral("/product"), QByteArray(product) + '\n');
        }
        const QString dir = Sys() + QStringLiteral("/class/tty/") + name;
        QDir().mkpath(dir);
        QFile::link(port, dir + QStringLiteral("/device"));
        WriteFile(Dev() + QLatin1Char('/') + name, "");
        QDir().mkpath(Dev() + QStringLiteral("/serial/by-id"));
        QFile::link(QStringLiteral("../../") + name, ById(name));
    }

    void Unplug(const QString &tty)
    {
        QDir(Sys() + QStringLiteral("/class/tty/") + tty).removeRecursively();
        QFile::remove(Dev() + QLatin1Char('/') + tty);
        QFile::remove(ById(tty));
    }

    QString ById(const QString &tty) const { return Dev() + QStringLiteral("/serial/by-id/usb-") + tty + QStringLiteral("-if00"); }

    // Makes every port selector fill its list from this tree.
    void PointSelectorHere() const
    {
        TComComboBox::ListSysRoot = Sys();
        TComComboBox::ListDevRoot = Dev();
        TComComboBox::ListUserRoot = User();
    }
    QString Sys() const { return root_.filePath(QStringLiteral("sys")); }
    QString Dev() const { return root_.filePath(QStringLiteral("dev")); }
    QString User() const { return root_.filePath(QStringLiteral("run")); }

    // The live pty the tree's links lead to; whether it could be had.
    const PtyPair &Pty() const { return pty_; }
    bool Ready() const { return pty_.IsOpen(); }

private:
    PtyPair pty_;
    QTemporaryDir root_;
};

// Has the selector show the ports for com, filled from the tree.
void FillSelector(const FakeTree &tree, TComComboBox &combo, TComPort &com)
{
    tree.PointSelectorHere();
    combo.SetComPort(&com);
    combo.SetComProperty(cpPort);
}


}  // namespace

class TestPortList : public QObject {
    Q_OBJECT

private slots:
    void listFromFakeTree();
    void listWithoutUserDirectory();
    void unreadableTreeFails_data();
    void unreadableTreeFails();
    void systemList();
    void describePort_data();
    void describePort();
    void selectorShowsPortEntry_data();
    void selectorShowsPortEntry();
    void selectorChoiceSetsPort();
    void selectorChoiceOnOpenPort();
    void selectorFillsOnce();
    void selectorFollowsHardware();
    void mainWindowRemembersPort();
};

void TestPortList::listFromFakeTree()
{
    FakeTree tree;
    QVERIFY(tree.Ready());
    QStringList list{QStringLiteral("stale entry")};
    ListSerialPorts(list, tree.Sys(), tree.Dev(), tree.User());
    // Case-insensitive and not numeric: ttymxc0 before ttyS0, ttyS10 before ttyS2; the
    // user's links come as full paths.
    const QStringList expected{
        tree.User() + QStringLiteral("/ttyKarven"),
        QStringLiteral("ttyACM0"),
        QStringLiteral("ttymxc0"),
        QStringLiteral("ttyS0"),
        QStringLiteral("ttyS10"),
        QStringLiteral("ttyS2"),
        QStringLiteral("ttyUSB0"),
        QStringLiteral("ttyV0"),
    };
    QCOMPARE(list, expected);
}

void TestPortList::listWithoutUserDirectory()
{
    FakeTree tree;
    QVERIFY(tree.Ready());
    QStringList list;
    ListSerialPorts(list, tree.Sys(), tree.Dev(), tree.User() + QStringLiteral("/missing"));
    QVERIFY(list.contains(QStringLiteral("ttyV0")));
    QCOMPARE(list.filter(QStringLiteral("/")).size(), 0);
    ListSerialPorts(list, tree.Sys(), tree.Dev(), QString());
    QCOMPARE(list.size(), 7);
}

void TestPortList::unreadableTreeFails_data()
{
    QTest::addColumn<QString>("sysRelative");
    QTest::addColumn<int>("winCode");
    QTest::newRow("no sysfs at all") << QStringLiteral("nothing-here") << ENOENT;
    QTest::newRow("sysfs without tty class") << QStringLiteral("run") << ENOENT;
    QTest::newRow("sysfs is a file") << QStringLiteral("plain") << ENOTDIR;
}

void TestPortList::unreadableTreeFails()
{
    QFETCH(QString, sysRelative);
    QFETCH(int, winCode);
    FakeTree tree;
    QVERIFY(tree.Ready());
    const QString sys = QFileInfo(tree.Sys()).absolutePath() + QLatin1Char('/') + sysRelative;
    QStringList list;
    try {
        ListSerialPorts(list, sys, tree.Dev(), tree.User());
        QFAIL("a list from a tree that cannot be read");
    } catch (const EComPort &e) {
        QCOMPARE(e.Code, EComPort::RegistryFailed);
        QCOMPARE(e.WinCode, winCode);
        QCOMPARE(e.Message(), QStringLiteral("Registry error (win error code: %1)").arg(winCode));
    }
}

void TestPortList::systemList()
{
    if (!QFileInfo(QStringLiteral("/sys/class/tty")).isDir())
        QSKIP("no sysfs here");
    QStringList list;
    ListSerialPorts(list);
    // Every entry names a device that exists: by name under /dev, or by full path.
    for (const QString &name : list) {
        const QString path = name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        qInfo("%s: %s", qPrintable(name), qPrintable(PortDescriptionText(DescribePort(name))));
    }
    qInfo("serial ports here: %s", qPrintable(list.join(QStringLiteral(", "))));
}

void TestPortList::describePort_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("english");  // the companion's listing
    const QString byId = QStringLiteral("/serial/by-id/usb-ttyUSB0-if00");
    QTest::newRow("usb adapter") << QStringLiteral("ttyUSB0") << int(TPortKind::UsbAdapter)
        << QStringLiteral("USB-адаптер Acme Devices RS485 Cable, драйвер ftdi_sio, <dev>") + byId
        << QStringLiteral("USB adapter Acme Devices RS485 Cable, driver ftdi_sio, <dev>") + byId;
    QTest::newRow("usb without names") << QStringLiteral("ttyACM0") << int(TPortKind::UsbAdapter)
        << QStringLiteral("USB-адаптер VID 1a2b PID 3c4d, драйвер cdc_acm, <dev>/serial/by-id/usb-ttyACM0-if00")
        << QStringLiteral("USB adapter VID 1a2b PID 3c4d, driver cdc_acm, <dev>/serial/by-id/usb-ttyACM0-if00");
    QTest::newRow("board uart") << QStringLiteral("ttyS0") << int(TPortKind::BoardUart)
        << QStringLiteral("Последовательный порт на системной плате")
        << QStringLiteral("serial port of the computer's main board");
    QTest::newRow("virtual by path") << QStringLiteral("<run>/ttyKarven") << int(TPortKind::Virtual)
        << QStringLiteral("Виртуальный порт, ведёт к <pty>") << QStringLiteral("virtual port, leads to <pty>");
    QTest::newRow("not a port") << QStringLiteral("tty0") << int(TPortKind::Unknown)
        << QStringLiteral("Последовательный порт") << QStringLiteral("serial port");
}

void TestPortList::describePort()
{
    QFETCH(QString, name);
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(QString, english);
    FakeTree tree;
    QVERIFY(tree.Ready());
    auto place = [&](QString s) {
        return s.replace(QStringLiteral("<dev>"), tree.Dev()).replace(QStringLiteral("<run>"), tree.User())
            .replace(QStringLiteral("<pty>"), tree.Pty().SlavePath());
    };
    const TPortDescription d = DescribePort(place(name), tree.Sys(), tree.Dev());
    QCOMPARE(int(d.Kind), kind);
    QCOMPARE(PortDescriptionText(d), place(text));
    QCOMPARE(PortListingText(d), place(english));
}

void TestPortList::selectorShowsPortEntry_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("shown");
    QTest::newRow("start value") << QStringLiteral("ttyS0") << QStringLiteral("ttyS0");
    QTest::newRow("other case") << QStringLiteral("TTYUSB0") << QStringLiteral("ttyUSB0");
    QTest::newRow("not listed") << QStringLiteral("ttyS3") << QString();
    QTest::newRow("prefix only") << QStringLiteral("ttyS1") << QString();
}

void TestPortList::selectorShowsPortEntry()
{
    QFETCH(QString, port);
    QFETCH(QString, shown);
    FakeTree tree;
    QVERIFY(tree.Ready());
    tree.PointSelectorHere();

    TComPort com;
    com.SetPort(port);
    TComComboBox combo;
    combo.SetComPort(&com);
    int changes = 0;
    connect(&combo, &QComboBox::currentIndexChanged, [&] { ++changes; });
    combo.SetComProperty(cpPort);

    QVERIFY(!combo.isEditable());
    QCOMPARE(combo.count(), 8);
    QCOMPARE(com.Port(), port);  // filling chose nothing
    QCOMPARE(combo.currentText(), shown);
    QCOMPARE(combo.currentIndex() == -1, shown.isEmpty());
    QCOMPARE(changes, 0);
}

void TestPortList::selectorChoiceSetsPort()
{
    FakeTree tree;
    QVERIFY(tree.Ready());

    TComPort com;
    TComComboBox combo;
    FillSelector(tree, combo, com);

    // Selecting by program is no choice of the user.
    combo.setCurrentIndex(combo.findText(QStringLiteral("ttyACM0")));
    QCOMPARE(com.Port(), QStringLiteral("ttyS0"));

    const int usb = combo.findText(QStringLiteral("ttyUSB0"));
    QVERIFY(usb >= 0);
    emit combo.activated(usb);
    QCOMPARE(com.Port(), QStringLiteral("ttyUSB0"));
    QVERIFY(!com.Connected());  // a closed port stays closed

    combo.AutoApply = false;
    emit combo.activated(combo.findText(QStringLiteral("ttyS2")));
    QCOMPARE(com.Port(), QStringLiteral("ttyUSB0"));
}

void TestPortList::selectorChoiceOnOpenPort()
{
    FakeTree tree;
    PtyPair other;
    QVERIFY(tree.Ready() && other.IsOpen());

    TComPort com;
    com.SetPort(other.SlavePath());
    com.Open();
    TComComboBox combo;
    FillSelector(tree, combo, com);
    QCOMPARE(combo.currentIndex(), -1);

    // An open port reopens under the chosen name.
    const QString userLink = tree.User() + QStringLiteral("/ttyKarven");
    emit combo.activated(combo.findText(userLink));
    QCOMPARE(com.Port(), userLink);
    QVERIFY(com.Connected());
    TComPort probe;
    probe.SetPort(other.SlavePath());
    probe.Open();  // the old port was released
    probe.Close();

    // A reopen that fails goes to the error report; the name is kept, the port is closed.
    NextMessageBoxCloser box;
    emit combo.activated(combo.findText(QStringLiteral("ttymxc0")));
    QCOMPARE(box.Text, QStringLiteral("Unable to open com port (win error code: %1)").arg(ENOENT));
    QCOMPARE(com.Port(), QStringLiteral("ttymxc0"));
    QVERIFY(!com.Connected());
}

void TestPortList::selectorFillsOnce()
{
    FakeTree tree;
    QVERIFY(tree.Ready());

    TComPort com;
    TComComboBox combo;
    FillSelector(tree, combo, com);
    QCOMPARE(combo.count(), 8);
    combo.SetComProperty(cpPort);
    QCOMPARE(combo.count(), 8);

    // A tree that cannot be read fails the fill with EComPort::RegistryFailed.
    TComComboBox::ListSysRoot = tree.Sys() + QStringLiteral("/missing");
    TComComboBox fresh;
    fresh.SetComPort(&com);
    QVERIFY_THROWS_EXCEPTION(EComPort, fresh.SetComProperty(cpPort));
    QCOMPARE(fresh.count(), 0);
}

void TestPortList::selectorFollowsHardware()
{
    FakeTree tree;
    QVERIFY(tree.Ready());

    TComPort com;
    com.SetPort(QStringLiteral("ttyUSB0"));
    TComComboBox combo;
    FillSelector(tree, combo, com);
    QCOMPARE(combo.currentText(), QStringLiteral("ttyUSB0"));
    QCOMPARE(combo.toolTip(), PortDescriptionText(DescribePort(QStringLiteral("ttyUSB0"), tree.Sys(), tree.Dev())));

    // Pulled out, and another adapter plugged in: the next opening shows the change, the
    // chosen port stays chosen though no entry shows it.
    tree.Unplug(QStringLiteral("ttyUSB0"));
    tree.PlugUsb("ttyUSB1", "1-4", "Other Maker", "Dongle", "pl2303");
    combo.showPopup();
    combo.hidePopup();
    QCOMPARE(combo.findText(QStringLiteral("ttyUSB0")), -1);
    const int plugged = combo.findText(QStringLiteral("ttyUSB1"));
    QVERIFY(plugged >= 0);
    QCOMPARE(combo.itemData(plugged, Qt::ToolTipRole).toString(),
             QStringLiteral("USB-адаптер Other Maker Dongle, драйвер pl2303, ") + tree.ById(QStringLiteral("ttyUSB1")));
    QCOMPARE(combo.currentIndex(), -1);
    QCOMPARE(com.Port(), QStringLiteral("ttyUSB0"));

    // Back again: its entry is selected once more.
    tree.PlugUsb("ttyUSB0", "1-2", "Acme Devices", "RS485 Cable", "ftdi_sio");
    combo.showPopup();
    combo.hidePopup();
    QCOMPARE(combo.currentText(), QStringLiteral("ttyUSB0"));
    QCOMPARE(combo.count(), 9);
    QCOMPARE(com.Port(), QStringLiteral("ttyUSB0"));
}

// The port chosen in one run is the next run's; one that is gone by then leaves the start
// port, without a word. (The settings are the test mode's own.)
void TestPortList::mainWindowRemembersPort()
{
    FakeTree tree;
    QVERIFY(tree.Ready());
    tree.PointSelectorHere();
    ProgramSettings().clear();
    const auto startPort = [] { return TForm1().ComPort1->Port(); };
    const QString first = startPort();
    QCOMPARE(first, TComPort().Port());  // a first start shows the start port

    {
        TForm1 form;
        emit form.ComComboBox1->activated(form.ComComboBox1->findText(QStringLiteral("ttyUSB0")));
        QCOMPARE(form.ComPort1->Port(), QStringLiteral("ttyUSB0"));
    }
    TForm1 again;
    QCOMPARE(again.ComPort1->Port(), QStringLiteral("ttyUSB0"));
    QCOMPARE(again.ComComboBox1->currentText(), QStringLiteral("ttyUSB0"));

    tree.Unplug(QStringLiteral("ttyUSB0"));
    NextMessageBoxCloser box;
    QCOMPARE(startPort(), first);
    QVERIFY(box.Text.isEmpty());
}

QTEST_MAIN(TestPortList)

#include "tst_portlist.moc"
