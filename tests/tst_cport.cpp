// The serial port component on real pseudo-terminals: settings on the line, exclusive use,
// delivery of received bytes to the user-interface thread, and closing under every kind of
// pressure (input streaming in, close from inside a hand-over, the other end vanishing).

#include "CPort.h"
#include "Globals.h"
#include "MessageBoxCloser.h"
#include "PtyPair.h"
#include "Receive.h"
#include "WaitFor.h"
#include "modbus.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// Runs the event loop for ms milliseconds (waiting, not spinning).
void RunEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Counts the event thread's hand-overs as they reach the port; the device end vanishes
// just before the first one is handled.
struct HandOverWatch : QObject {
    PtyPair *Pty = nullptr;
    int Seen = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MetaCall && ++Seen == 1)
            Pty->CloseMaster();
        return false;
    }
};

int QueuedOn(int fd)
{
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// Collects what arrives through OnRxChar, reading exactly the reported count.
struct Receiver {
    QByteArray bytes;
    QList<int> counts;
    bool offThread = false;
    int shortReads = 0;

    void Attach(TCustomComPort &port)
    {
        port.OnRxChar = [this, &port](QObject *sender, int count) {
            if (QThread::currentThread() != qApp->thread() || sender != &port)
                offThread = true;
            counts << count;
            QByteArray buf(count, '\0');
            const int n = port.Read(buf.data(), count);
            if (n != count)
                ++shortReads;
            bytes += buf.left(n);
        };
    }
};


// Whether this kernel's pseudo-terminals keep data bits and parity as set.
bool PtyKeepsFraming()
{
    PtyPair probe;
    if (!probe.IsOpen() || !probe.HoldSlave())
        return false;
    termios tio{};
    tcgetattr(probe.SlaveFd(), &tio);
    tio.c_cflag = (tio.c_cflag & ~CSIZE) | CS7 | PARENB;
    tcsetattr(probe.SlaveFd(), TCSANOW, &tio);
    tcgetattr(probe.SlaveFd(), &tio);
    return (tio.c_cflag & CSIZE) == CS7 && (tio.c_cflag & PARENB);
}

}  // namespace

class TestCPort : public QObject {
    Q_OBJECT

private slots:
    void errorTexts_data();
    void errorTexts();
    void lineSettings_data();
    void lineSettings();
    void unsupportedSpeedLeavesPortClosed();
    void openAndCloseAreIdempotent();
    void openOfMissingDeviceFails();
    void secondOpenOfHeldPortFails();
    void exclusiveAgainstOrdinaryUser();
    void settingPort();
    void writeAndRead();
    void closedPortRefusesWriteAndRead();
    void rxCharOnUserInterfaceThreadWithCount();
    void handlerExceptionGoesToErrorReport();
    void hangUpAfterBytesPostedIsNoError();
    void closeUnderStreamingInput();
    void closeAndReopenInsideHandOver_data();
    void closeAndReopenInsideHandOver();
    void destroyWhileHandOverPending_data();
    void destroyWhileHandOverPending();
    void noSpin_data();
    void noSpin();
    void collectReadsQueuedBytesInPieces_data();
    void collectReadsQueuedBytesInPieces();
};

void TestCPort::errorTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("winCode");
    QTest::addColumn<QString>("text");
    QTest::newRow("open, errno") << EComPort::OpenFailed << 16 << "Unable to open com port (win error code: 16)";
    QTest::newRow("purge, no system code") << EComPort::PurgeFailed << -1 << "PurgeComm function failed";
    QTest::newRow("queue count, errno") << EComPort::StatusFailed << 5 << "ClearCommError function failed (win error code: 5)";
    QTest::newRow("time-outs") << EComPort::SetTimeoutsFailed << -1 << "SetCommTimeouts failed";
    QTest::newRow("port list") << EComPort::RegistryFailed << 2 << "Registry error (win error code: 2)";
    QTest::newRow("system code 0 is shown") << EComPort::WriteFailed << 0 << "WriteFile function failed (win error code: 0)";
    QTest::newRow("unknown code") << 24 << -1 << "";
}

