// The main window reads and writes the configuration over a pty against the device
// simulator at 9600 baud; its message boxes are the real ones, answered by the test.
#include "CauseText.h"
#include "ConfigFileCommands.h"
#include "CPort.h"
#include "Globals.h"
#include "MainForm.h"
#include "RegisterMap.h"
#include "ResetGlobals.h"
#include "SimFixture.h"
#include "ValueText.h"
#include "modbus.h"
#include "PortInfo.h"
#include "WaitFor.h"

#include <QAbstractButton>
#include <QAction>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>
#include <csignal>

#include <memory>

namespace {

// Answers every message box that comes up with OK and keeps its text.
class BoxAnswerer {
public:
    BoxAnswerer()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                if (box->isVisible() && box != last_) {
                    last_ = box;
                    Texts << box->text();
                    box->button(QMessageBox::Ok)->click();
                }
            }
        });
        timer_.start(20);
    }
    QStringList Texts;

private:
    QTimer timer_;
    QPointer<QMessageBox> last_;
};

QByteArray Bytes(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), int(v.size()));
}

QStringList GridTexts(const QTableWidget *grid)
{
    QStringList out;
    for (int r = 0; r < grid->rowCount(); ++r)
        for (int c = 0; c < grid->columnCount(); ++c)
            out << (grid->item(r, c) ? grid->item(r, c)->text() : QString());
    return out;
}

}  // namespace

class TestConfigE2E : public QObject {
    Q_OBJECT

    SimFixture sim_;
    QString link_;
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<BoxAnswerer> boxes_;

    QString RootText() const { return form_->NodeAt(0)->text(0); }
    bool Idle() const
    {
        return !ExchangeUnderWay() && !form_->TimerReadCfgInPribor->isActive() && !form_->TimerWaitAnswer->isActive();
    }

private slots:
    void init()
    {
        ResetGlobals();
        QVERIFY(sim_.Start());
        link_ = sim_.Link();
        form_ = std::make_unique<TForm1>();
        form_->ComPort1->SetPort(link_);
        form_->show();
        boxes_ = std::make_unique<BoxAnswerer>();
    }
    void cleanup()
    {
        boxes_.reset();
        form_.reset();
        sim_.Discard();
        ResetGlobals();
    }

    void readListsEveryParameter_data();
    void readListsEveryParameter();
    void writeAfterEdit();
    void failedReadKeepsHandEdit();
    void failures_data();
    void failures();
    void readThroughNetworkBridge();
};

void TestConfigE2E::readListsEveryParameter_data()
{
    QTest::addColumn<int>("fault");
    QTest::newRow("answers in one piece") << int(sim::Fault::None);
    QTest::newRow("answers split over several receive events") << int(sim::Fault::Split);
}

void TestConfigE2E::readListsEveryParameter()
{
    QFETCH(int, fault);
    sim_->QueueFault(sim::Fault(fault), 2);
    sim_->WithModel([](sim::SimModel &m) {
        m.SetHoldingFloat(5, 12.75f);
        m.SetHoldingU32(41, 123456);
        m.SetHolding(52, 3);
        return 0;
    });
    form_->TreeView1->setCurrentItem(form_->NodeAt(5));
    QCOMPARE(RootText(), QStringLiteral("Карвен-12Т*"));

    form_->N6->trigger();
    QVERIFY(WaitFor([&] { return RootText() == QStringLiteral("Карвен-12Т") && Idle(); }, 5000));

    const auto requests = sim_.Requests();
    QCOMPARE(int(requests.size()), 2);
    QCOMPARE(Bytes(requests[0]), QByteArray::fromHex("0A03000000266BC5"));
    QCOMPARE(Bytes(requests[1]), QByteArray::fromHex("0A030026000F7EE5"));
    QCOMPARE(PackConfigRegisters(), sim_.ConfigRegisters());
    QCOMPARE(DeviceConfig.Tpu1KFactor2, 12.75f);
    QCOMPARE(DeviceConfig.GenTPeriod, 123456u);

    // The grid lists every group and parameter of the tree with the values just read.
    QCOMPARE(form_->StringGrid1->rowCount(), TForm1::NodeCount - 1);
    for (int i = 1; i < TForm1::NodeCount; ++i) {
        QTreeWidgetItem *node = form_->NodeAt(i);
        QCOMPARE(form_->StringGrid1->item(i - 1, 0)->text(), node->text(0));
        const QString value = node->childCount() ? QString() : QLatin1Char(' ') + NodeValueText(i);
        QCOMPARE(form_->StringGrid1->item(i - 1, 1)->text(), value);
    }
    QCOMPARE(form_->StringGrid1->item(36, 1)->text(), QStringLiteral(" 123456"));  // "Значение периода (T), мкс"
    QCOMPARE(form_->TreeView1->currentItem(), form_->NodeAt(5));  // the selection stays
    QVERIFY(boxes_->Texts.isEmpty());
}

