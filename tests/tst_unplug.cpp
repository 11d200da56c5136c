// The device vanishing in the middle of an answer, and ports that cannot be opened: the
// main window's configuration read and the mode windows against the device stand-in over
// a pty. The program shows its time-out, busy-port or general-error report with one
// report on screen at a time, does not hang, does not spin a core while the line is dead,
// keeps no descriptor of the dead line once started again, and works again once the
// device is back and the command or window is started again. A port that cannot be opened
// is reported as a busy one, with the cause under it: gone, no permission.

#include "CauseText.h"
#include "CPort.h"
#include "ConfigExchange.h"
#include "Generator_f.h"
#include "Globals.h"
#include "MainForm.h"
#include "ModeTestRig.h"
#include "ModeWindow.h"
#include "PtyPair.h"
#include "ResetGlobals.h"
#include "SimFixture.h"
#include "pack_pulses.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

double CpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// Share of one core this process used while the events of the next ms milliseconds ran.
double CpuShareOver(int ms)
{
    const double before = CpuMs();
    QElapsedTimer wall;
    wall.start();
    WaitFor([] { return false; }, ms);
    return (CpuMs() - before) / double(wall.elapsed());
}

// Descriptors of this process open on path.
int DescriptorsOn(const QString &path)
{
    if (path.isEmpty())
        return 0;
    int n = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == path)
            ++n;
    return n;
}

// Message boxes as a person would meet them: each one is read, left on screen for a while
// (so that further reports have the chance to pile up behind it) and then answered.
class BoxWatcher {
public:
    explicit BoxWatcher(int holdMs = 500) : holdMs_(holdMs)
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
        timer_.start(20);
    }
    QStringList Texts;
    int MostAtOnce = 0;
    // No message box on screen (a mode window shown here is modal itself).
    static bool NoneOnScreen()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox *>(w) && w->isVisible())
                return false;
        return true;
    }

private:
    void Look()
    {
        int visible = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox *>(w) && w->isVisible())
                ++visible;
        MostAtOnce = std::max(MostAtOnce, visible);
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        if (box != current_) {
            current_ = box;
            Texts << box->text();
            qInfo("box %lld: %s (%d on screen)", qlonglong(Texts.size()), qPrintable(box->text()), visible);
            shown_.start();
        } else if (shown_.elapsed() >= holdMs_) {
            box->button(QMessageBox::Ok)->click();
        }
    }
    QTimer timer_;
    QPointer<QMessageBox> current_;
    QElapsedTimer shown_;
    int holdMs_;
};

// Pulls the plug once the answer now coming in has partly arrived: the stand-in sends
// the next reply in chunks with long pauses and vanishes after the first one.
bool HangUpInsideAnswer(sim::SimDevice &device, int minBytes, int timeoutMs)
{
    device.QueueFault(sim::Fault::Split, 1);
    const bool partial = WaitFor([&] { return ReceiveLength >= minBytes; }, timeoutMs);
    device.HangUpNow();
    return partial;
}

}  // namespace

class TestUnplug : public QObject {
    Q_OBJECT

    SimFixture sim_;
    QString link_;

    void StartDevice()
    {
        sim::SimOptions options;
        options.ReplugMs = -1;       // back only when the test plugs it in
        options.SplitChunks = 3;
        options.SplitPauseMs = 400;  // time to pull the plug between the chunks
        QVERIFY(sim_.Start(options));
        link_ = sim_.Link();
    }
    // Plugs the device back in and waits until its link is there again.
    void PlugBackIn()
    {
        sim_->PlugBackIn();
        QVERIFY(WaitFor([&] { return !sim_->SlavePath().empty() && QFileInfo::exists(link_); }, 5000));
    }

private slots:
    void init()
    {
        ResetGlobals();
        StartDevice();
    }
    void cleanup() { sim_.Discard(); }

    void configurationReadLosesTheDevice();
    void modeWindowLosesTheDevice();
    void portErrorsReportedOneAtATime();
    void portWithoutPermissionIsBusy();
};

