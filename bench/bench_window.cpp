// Two figures of the program's windows, in a process of its own:
//  - start: from this process's main() to the main window shown (constructed, shown and
//    exposed), with the process's own start up to main() taken from /proc beside it;
//  - memory: the peak resident size of the process with the main window and the largest
//    mode window open and polling the device simulator (run as a separate process) for a
//    few seconds.
// Run with QT_QPA_PLATFORM=offscreen (set here when unset).

#include "MainForm.h"
#include "ModeWindow.h"
#include "TPR_TPU.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>

namespace {

void RunFor(int ms, const std::function<bool()> &until = {})
{
    QDeadlineTimer deadline(ms);
    QTimer wake;
    wake.start(5);
    while (!deadline.hasExpired() && !(until && until()))
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

// A line of /proc/self/status in kB ("VmHWM", "VmRSS").
long StatusKb(const char *key)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key)) + 1).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Milliseconds from this process's start (as the kernel counts it, in clock ticks) to now.
double SinceProcessStartMs()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 20)
        return -1;
    const double startTicks = fields[19].toDouble();
    timespec boot{};
    clock_gettime(CLOCK_BOOTTIME, &boot);
    const double nowMs = boot.tv_sec * 1000.0 + boot.tv_nsec / 1e6;
    return nowMs - startTicks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char **argv)
{
    const auto enteredMain = std::chrono::steady_clock::now();
    const double beforeMain = SinceProcessStartMs();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    TForm1 form;
    form.show();
    RunFor(5000, [&] { return form.windowHandle() && form.windowHandle()->isExposed(); });
    const double startMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - enteredMain).count();
    if (!form.windowHandle() || !form.windowHandle()->isExposed()) {
        std::fprintf(stderr, "the main window was not shown\n");
        return 1;
    }
    std::printf("start: main() to main window shown %.1f ms (process start to main() %.0f ms, in clock ticks)\n",
                startMs, beforeMain);
    const long afterStart = StatusKb("VmHWM");

    QTemporaryDir dir;
    const QString link = dir.path() + QStringLiteral("/ttyV0");
    QProcess simulator;
    simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    simulator.start(QStringLiteral(KARVEN_SIM_EXE), {QStringLiteral("--link"), link, QStringLiteral("--quiet")});
    if (!simulator.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start the simulator %s\n", KARVEN_SIM_EXE);
        return 1;
    }
    RunFor(5000, [&] { return QFileInfo::exists(link); });

    int status = 0;
    {
        form.ComPort1->SetPort(link);
        TfmTPR_TPU window(&form);
        window.SelectTPU(1);
        window.ComPort1->SetPort(link);
        window.show();
        window.StartPolling();
        window.Button1->click();  // the mode runs and its 20 values move
        RunFor(6000);
        const long now = StatusKb("VmRSS");
        const long peak = StatusKb("VmHWM");
        std::printf("memory: peak resident %ld kB with a mode window polling (now %ld kB; %ld kB once the main "
                    "window was shown)\n",
                    peak, now, afterStart);
        if (peak <= 0)
            status = 1;
        window.Button2->click();
    }
    simulator.terminate();
    if (!simulator.waitForFinished(5000))
        simulator.kill();
    return status;
}