void TestConfigE2E::writeAfterEdit()
{
    for (int r = 0; r < ConfigRegisterCount; ++r)
        sim_->SetHolding(r, 0xFFFF);
    // An edit through the tree's pop-up stores a value and marks the root.
    form_->EditParameterFn = [](QWidget *, int index) {
        if (index != 21)
            return false;
        DeviceConfig.PackCount = 4242;
        DeviceConfig.GenIScale2 = 2;
        return true;
    };
    form_->N6->trigger();
    QVERIFY(WaitFor([&] { return RootText() == QStringLiteral("Карвен-12Т") && Idle(); }, 5000));
    EditedNodeIndex = 21;
    form_->N13Click();
    QCOMPARE(RootText(), QStringLiteral("Карвен-12Т*"));
    const QStringList grid = GridTexts(form_->StringGrid1);

    sim_->ClearLog();
    form_->N8->trigger();
    QVERIFY(WaitFor([&] { return !boxes_->Texts.isEmpty() && Idle(); }, 5000));
    QCOMPARE(boxes_->Texts, QStringList{QStringLiteral("Загрузка конфигурации произведена успешно!")});
    QCOMPARE(RootText(), QStringLiteral("Карвен-12Т"));
    QCOMPARE(ExchangeState, ExchangeIdle);
    QCOMPARE(GridTexts(form_->StringGrid1), grid);  // a write leaves the grid alone

    QCOMPARE(int(sim_.Requests().size()), 1);
    QCOMPARE(sim_.Requests()[0].size(), size_t(115));
    QCOMPARE(sim_.ConfigRegisters(), PackConfigRegisters());
    QCOMPARE(sim_->WithModel([](sim::SimModel &m) { return m.HoldingU32(22); }), 4242u);
    for (const ConfigField &f : ConfigFields())
        if (f.Kind() == FieldKind::Code)
            QVERIFY2(sim_->Holding(f.FirstRegister) >> 8 == 0, f.Name);
}

// The value the grid shows after a read that failed at its second block is the one the
// write sends, not the first block's half-read value.
void TestConfigE2E::failedReadKeepsHandEdit()
{
    sim_->WithModel([](sim::SimModel &m) { return m.SetHoldingU32(22, 1000), 0; });
    form_->N6->trigger();
    QVERIFY(WaitFor([&] { return RootText() == QStringLiteral("Карвен-12Т") && Idle(); }, 5000));
    const TConfigOrigin origin = form_->FileCommands().Origin();
    form_->EditParameterFn = [](QWidget *, int) { return DeviceConfig.PackCount = 4321, true; };
    EditedNodeIndex = 21;  // "Преднабор (N)"
    form_->N13Click();
    QCOMPARE(form_->StringGrid1->item(0, 1)->text(), QStringLiteral(" 4321"));

    sim_->QueueFault(sim::Fault::None);
    sim_->QueueFault(sim::Fault::NoReply);
    form_->N6->trigger();
    QVERIFY(WaitFor([&] { return boxes_->Texts.size() == 1 && Idle(); }, 5000));
    QCOMPARE(boxes_->Texts, QStringList{QStringLiteral("Нет связи!")});
    QCOMPARE(DeviceConfig.PackCount, 4321u);
    QCOMPARE(RootText(), QStringLiteral("Карвен-12Т*"));
    QVERIFY(form_->FileCommands().Unsaved());
    QCOMPARE(form_->FileCommands().Origin().ReadAt, origin.ReadAt);
    QVERIFY(form_->FileCommands().Origin().ChangedByHand);

    form_->N8->trigger();
    QVERIFY(WaitFor([&] { return boxes_->Texts.size() == 2 && Idle(); }, 5000));
    QCOMPARE(sim_->WithModel([](sim::SimModel &m) { return m.HoldingU32(22); }), 4321u);
}