void TestUnplug::configurationReadLosesTheDevice()
{
    TForm1 form;
    form.ComPort1->SetPort(link_);
    form.show();
    BoxWatcher boxes;
    const QString deadSlave = QString::fromStdString(sim_->SlavePath());

    form.N6->trigger();
    QVERIFY(HangUpInsideAnswer(sim_.Device(), 1, 5000));
    QVERIFY2(ReceiveLength < Block1AnswerLength, "the answer came whole before the plug was pulled");
    // A dead line must not keep a thread busy while the answer time-out runs.
    const double share = CpuShareOver(1000);
    QVERIFY2(share < 0.3, qPrintable(QStringLiteral("%1 % of a core").arg(share * 100)));
    QVERIFY(WaitFor([&] { return boxes.Texts.size() >= 1 && BoxWatcher::NoneOnScreen(); }, 5000));
    QCOMPARE(boxes.Texts, QStringList{QString::fromUtf8(NoLinkText)});
    QVERIFY(WaitFor([&] { return !form.TimerReadCfgInPribor->isActive() && ExchangeState == ExchangeIdle; }, 2000));
    QVERIFY(!form.TimerWaitAnswer->isActive());

    // The next read closes the port first: the dead line fails the purge, which tells
    // nothing of its own, and the port is released all the same. The open after it finds
    // no port, as every read does while the device is away: the busy-port message.
    for (int read = 2; read <= 3; ++read) {
        form.N6->trigger();
        QVERIFY(WaitFor([&] { return boxes.Texts.size() >= read && BoxWatcher::NoneOnScreen(); }, 5000));
        QVERIFY2(SaysWithCause(boxes.Texts.last(), QString::fromUtf8(PortBusyText), TOpenFailure::Gone),
                 qPrintable(boxes.Texts.join(QStringLiteral(" | "))));
        QVERIFY(!form.ComPort1->Connected());
        QCOMPARE(DescriptorsOn(deadSlave), 0);
    }
    QVERIFY(!form.TimerReadCfgInPribor->isActive() || ExchangeState == ExchangeFailed);

    PlugBackIn();
    form.NodeAt(0)->setText(0, QString::fromUtf8(RootTextModified));
    form.N6->trigger();
    QVERIFY(WaitFor(
        [&] { return form.NodeAt(0)->text(0) == QString::fromUtf8(RootTextSaved) && ExchangeState == ExchangeIdle; }, 5000));
    QCOMPARE(DeviceConfig.Tpu1DetectorCount, uint8_t(sim_->Holding(0)));
    QCOMPARE(boxes.Texts.size(), 3);
    QCOMPARE(boxes.MostAtOnce, 1);
}

void TestUnplug::modeWindowLosesTheDevice()
{
    BoxWatcher boxes;
    QString deadSlave;
    {
        TfmGenerator_f w;
        w.ComPort1->SetPort(link_);
        w.show();
        w.StartPolling();
        QVERIFY(WaitFor([&] { return w.lbRezim->text() == GeneratorStatusTexts.LabelOff; }, 5000));
        deadSlave = QString::fromStdString(sim_->SlavePath());

        QVERIFY(HangUpInsideAnswer(sim_.Device(), 1, 5000));
        const double share = CpuShareOver(1000);
        QVERIFY2(share < 0.3, qPrintable(QStringLiteral("%1 % of a core").arg(share * 100)));
        // After the time-out the next send closes the port first: the dead line fails the
        // purge, which tells nothing of its own, the port is released, and the open finds
        // the port gone: the busy-port warning, and polling stops.
        QVERIFY2(WaitFor([&] { return boxes.Texts.size() >= 1 && BoxWatcher::NoneOnScreen(); }, 8000),
                 qPrintable(boxes.Texts.join(" | ")));
        WaitFor([] { return false; }, 500);  // room for a report that must not come
        QCOMPARE(boxes.Texts.size(), 1);
        QVERIFY2(SaysWithCause(boxes.Texts[0], BusyPortText, TOpenFailure::Gone), qPrintable(boxes.Texts[0]));
        QVERIFY(!w.Timer1->isActive());
        QVERIFY(!w.TimerWaitAnswer->isActive());
        QVERIFY(!w.ComPort1->Connected());
        QCOMPARE(DescriptorsOn(deadSlave), 0);
        const double idle = CpuShareOver(1000);
        QVERIFY2(idle < 0.3, qPrintable(QStringLiteral("%1 % of a core").arg(idle * 100)));
        w.Button2->click();
    }
    PlugBackIn();

    // The window started again works.
    TfmGenerator_f again;
    again.ComPort1->SetPort(link_);
    again.show();
    again.StartPolling();
    QVERIFY(WaitFor([&] { return again.lbRezim->text() == GeneratorStatusTexts.LabelOff; }, 5000));
    again.Button1->click();
    QVERIFY(WaitFor([&] { return again.lbRezim->text() == GeneratorStatusTexts.LabelOn; }, 5000));
    QVERIFY(sim_->Coil(sim::CoilGeneratorF));
    QCOMPARE(boxes.Texts.size(), 1);
    QCOMPARE(boxes.MostAtOnce, 1);
}