void TestCPort::errorTexts()
{
    QFETCH(int, code);
    QFETCH(int, winCode);
    QFETCH(QString, text);
    const EComPort e(code, winCode);
    QCOMPARE(e.Code, code);
    QCOMPARE(e.WinCode, winCode);
    QCOMPARE(e.Message(), text);
    QCOMPARE(QString::fromStdString(e.what()), text);
}

void TestCPort::lineSettings_data()
{
    QTest::addColumn<bool>("programPort");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<bool>("xonXoff");
    QTest::addColumn<speed_t>("speed");
    QTest::addColumn<tcflag_t>("size");
    QTest::addColumn<bool>("twoStop");
    QTest::addColumn<tcflag_t>("parityFlags");

    QTest::newRow("program's port: 9600 8N2")
        << true << int(br9600) << int(dbEight) << int(sbTwoStopBits) << int(prNone) << false
        << speed_t(B9600) << tcflag_t(CS8) << true << tcflag_t(0);
    QTest::newRow("component defaults: 9600 8N1")
        << false << int(br9600) << int(dbEight) << int(sbOneStopBit) << int(prNone) << false
        << speed_t(B9600) << tcflag_t(CS8) << false << tcflag_t(0);
    QTest::newRow("19200 7E1 with xon/xoff")
        << false << int(br19200) << int(dbSeven) << int(sbOneStopBit) << int(prEven) << true
        << speed_t(B19200) << tcflag_t(CS7) << false << tcflag_t(PARENB);
    QTest::newRow("115200 5O1.5")
        << false << int(br115200) << int(dbFive) << int(sbOne5StopBits) << int(prOdd) << false
        << speed_t(B115200) << tcflag_t(CS5) << true << tcflag_t(PARENB | PARODD);
    QTest::newRow("2400 6 space 2")
        << false << int(br2400) << int(dbSix) << int(sbTwoStopBits) << int(prSpace) << false
        << speed_t(B2400) << tcflag_t(CS6) << true << tcflag_t(PARENB | CMSPAR);
}