void TestConfigE2E::failures_data()
{
    QTest::addColumn<QString>("command");  // "read" or "write"
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QStringList>("shown");  // texts of the boxes, "*" for any error text

    const QString noLink = QStringLiteral("Нет связи!");
    const QString busy = QStringLiteral("Порт занят! Выберите другой порт.");
    QTest::newRow("read: silent device") << "read" << "silent" << QStringList{noLink};
    QTest::newRow("read: bad CRC") << "read" << "crc" << QStringList{};
    QTest::newRow("read: port held by another program") << "read" << "busy" << QStringList{busy};
    QTest::newRow("read: block 2 silent") << "read" << "silent2" << QStringList{noLink};
    QTest::newRow("read: bad CRC at block 2") << "read" << "crc2" << QStringList{};
    QTest::newRow("read: port gone at block 2") << "read" << "gone2" << QStringList{"*", noLink};
    QTest::newRow("write: silent device") << "write" << "silent" << QStringList{noLink};
    QTest::newRow("write: bad CRC") << "write" << "crc" << QStringList{};
    QTest::newRow("write: port held by another program") << "write" << "program" << QStringList{busy};
}

void TestConfigE2E::failures()
{
    QFETCH(QString, command);
    QFETCH(QString, failure);
    QFETCH(QStringList, shown);

    DeviceConfig.Tpu1KFactor2 = 1.25f;
    DeviceConfig.GenFFrequency = 2.5f;
    const std::array<uint8_t, 106> old = PackConfigRegisters();
    form_->TreeView1->setCurrentItem(form_->NodeAt(1));
    const QStringList grid = GridTexts(form_->StringGrid1);
    QCOMPARE(RootText(), QStringLiteral("Карвен-12Т*"));

    int holder = -1;
    QProcess locker;  // another program that holds the port's lock
    if (failure == QLatin1String("silent"))
        sim_->QueueFault(sim::Fault::NoReply);
    else if (failure == QLatin1String("crc"))
        sim_->QueueFault(sim::Fault::BadCrc);
    else if (failure == QLatin1String("silent2") || failure == QLatin1String("crc2")) {
        sim_->QueueFault(sim::Fault::None);  // the second answer is the one that fails
        sim_->QueueFault(failure == QLatin1String("silent2") ? sim::Fault::NoReply : sim::Fault::BadCrc);
    } else if (failure == QLatin1String("gone2")) {
        const std::string link = link_.toStdString();
        sim_->SetLogListener([link](const sim::LogEntry &e) {
            if (e.Kind == sim::LogEntry::Request)
                ::unlink(link.c_str());
        });
    } else if (failure == QLatin1String("busy")) {
        holder = ::open(QFile::encodeName(link_).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(holder >= 0);
        QCOMPARE(flock(holder, LOCK_EX | LOCK_NB), 0);
    } else if (failure == QLatin1String("program")) {
        locker.setChildProcessModifier([] { ::setpgid(0, 0); });
        locker.start(QStringLiteral("flock"), {QStringLiteral("--exclusive"), link_, QStringLiteral("sleep"), QStringLiteral("60")});
        QVERIFY(WaitFor([&] {
            const int fd = ::open(QFile::encodeName(link_).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
            ::close(fd);
            return held;
        }, 5000));
    }

    (command == QLatin1String("read") ? form_->N6 : form_->N8)->trigger();
    QVERIFY(WaitFor([&] { return boxes_->Texts.size() >= shown.size() && Idle(); }, 5000));
    Spin(300);
    if (holder >= 0)
        ::close(holder);
    const qint64 lockerPid = locker.processId();
    if (lockerPid > 0) {  // flock and the command it runs under the lock
        ::kill(-pid_t(lockerPid), SIGKILL);
        locker.waitForFinished(5000);
    }

    QCOMPARE(boxes_->Texts.size(), shown.size());
    for (int i = 0; i < shown.size(); ++i) {
        if (shown[i] == QLatin1String("*"))
            QVERIFY(!boxes_->Texts[i].isEmpty() && !shown.contains(boxes_->Texts[i]));
        else if (failure == QLatin1String("busy"))  // held with flock by another descriptor
            QVERIFY2(SaysWithCause(boxes_->Texts[i], shown[i], TOpenFailure::Busy), qPrintable(boxes_->Texts[i]));
        else if (failure == QLatin1String("program"))  // which is named
            QCOMPARE(boxes_->Texts[i], shown[i] + QStringLiteral("\n\n")
                         + OpenFailureCause(EWOULDBLOCK, {QStringLiteral("flock (pid %1)").arg(lockerPid)}));
        else
            QCOMPARE(boxes_->Texts[i], shown[i]);
    }
    // Nothing of the failure reaches the record, the root or the grid, also when the
    // first block of a read came through.
    QCOMPARE(RootText(), QStringLiteral("Карвен-12Т*"));
    QCOMPARE(GridTexts(form_->StringGrid1), grid);
    QCOMPARE(PackConfigRegisters(), old);
    if (command == QLatin1String("write") && failure != QLatin1String("program"))
        QCOMPARE(int(sim_.Requests().size()), 1);
    // A failed write leaves the failure until the next command; a failed read ends idle.
    QCOMPARE(ExchangeState, command == QLatin1String("write") ? ExchangeFailed : ExchangeIdle);
    // A later selection of a node shows the values the program held before the read.
    form_->TreeView1->setCurrentItem(form_->NodeAt(7));
    QCOMPARE(form_->StringGrid1->item(0, 1)->text(), QLatin1Char(' ') + FormatReal(1.25f));
}


// A device behind a network serial server: the server serves the device's port on a TCP port,
// and socat on this machine turns that back into a pty link, which the port list shows as a
// virtual port and through which the configuration is read as from the device itself.
void TestConfigE2E::readThroughNetworkBridge()
{
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty())
        QSKIP("socat is missing");
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);  // socat says where it listens on stderr
    server.start(socat, {QStringLiteral("-d"), QStringLiteral("-d"), QStringLiteral("tcp-listen:0,bind=127.0.0.1"),
                         QStringLiteral("file:%1,raw,echo=0").arg(link_)});
    static const QRegularExpression listening(QStringLiteral("listening on .*127\\.0\\.0\\.1:([0-9]+)"));
    QString port;
    QVERIFY(WaitFor([&] {
        server.waitForReadyRead(10);
        port = listening.match(QString::fromLatin1(server.peek(4096))).captured(1);
        return !port.isEmpty();
    }, 5000));

    const QTemporaryDir userDir;
    const QString netLink = userDir.filePath(QStringLiteral("ttyNet"));
    QProcess client;
    client.start(socat, {QStringLiteral("pty,link=%1,raw,echo=0").arg(netLink),
                         QStringLiteral("tcp:127.0.0.1:") + port});
    QVERIFY(WaitFor([&] { return QFileInfo(netLink).exists(); }, 5000));

    QStringList ports;
    ListSerialPorts(ports, QStringLiteral("/sys"), QStringLiteral("/dev"), userDir.path());
    QVERIFY2(ports.contains(netLink), qPrintable(ports.join(QLatin1Char(' '))));
    const TPortDescription described = DescribePort(netLink);
    QCOMPARE(described.Kind, TPortKind::Virtual);
    QCOMPARE(described.Pty, QFileInfo(netLink).canonicalFilePath());

    form_->ComPort1->SetPort(netLink);
    form_->N6->trigger();
    QVERIFY(WaitFor([&] { return RootText() == QStringLiteral("Карвен-12Т") && Idle(); }, 8000));
    QCOMPARE(PackConfigRegisters(), sim_.ConfigRegisters());
    QCOMPARE(int(sim_.Requests().size()), 2);
    QVERIFY(boxes_->Texts.isEmpty());

    form_->ComPort1->Close();
    client.terminate();
    server.terminate();
    QVERIFY(client.waitForFinished(5000) && server.waitForFinished(5000));
}

QTEST_MAIN(TestConfigE2E)
#include "tst_config_e2e.moc"