void TestUnplug::portErrorsReportedOneAtATime()
{
    // The pulse pack window does not catch a failed open: each tick's failure goes to the
    // general error report while the timers run on, one report on screen at a time.
    BoxWatcher boxes(1200);
    {
        Tfmpack_pulses w;
        w.ComPort1->SetPort(link_);
        w.show();
        w.StartPolling();
        QVERIFY(WaitFor([&] { return w.lbRezim->text() == ModeStatusTexts.LabelOff; }, 5000));

        QVERIFY(HangUpInsideAnswer(sim_.Device(), 1, 5000));
        QVERIFY(WaitFor([&] { return boxes.Texts.size() >= 2; }, 10000));
        const double share = CpuShareOver(1000);
        QVERIFY2(share < 0.3, qPrintable(QStringLiteral("%1 % of a core").arg(share * 100)));
        QCOMPARE(boxes.MostAtOnce, 1);
        QVERIFY(w.Timer1->isActive());

        // The device comes back while the window still polls: it picks up by itself.
        PlugBackIn();
        QVERIFY(WaitFor([&] { return BoxWatcher::NoneOnScreen(); }, 5000));
        const int reportsSoFar = int(boxes.Texts.size());
        sim_->ClearLog();
        QVERIFY(WaitFor([&] {
            for (const sim::LogEntry &e : sim_->Log())
                if (e.Kind == sim::LogEntry::Reply && e.CrcGood)
                    return true;
            return false;
        }, 6000));
        w.Button1->click();
        QVERIFY(WaitFor([&] { return w.lbRezim->text() == ModeStatusTexts.LabelOn; }, 6000));
        QCOMPARE(int(boxes.Texts.size()), reportsSoFar);
        w.Button2->click();
    }
    for (const QString &text : boxes.Texts)
        QVERIFY2(!text.isEmpty() && !text.startsWith(BusyPortText), qPrintable(text));
    QCOMPARE(boxes.MostAtOnce, 1);
}

void TestUnplug::portWithoutPermissionIsBusy()
{
    if (geteuid() != 0)
        QSKIP("needs root to run the check as another user");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        QSKIP("setpriv is missing");
    QVERIFY(getpwnam("nobody"));

    PtyPair pty;
    QVERIFY(pty.IsOpen());
    QVERIFY(pty.HoldSlave());
    QCOMPARE(chown(pty.SlavePath().toLocal8Bit().constData(), 0, 0), 0);
    QCOMPARE(chmod(pty.SlavePath().toLocal8Bit().constData(), 0600), 0);

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QDir::tempPath());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(setpriv, {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                          QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                          QStringLiteral("--open-as-user"), pty.SlavePath()});
    QVERIFY(child.waitForFinished(60000));
    const QString out = QString::fromUtf8(child.readAll());
    QVERIFY2(child.exitCode() == 0, qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("open errno %1").arg(EACCES)), qPrintable(out));
    // The busy text, and under it (shown here after " | ") that permission is missing.
    const QString cause = QStringLiteral(" | ") + OpenFailureCause(EACCES);
    QVERIFY2(out.contains(QStringLiteral("configuration: ") + QString::fromUtf8(PortBusyText) + cause), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("mode window: ") + BusyPortText + cause + QStringLiteral(" polling stopped")),
             qPrintable(out));
}

namespace {

// As a helper process run by an ordinary user: tries the configuration read and a mode
// window on path and prints what each showed.
int OpenAsUser(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString path = QString::fromLocal8Bit(argv[2]);
    const int fd = ::open(argv[2], O_RDWR | O_NOCTTY | O_NONBLOCK);
    std::printf("open errno %d\n", fd < 0 ? errno : 0);
    if (fd >= 0)
        ::close(fd);

    QStringList texts;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            texts << box->text().replace(QStringLiteral("\n\n"), QStringLiteral(" | "));
            box->button(QMessageBox::Ok)->click();
        }
    });
    closer.start(20);

    {
        TForm1 form;
        form.ComPort1->SetPort(path);
        form.N6->trigger();
        WaitFor([&] { return !texts.isEmpty(); }, 5000);
        std::printf("configuration: %s\n", qPrintable(texts.value(0)));
    }
    texts.clear();
    {
        TfmGenerator_f w;
        w.ComPort1->SetPort(path);
        w.StartPolling();
        WaitFor([&] { return !texts.isEmpty() && !QApplication::activeModalWidget(); }, 5000);
        std::printf("mode window: %s%s\n", qPrintable(texts.value(0)),
                    w.Timer1->isActive() ? " polling on" : " polling stopped");
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--open-as-user") == 0)
        return OpenAsUser(argc, argv);
    QApplication app(argc, argv);
    TestUnplug test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_unplug.moc"