void TestCPort::lineSettings()
{
    QFETCH(bool, programPort);
    QFETCH(int, baud);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(int, parity);
    QFETCH(bool, xonXoff);
    QFETCH(speed_t, speed);
    QFETCH(tcflag_t, size);
    QFETCH(bool, twoStop);
    QFETCH(tcflag_t, parityFlags);

    PtyPair pty;
    QVERIFY(pty.IsOpen());
    QVERIFY(pty.HoldSlave());
    // Start from cooked settings, so that anything left untouched shows.
    termios cooked{};
    QCOMPARE(tcgetattr(pty.SlaveFd(), &cooked), 0);
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    cooked.c_iflag |= ICRNL | IXON;
    cooked.c_oflag |= OPOST;
    cooked.c_cflag |= CRTSCTS;
    QCOMPARE(tcsetattr(pty.SlaveFd(), TCSANOW, &cooked), 0);

    std::unique_ptr<TCustomComPort> port(programPort ? new TComPort : new TCustomComPort);
    if (!programPort) {
        port->BaudRate = TBaudRate(baud);
        port->DataBits = TDataBits(dataBits);
        port->StopBits = TStopBits(stopBits);
        port->Parity.Bits = TParityBits(parity);
        port->FlowControl.XonXoffIn = port->FlowControl.XonXoffOut = xonXoff;
    }
    port->SetPort(pty.SlavePath());
    port->Open();

    termios tio{};
    QCOMPARE(tcgetattr(pty.SlaveFd(), &tio), 0);
    QCOMPARE(cfgetospeed(&tio), speed);
    QCOMPARE(cfgetispeed(&tio), speed);
    QCOMPARE(bool(tio.c_cflag & CSTOPB), twoStop);
    // Newer kernels keep a pty at 8 data bits without parity whatever is asked; check the
    // framing only where the pty keeps it.
    if (PtyKeepsFraming()) {
        QCOMPARE(tio.c_cflag & CSIZE, size);
        QCOMPARE(tio.c_cflag & (PARENB | PARODD | CMSPAR), parityFlags);
    } else {
        QCOMPARE(tio.c_cflag & PARODD, parityFlags & PARODD);
    }
    QCOMPARE(tio.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    QCOMPARE(tio.c_cflag & CRTSCTS, tcflag_t(0));
    QCOMPARE(bool(tio.c_iflag & IXON), xonXoff);
    QCOMPARE(bool(tio.c_iflag & IXOFF), xonXoff);
    QCOMPARE(tio.c_iflag & ICRNL, tcflag_t(0));
    QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    QCOMPARE(int(tio.c_cc[VMIN]), 0);
    QCOMPARE(int(tio.c_cc[VTIME]), 0);
    QCOMPARE(int(tio.c_cc[VSTART]), 17);
    QCOMPARE(int(tio.c_cc[VSTOP]), 19);
    port->Close();
}

void TestCPort::unsupportedSpeedLeavesPortClosed()
{
    PtyPair pty;
    QVERIFY(pty.IsOpen());
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.BaudRate = br14400;  // no such termios speed
    try {
        port.Open();
        QFAIL("opened with a speed the system does not have");
    } catch (const EComPort &e) {
        QCOMPARE(e.Code, EComPort::SetStateFailed);
        QCOMPARE(e.WinCode, EINVAL);
    }
    QVERIFY(!port.Connected());
    // Nothing of the failed open is left holding the device.
    TComPort other;
    other.SetPort(pty.SlavePath());
    other.Open();
    QVERIFY(other.Connected());
}

void TestCPort::openAndCloseAreIdempotent()
{
    PtyPair pty;
    QVERIFY(pty.IsOpen());
    TComPort port;
    QCOMPARE(port.Port(), QStringLiteral("ttyS0"));
    QVERIFY(!port.Connected());
    port.Close();  // not open: nothing happens
    QVERIFY(!port.Connected());

    port.SetPort(pty.SlavePath());
    port.Open();
    QVERIFY(port.Connected());
    port.Open();  // already open: no second descriptor that would collide with the first
    QVERIFY(port.Connected());
    port.Close();
    QVERIFY(!port.Connected());
    port.Close();
    QVERIFY(!port.Connected());
    port.Open();
    QVERIFY(port.Connected());
}

void TestCPort::openOfMissingDeviceFails()
{
    TComPort port;
    port.SetPort(QStringLiteral("ttyNoSuchPort77"));  // relative to /dev
    try {
        port.Open();
        QFAIL("opened a device that does not exist");
    } catch (const EComPort &e) {
        QCOMPARE(e.Code, EComPort::OpenFailed);
        QCOMPARE(e.WinCode, ENOENT);
    }
    QVERIFY(!port.Connected());
}

void TestCPort::secondOpenOfHeldPortFails()
{
    PtyPair pty;
    QVERIFY(pty.IsOpen());
    TComPort first;
    TComPort second;
    first.SetPort(pty.SlavePath());
    second.SetPort(pty.SlavePath());
    first.Open();
    try {
        second.Open();
        QFAIL("a port held by another opener was opened again");
    } catch (const EComPort &e) {
        QCOMPARE(e.Code, EComPort::OpenFailed);
        // root passes the tty's exclusive flag but not the lock; others stop at the flag
        QVERIFY2(e.WinCode == EWOULDBLOCK || e.WinCode == EBUSY, qPrintable(QString::number(e.WinCode)));
    }
    QVERIFY(!second.Connected());
    QVERIFY(first.Connected());
    // The failed open did not take the holder's exclusive use away: a third try fails too.
    QVERIFY_THROWS_EXCEPTION(EComPort, second.Open());

    first.Close();
    second.Open();
    QVERIFY(second.Connected());
}

void TestCPort::exclusiveAgainstOrdinaryUser()
{
    if (geteuid() != 0)
        QSKIP("needs root to hand the pty to another user");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        QSKIP("setpriv is missing");
    const passwd *nobody = getpwnam("nobody");
    QVERIFY(nobody);

    PtyPair pty;
    QVERIFY(pty.IsOpen());
    // A stand-in holds the slave too, so the tty lives on when the port closes.
    QVERIFY(pty.HoldSlave());
    QCOMPARE(chown(pty.SlavePath().toLocal8Bit().constData(), nobody->pw_uid, nobody->pw_gid), 0);

    // The errno of an ordinary user's open of the pty (0 when it opens).
    auto tryAsNobody = [&]() -> int {
        QProcess child;
        child.start(setpriv, {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                              QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                              QStringLiteral("--try-open"), pty.SlavePath()});
        if (!child.waitForFinished(30000))
            return -100;
        bool ok = false;
        const int err = child.readAllStandardOutput().trimmed().toInt(&ok);
        return ok ? err : -200;
    };

    QCOMPARE(tryAsNobody(), 0);  // the user may open the pty at all

    TComPort port;
    port.SetPort(pty.SlavePath());
    port.Open();
    QCOMPARE(tryAsNobody(), EBUSY);

    port.Close();
    QCOMPARE(tryAsNobody(), 0);  // the exclusive flag went with the port
}

void TestCPort::settingPort()
{
    PtyPair a;
    PtyPair b;
    QVERIFY(a.IsOpen() && b.IsOpen());
    QVERIFY(a.HoldSlave());

    TComPort port;
    port.SetPort(a.SlavePath());
    port.Open();
    // Bytes that nobody reads stay queued; a reopen would discard them.
    QVERIFY(a.WriteMaster("\x0a\x03\x02"));
    QVERIFY(WaitFor([&] { return QueuedOn(a.SlaveFd()) == 3; }));

    port.SetPort(a.SlavePath());
    QVERIFY(port.Connected());
    char buf[8];
    QCOMPARE(port.Read(buf, sizeof buf), 3);

    port.SetPort(b.SlavePath());
    QCOMPARE(port.Port(), b.SlavePath());
    QVERIFY(port.Connected());
    // The first pty is free again, the second is held.
    TComPort other;
    other.SetPort(a.SlavePath());
    other.Open();
    other.Close();
    other.SetPort(b.SlavePath());
    QVERIFY_THROWS_EXCEPTION(EComPort, other.Open());

    // A name that cannot be opened: stored, the error passes on, the port stays closed.
    try {
        port.SetPort(QStringLiteral("/nonexistent/ttyX"));
        QFAIL("reopen under a missing name succeeded");
    } catch (const EComPort &e) {
        QCOMPARE(e.Code, EComPort::OpenFailed);
    }
    QCOMPARE(port.Port(), QStringLiteral("/nonexistent/ttyX"));
    QVERIFY(!port.Connected());

    // Setting the name of a closed port does not open it.
    port.SetPort(b.SlavePath());
    QVERIFY(!port.Connected());
}

void TestCPort::writeAndRead()
{
    PtyPair pty;
    QVERIFY(pty.IsOpen());
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.Open();

    const QByteArray request = QByteArray::fromHex("0a0300000026c4a7");
    QCOMPARE(port.Write(request.constData(), int(request.size())), 8);
    QCOMPARE(pty.ReadMaster(8, 2000), request);

    // A large write goes out whole even when it overflows the queue on the way.
    QByteArray big(20000, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7);
    QByteArray echoed;
    std::thread reader([&] { echoed = pty.ReadMaster(int(big.size()), 20000); });
    const int written = port.Write(big.constData(), int(big.size()));
    reader.join();
    QCOMPARE(written, int(big.size()));
    QCOMPARE(echoed, big);

    char buf[16];
    QCOMPARE(port.Read(buf, sizeof buf), 0);  // nothing queued: at once, no wait
    QVERIFY(pty.WriteMaster("\x01\x02"));
    QVERIFY(WaitFor([&] { return port.Read(buf, sizeof buf) == 2; }));
    QCOMPARE(port.Write(buf, 0), 0);
}

void TestCPort::closedPortRefusesWriteAndRead()
{
    TComPort port;
    char buf[4] = {};
    try {
        port.Write(buf, 4);
        QFAIL("wrote to a closed port");
    } catch (const EComPort &e) {
        QCOMPARE(e.Code, EComPort::WriteFailed);
    }
    try {
        port.Read(buf, 4);
        QFAIL("read from a closed port");
    } catch (const EComPort &e) {
        QCOMPARE(e.Code, EComPort::ReadFailed);
    }
}

void TestCPort::rxCharOnUserInterfaceThreadWithCount()
{
    PtyPair pty;
    QVERIFY(pty.IsOpen());
    TComPort port;
    Receiver rx;
    rx.Attach(port);
    port.SetPort(pty.SlavePath());
    port.Open();

    QByteArray sent;
    for (int chunk : {1, 8, 81, 300}) {
        QByteArray bytes(chunk, '\0');
        for (int i = 0; i < chunk; ++i)
            bytes[i] = char(sent.size() + i);
        sent += bytes;
        QVERIFY(pty.WriteMaster(bytes));
        QVERIFY(WaitFor([&] { return rx.bytes.size() == sent.size(); }));
    }
    QCOMPARE(rx.bytes, sent);
    QVERIFY(!rx.offThread);
    QCOMPARE(rx.shortReads, 0);
    for (int count : rx.counts)
        QVERIFY(count > 0);
}

void TestCPort::handlerExceptionGoesToErrorReport()
{
    PtyPair pty;
    QVERIFY(pty.IsOpen());
    TComPort port;
    int calls = 0;
    port.OnRxChar = [&](QObject *, int count) {
        QByteArray buf(count, '\0');
        port.Read(buf.data(), count);
        if (++calls == 1)
            throw EComPort(EComPort::ReadFailed, EIO);
    };
    port.SetPort(pty.SlavePath());
    port.Open();

    NextMessageBoxCloser box;
    QVERIFY(pty.WriteMaster("\x01"));
    QVERIFY(WaitFor([&] { return !box.Text.isEmpty(); }));
    QCOMPARE(box.Text, QStringLiteral("ReadFile function failed (win error code: 5)"));
    // The port goes on delivering after the report.
    QVERIFY(pty.WriteMaster("\x02"));
    QVERIFY(WaitFor([&] { return calls == 2; }));
}

void TestCPort::hangUpAfterBytesPostedIsNoError()
{
    PtyPair pty;
    QVERIFY(pty.IsOpen());
    HandOverWatch watch;
    watch.Pty = &pty;
    TComPort port;
    int calls = 0;
    port.OnRxChar = [&](QObject *, int) { ++calls; };
    port.SetPort(pty.SlavePath());
    port.Open();
    port.installEventFilter(&watch);
    MessageBoxCollector boxes;

    // The device's bytes arrive and their event is posted; the device vanishes as the event
    // reaches the port, so the count fails. That is the hang-up, not an error of its own.
    // The hang-up's own event comes next, once the first has been handled.
    QVERIFY(pty.WriteMaster("\x0a\x03"));
    QVERIFY(WaitFor([&] { return watch.Seen >= 2; }));
    QCOMPARE(boxes.Texts, QStringList{});
    QCOMPARE(calls, 0);
}

void TestCPort::closeUnderStreamingInput()
{
    PtyPair pty;
    QVERIFY(pty.IsOpen());
    QVERIFY(pty.HoldSlave());  // as a stand-in does: the master never sees a hang-up

    std::atomic<bool> stop{false};
    std::thread writer([&] {
        const QByteArray chunk(16, '\x55');
        while (!stop.load())
            pty.WriteMaster(chunk, 50);
    });

    TComPort port;
    int received = 0;
    port.OnRxChar = [&](QObject *, int count) {
        char buf[256];
        received += port.Read(buf, qMin(count, int(sizeof buf)));
    };
    port.SetPort(pty.SlavePath());

    QElapsedTimer total;
    total.start();
    int delivered = 0;
    for (int i = 0; i < 300; ++i) {
        port.Open();
        received = 0;
        if (WaitFor([&] { return received > 0; }, 2000))
            ++delivered;
        port.Close();
        QVERIFY(!port.Connected());
    }
    stop = true;
    writer.join();
    QVERIFY2(total.elapsed() < 120000, qPrintable(QString::number(total.elapsed())));
    qInfo("300 open/receive/close cycles under streaming input: %lld ms", qint64(total.elapsed()));
    QVERIFY2(delivered > 250, qPrintable(QString::number(delivered)));
    // Dispatches that were pending at a close run later as no-ops.
    RunEventLoop(50);
}

void TestCPort::closeAndReopenInsideHandOver_data()
{
    QTest::addColumn<bool>("nestedLoop");
    QTest::newRow("directly in the handler") << false;
    QTest::newRow("from a timer in a nested event loop") << true;
}

void TestCPort::closeAndReopenInsideHandOver()
{
    QFETCH(bool, nestedLoop);
    PtyPair pty;
    QVERIFY(pty.IsOpen());
    QVERIFY(pty.HoldSlave());

    TComPort port;
    port.SetPort(pty.SlavePath());
    QByteArray got;
    bool reopened = false;
    port.OnRxChar = [&](QObject *, int count) {
        QByteArray buf(count, '\0');
        got += buf.left(port.Read(buf.data(), count));
        if (reopened)
            return;
        reopened = true;
        auto closeAndOpen = [&] {
            port.Close();
            QVERIFY(!port.Connected());
            port.Open();
            QVERIFY(port.Connected());
        };
        if (!nestedLoop) {
            closeAndOpen();
            return;
        }
        // As a message box shown by a handler would: a nested loop in which a timer acts.
        QEventLoop loop;
        QTimer::singleShot(10, &loop, [&] {
            closeAndOpen();
            QTimer::singleShot(50, &loop, &QEventLoop::quit);
        });
        loop.exec();
    };
    port.Open();

    QVERIFY(pty.WriteMaster("A"));
    QVERIFY(WaitFor([&] { return reopened && got == "A"; }));
    // The new event thread reports what arrives after the reopen.
    QVERIFY(pty.WriteMaster("BCD"));
    QVERIFY(WaitFor([&] { return got == "ABCD"; }));
    QVERIFY(port.Connected());
    port.Close();
}

void TestCPort::destroyWhileHandOverPending_data()
{
    QTest::addColumn<bool>("insideHandler");
    QTest::newRow("before the dispatch runs") << false;
    QTest::newRow("from inside the handler") << true;
}

void TestCPort::destroyWhileHandOverPending()
{
    QFETCH(bool, insideHandler);
    PtyPair pty;
    QVERIFY(pty.IsOpen());
    QVERIFY(pty.HoldSlave());

    for (int i = 0; i < 20; ++i) {
        auto *port = new TComPort;
        port->SetPort(pty.SlavePath());
        bool destroyed = false;
        QObject::connect(port, &QObject::destroyed, [&] { destroyed = true; });
        if (insideHandler)
            port->OnRxChar = [port](QObject *, int) { delete port; };
        port->Open();
        QVERIFY(pty.WriteMaster("\x0a\x03\x4c"));
        if (insideHandler) {
            QVERIFY(WaitFor([&] { return destroyed; }));
        } else {
            // Give the event thread time to post its dispatch, but do not run it.
            QThread::msleep(30);
            delete port;
        }
        RunEventLoop(20);  // whatever was still posted for the port is dropped
        QVERIFY(destroyed);
    }
}

void TestCPort::noSpin_data()
{
    QTest::addColumn<bool>("hangUp");
    QTest::newRow("other end hung up") << true;
    QTest::newRow("bytes left unread") << false;
}

void TestCPort::noSpin()
{
    QFETCH(bool, hangUp);
    PtyPair pty;
    QVERIFY(pty.IsOpen());

    TComPort port;
    int calls = 0;
    port.OnRxChar = [&](QObject *, int) { ++calls; };  // reads nothing
    port.SetPort(pty.SlavePath());
    port.Open();
    QVERIFY(pty.WriteMaster("\x01\x02\x03"));
    QVERIFY(WaitFor([&] { return calls > 0; }));
    if (hangUp)
        pty.CloseMaster();

    RunEventLoop(200);
    const double before = ProcessCpuSeconds();
    RunEventLoop(1000);
    const double used = ProcessCpuSeconds() - before;
    QVERIFY2(used < 0.1, qPrintable(QStringLiteral("%1 s of CPU in 1 s").arg(used)));
    qInfo("CPU over 1 s afterwards: %.4f s", used);
    QVERIFY(calls <= 2);

    if (hangUp) {
        char buf[4] = {1, 2, 3, 4};
        QVERIFY_THROWS_EXCEPTION(EComPort, port.Write(buf, 4));
        try {
            port.Close();  // the purge of a vanished device may fail; the port is closed first
        } catch (const EComPort &e) {
            QCOMPARE(e.Code, EComPort::PurgeFailed);
        }
        QVERIFY(!port.Connected());
        port.Close();  // nothing left to fail
    } else {
        char buf[8];
        QCOMPARE(port.Read(buf, sizeof buf), 3);
        port.Close();
    }
}

void TestCPort::collectReadsQueuedBytesInPieces_data()
{
    QTest::addColumn<int>("queued");
    QTest::addColumn<int>("announced");
    QTest::addColumn<int>("collected");
    // The answer buffer holds 124 bytes; what comes beyond it is counted and dropped.
    QTest::newRow("three pieces") << 300 << 300 << 300;
    QTest::newRow("one whole piece") << 124 << 124 << 124;
    QTest::newRow("a piece and a byte") << 125 << 125 << 125;
    QTest::newRow("fewer queued than announced") << 100 << 300 << 100;
    QTest::newRow("more queued than announced") << 300 << 200 << 200;
}

// One call takes every announced byte that is queued, piece after piece, and leaves the rest.
void TestCPort::collectReadsQueuedBytesInPieces()
{
    QFETCH(int, queued);
    QFETCH(int, announced);
    QFETCH(int, collected);
    PtyPair pty;
    QVERIFY(pty.IsOpen());
    QVERIFY(pty.HoldSlave());
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.Open();
    QByteArray sent(queued, '\0');
    for (int i = 0; i < sent.size(); ++i)
        sent[i] = char(i);
    QVERIFY(pty.WriteMaster(sent));
    QVERIFY(WaitFor([&] { return QueuedOn(pty.SlaveFd()) == queued; }));
    ClearReceiveBuffer();
    CollectReceivedBytes(port, announced);
    const int left = QueuedOn(pty.SlaveFd());
    port.Close();
    QCOMPARE(ReceiveLength, collected);
    QCOMPARE(left, queued - collected);
    const int kept = std::min(collected, ReceiveBufferSize);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(ReceiveBuffer), kept), sent.left(kept));
}

// As a helper process: "--try-open PATH" prints the errno of opening PATH as another
// program would (0 when it opens) and exits.
int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--try-open") == 0) {
        const int fd = ::open(argv[2], O_RDWR | O_NOCTTY | O_NONBLOCK);
        std::printf("%d\n", fd < 0 ? errno : 0);
        if (fd >= 0)
            ::close(fd);
        return 0;
    }
    QApplication app(argc, argv);
    TestCPort test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cport.moc"
