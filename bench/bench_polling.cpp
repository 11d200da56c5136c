// Polling of a mode window against the device simulator at 9600 baud, the simulator run
// as a separate process so that the CPU time measured here is the window's own.
// Prints the time between consecutive requests while the device answers promptly, the
// time from a write to the complete answer, the CPU time per second of polling, and how
// often each mode window refreshes what it shows.

#include "Generator_T.h"
#include "Generator_TC.h"
#include "Generator_f.h"
#include "Imitation_TPU.h"
#include "ModeMap.h"
#include "TPR_TPR.h"
#include "TPR_TPU.h"
#include "TQ.h"
#include "freq_counter.h"
#include "pack_pulses.h"
#include "modbus.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

double CpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// Clock ticks of another process (user + system), from /proc.
double ProcessCpuMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return (fields[11].toDouble() + fields[12].toDouble()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// The frequency generator window with a stopwatch on its writes and complete answers.
class TimedWindow : public TfmGenerator_f {
public:
    QElapsedTimer Clock;
    std::vector<double> Writes, Answers;

    TimedWindow() { Clock.start(); }

protected:
    void OpenPortAndWrite(const uint8_t *frame, int count) override
    {
        TfmGenerator_f::OpenPortAndWrite(frame, count);
        Writes.push_back(Clock.nsecsElapsed() / 1e6);
    }
    void CollectAnswerBytes(int count) override
    {
        TfmGenerator_f::CollectAnswerBytes(count);
        if (ModeAnswerComplete())
            Answers.push_back(Clock.nsecsElapsed() / 1e6);
    }
};

// A mode window with a stopwatch on its refreshes: each values answer shown, or, in a
// window without values, each status answer shown.
class RefreshTimes {
public:
    QElapsedTimer Clock;
    std::vector<double> Shown;
    virtual ~RefreshTimes() = default;
    virtual TModeWindow &Window() = 0;
};

template <typename Form>
class RefreshClock : public Form, public RefreshTimes {
public:
    RefreshClock() { Clock.start(); }
    TModeWindow &Window() override { return *this; }

protected:
    void ShowValues() override
    {
        Form::ShowValues();
        Shown.push_back(Clock.nsecsElapsed() / 1e6);
    }
    void StatusStep() override
    {
        Form::StatusStep();
        if (!this->Map() || !this->Map()->HasValues())
            Shown.push_back(Clock.nsecsElapsed() / 1e6);
    }
};

std::unique_ptr<RefreshTimes> TimedModeWindow(TModeId id)
{
    switch (id) {
    case TModeId::TprTpu1:
    case TModeId::TprTpu2: {
        auto window = std::make_unique<RefreshClock<TfmTPR_TPU>>();
        window->SelectTPU(id == TModeId::TprTpu1);
        return window;
    }
    case TModeId::TprTpr: return std::make_unique<RefreshClock<TfmTPR_TPR>>();
    case TModeId::FreqCounter: return std::make_unique<RefreshClock<Tfmfreq_counter>>();
    case TModeId::PackPulses: return std::make_unique<RefreshClock<Tfmpack_pulses>>();
    case TModeId::Tq: return std::make_unique<RefreshClock<TfmTQ>>();
    case TModeId::ImitationTpu: return std::make_unique<RefreshClock<TfmImitation_TPU>>();
    case TModeId::GeneratorF: return std::make_unique<RefreshClock<TfmGenerator_f>>();
    case TModeId::GeneratorT: return std::make_unique<RefreshClock<TfmGenerator_T>>();
    case TModeId::TcImitation: return std::make_unique<RefreshClock<TfmGenerator_TC>>();
    }
    return nullptr;
}

struct Stats {
    double median, min, max;
};

Stats Summarise(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    if (v.empty())
        return {0, 0, 0};
    const size_t n = v.size();
    const double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    return {median, v.front(), v.back()};
}

void RunFor(int ms, const std::function<bool()> &until = {})
{
    QDeadlineTimer deadline(ms);
    QTimer wake;
    wake.start(50);
    while (!deadline.hasExpired() && !(until && until()))
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int requests = 21;
    const int cpuSeconds = 10;

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
    if (!QFileInfo::exists(link)) {
        std::fprintf(stderr, "the simulator did not publish %s\n", qPrintable(link));
        return 1;
    }

    int status = 0;
    {
        TimedWindow window;
        window.ComPort1->SetPort(link);
        window.StartPolling();
        RunFor(30000, [&] { return window.Writes.size() >= size_t(requests); });

        std::vector<double> gaps, latencies;
        for (size_t i = 1; i < window.Writes.size(); ++i)
            gaps.push_back(window.Writes[i] - window.Writes[i - 1]);
        for (size_t i = 0; i < window.Answers.size() && i < window.Writes.size(); ++i)
            latencies.push_back(window.Answers[i] - window.Writes[i]);
        const Stats g = Summarise(gaps);
        const Stats l = Summarise(latencies);
        std::printf("requests between consecutive sends (%zu gaps, status requests at 9600 baud)\n", gaps.size());
        std::printf("  median %.1f ms  min %.1f ms  max %.1f ms\n", g.median, g.min, g.max);
        std::printf("write to complete answer (%zu answers, 8-byte request, 6-byte answer)\n", latencies.size());
        std::printf("  median %.1f ms  min %.1f ms  max %.1f ms\n", l.median, l.min, l.max);
        if (gaps.size() + 1 < size_t(requests))
            status = 1;

        const size_t sendsBefore = window.Writes.size();
        const double cpu0 = CpuMs();
        const double sim0 = ProcessCpuMs(simulator.processId());
        QElapsedTimer wall;
        wall.start();
        RunFor(cpuSeconds * 1000);
        const double cpu = CpuMs() - cpu0;
        const double sim = ProcessCpuMs(simulator.processId()) - sim0;
        const double seconds = wall.nsecsElapsed() / 1e9;
        std::printf("CPU time while polling for %.1f s (%zu exchanges)\n", seconds, window.Writes.size() - sendsBefore);
        std::printf("  window process %.1f ms/s = %.2f %% of one core\n", cpu / seconds, cpu / seconds / 10.0);
        if (sim >= 0)
            std::printf("  simulator process %.1f ms/s = %.2f %% of one core\n", sim / seconds, sim / seconds / 10.0);
    }

    // Each mode window in turn, polling until it has refreshed `refreshes` times.
    const int refreshes = 9;
    std::printf("refresh of each mode window (%d refreshes: values shown, or the state where there are none)\n", refreshes);
    for (const TModeMap &mode : ModeMaps()) {
        std::unique_ptr<RefreshTimes> timed = TimedModeWindow(mode.Id);
        TModeWindow &window = timed->Window();
        window.ComPort1->SetPort(link);
        window.StartPolling();
        RunFor(30000, [&] { return timed->Shown.size() >= size_t(refreshes); });
        std::vector<double> gaps;
        for (size_t i = 1; i < timed->Shown.size(); ++i)
            gaps.push_back(timed->Shown[i] - timed->Shown[i - 1]);
        const Stats r = Summarise(gaps);
        std::printf("  %-13s median %.1f ms  min %.1f ms  max %.1f ms\n", mode.Name, r.median, r.min, r.max);
        if (gaps.size() + 1 < size_t(refreshes))
            status = 1;
    }

    simulator.terminate();
    if (!simulator.waitForFinished(5000))
        simulator.kill();
    return status;
}
