// Fault soak of the nine mode windows: each polls the device stand-in over a pty at the
// designed timing (200 ms tick, 100 ms pause, 2000 ms time-out) while about 30 % of the
// replies carry a random fault from a fixed seed, and the start/stop button is clicked now
// and then. After every status and values step the window must show what a reply the
// stand-in really sent with a good CRC says; only the window's own requests may leave; a
// command is repeated until an answer comes; no message box, no crash, no hang.
//
// KARVEN_SOAK_EXCHANGES sets the number of requests in all (default 300, split over the
// nine windows); a person may run a longer soak with a larger number.

#include "ExchangeCycle.h"
#include "Generator_T.h"
#include "Generator_TC.h"
#include "Generator_f.h"
#include "Globals.h"
#include "Imitation_TPU.h"
#include "MeasureWindow.h"
#include "ModeTestRig.h"
#include "SimFixture.h"
#include "SoakOracle.h"
#include "TPR_TPR.h"
#include "TPR_TPU.h"
#include "TQ.h"
#include "freq_counter.h"
#include "modbus.h"
#include "pack_pulses.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QMessageBox>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <type_traits>
#include <memory>

namespace {

std::vector<uint8_t> Frame(uint8_t function, uint16_t first, uint16_t second)
{
    const auto f = BuildShortRequest(function, first, second);
    return {f.begin(), f.end()};
}

// What the soak checks after every step of a window.
struct StepLog {
    int Values = 0;
    int Status = 0;
    QStringList Errors;
};

QStringList GridColumn(const QTableWidget *grid)
{
    QStringList out;
    for (int r = 0; r < grid->rowCount(); ++r)
        out << (grid->item(r, 1) ? grid->item(r, 1)->text() : QString());
    return out;
}

QString Hex(const uint8_t *bytes, int length)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes), length).toHex(' '));
}

// A mode window whose status and values steps are checked against the stand-in's replies.
template <typename Window>
class Watched : public Window {
public:
    Watched(const ReplyOracle &oracle, StepLog &log, int statusByte, uint8_t statusMask, int skipRow)
        : oracle_(oracle), log_(log), statusByte_(statusByte), statusMask_(statusMask), skipRow_(skipRow)
    {
    }

protected:
    void StatusStep() override
    {
        const std::vector<uint8_t> answer = Answer();
        Window::StatusStep();
        ++log_.Status;
        if (!FromDevice(answer, "status"))
            return;
        if (int(answer.size()) <= statusByte_ + 2) {
            log_.Errors << QStringLiteral("status step on a %1-byte answer").arg(answer.size());
            return;
        }
        const bool on = (answer[size_t(statusByte_)] & statusMask_) != 0;
        const QString shown = this->lbRezim->text();
        const bool shownOn = shown.endsWith(QStringLiteral("Включен"));
        const bool shownOff = shown.endsWith(QStringLiteral("Отключен"));
        if (on ? !shownOn : !shownOff)
            log_.Errors << QStringLiteral("status %1 shown as \"%2\"").arg(Hex(answer.data(), int(answer.size())), shown);
    }

    void ShowValues() override
    {
        const std::vector<uint8_t> answer = Answer();
        if constexpr (!std::is_base_of_v<TMeasureWindow, Window>) {
            Window::ShowValues();
            log_.Errors << QStringLiteral("values step in a window that asks for no values");
            return;
        } else {
            CheckValues(answer);
        }
    }

private:
    void CheckValues(const std::vector<uint8_t> &answer)
    {
        QTableWidget *grid = this->StringGrid1;
        const QStringList before = GridColumn(grid);
        Window::ShowValues();
        ++log_.Values;
        if (!FromDevice(answer, "values"))
            return;
        const QStringList after = GridColumn(grid);
        const auto rows = this->Traits().Rows;
        for (int r = 0; r < int(rows.size()); ++r) {
            if (r == skipRow_)
                continue;
            const TValueRow &row = rows[size_t(r)];
            const bool present = row.Offset + 4 <= int(answer.size());
            const QString expected = present ? ValueRowText(answer.data(), row) : before.value(r);
            if (after.value(r) != expected)
                log_.Errors << QStringLiteral("row %1 shows \"%2\", the answer %3 says \"%4\"")
                                   .arg(r)
                                   .arg(after.value(r), Hex(answer.data(), int(answer.size())), expected);
        }
    }

    // The answer that was found complete: bytes that came after it (noise, trailing bytes)
    // are behind it in the buffer by the time the tick takes it.
    static std::vector<uint8_t> Answer()
    {
        const int held = std::clamp(ReceiveLength, 0, ReceiveBufferSize);
        const int complete = ReceiveBuffer[1] == 5 ? 8 : ReceiveBuffer[2] + 5;
        return std::vector<uint8_t>(ReceiveBuffer, ReceiveBuffer + std::min(held, complete));
    }
    bool FromDevice(const std::vector<uint8_t> &answer, const char *step)
    {
        if (oracle_.SentGood(answer.data(), int(answer.size())))
            return true;
        log_.Errors << QStringLiteral("%1 step on %2, which the device never sent with a good CRC")
                           .arg(QString::fromLatin1(step), Hex(answer.data(), int(answer.size())));
        return false;
    }

    const ReplyOracle &oracle_;
    StepLog &log_;
    int statusByte_;
    uint8_t statusMask_;
    int skipRow_;
};

struct WindowCase {
    std::function<std::unique_ptr<TModeWindow>(const ReplyOracle &, StepLog &)> Make;
    std::set<std::vector<uint8_t>> Allowed;  // the window's own requests
    bool HasButton;
};

// The window's requests: its status request, its values request (if any) and both
// commands of its coil (if any), as the device's request table lists them.
std::set<std::vector<uint8_t>> Requests(uint16_t statusCoils, int valuesFirst, int valuesCount, int coil)
{
    std::set<std::vector<uint8_t>> out{Frame(1, 0, statusCoils)};
    if (valuesCount > 0)
        out.insert(Frame(4, uint16_t(valuesFirst), uint16_t(valuesCount)));
    if (coil >= 0) {
        out.insert(Frame(5, uint16_t(coil), 0xFF00));
        out.insert(Frame(5, uint16_t(coil), 0x0000));
    }
    return out;
}

template <typename Window>
WindowCase Case(uint16_t statusCoils, int valuesFirst, int valuesCount, int coil, int statusByte, uint8_t mask,
                int skipRow = -1, std::function<void(Window &)> setUp = {})
{
    WindowCase c;
    c.Make = [=](const ReplyOracle &oracle, StepLog &log) {
        auto w = std::make_unique<Watched<Window>>(oracle, log, statusByte, mask, skipRow);
        if (setUp)
            setUp(*w);
        return std::unique_ptr<TModeWindow>(std::move(w));
    };
    c.Allowed = Requests(statusCoils, valuesFirst, valuesCount, coil);
    c.HasButton = coil >= 0;
    return c;
}

}  // namespace

class TestSoakModes : public QObject {
    Q_OBJECT

private slots:
    void soak();
};

void TestSoakModes::soak()
{
    const int total = SoakCount("KARVEN_SOAK_EXCHANGES", 300);
    const uint64_t seed = uint64_t(SoakCount("KARVEN_SOAK_SEED", 20261208));

    SimFixture sim;
    QVERIFY(sim.Start(SoakOptions(seed)));
    sim::SimDevice &device = sim.Device();
    const QString link = sim.Link();
    device.SetRandomFaults(seed, SoakFaultMix());

    struct Named {
        const char *Name;
        WindowCase Case;
    };
    const uint8_t bit0 = 0x01;
    const std::vector<Named> windows = {
        {"TPR by TPU1", Case<TfmTPR_TPU>(8, 0, 40, 0, 3, bit0, TPR_TPU::S2Row, [](TfmTPR_TPU &w) { w.SelectTPU(1); })},
        {"TPR by TPU2", Case<TfmTPR_TPU>(8, 40, 40, 1, 3, 0x02, TPR_TPU::S2Row, [](TfmTPR_TPU &w) { w.SelectTPU(0); })},
        {"TPR by TPR", Case<TfmTPR_TPR>(8, 80, 12, 2, 3, 0x04)},
        {"frequency counter", Case<Tfmfreq_counter>(8, 94, 8, -1, 3, 0x08)},
        {"pulse pack", Case<Tfmpack_pulses>(8, 102, 4, 3, 3, 0x08)},
        {"TQ", Case<TfmTQ>(8, 106, 6, 4, 3, 0x10)},
        {"TPU imitation", Case<TfmImitation_TPU>(8, 112, 2, 5, 3, 0x20)},
        {"frequency generator", Case<TfmGenerator_f>(8, 0, 0, 6, 3, 0x40)},
        {"period generator", Case<TfmGenerator_T>(8, 0, 0, 7, 3, 0x80)},
        {"TC imitation", Case<TfmGenerator_TC>(9, 0, 0, 8, 4, bit0)},
    };
    const int perWindow = std::max(20, total / int(windows.size()));

    // Any message box is a failure here: count it and close it so the soak goes on.
    QStringList boxes;
    QTimer boxWatch;
    QObject::connect(&boxWatch, &QTimer::timeout, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                boxes << box->text();
                box->done(0);
            }
        }
    });
    boxWatch.start(50);

    // One oracle for the whole soak: a late reply to the previous window's request may
    // reach the next window, and any reply the device sent with a good CRC is a valid one.
    ReplyOracle oracle(device);
    int exchanges = 0;
    int valuesSteps = 0;
    int statusSteps = 0;
    int commands = 0;
    for (const Named &named : windows) {
        device.ClearLog();
        StepLog steps;
        const int first = oracle.Requests();
        auto requests = [&] { return oracle.Requests() - first; };
        {
            std::unique_ptr<TModeWindow> w = named.Case.Make(oracle, steps);
            w->ComPort1->SetPort(link);
            w->StartPolling();
            // Started or stopped every few answers; a click while a command is still being
            // repeated replaces it.
            int nextClick = 5;
            // Each request takes at most a time-out and two ticks.
            const QDeadlineTimer deadline(perWindow * 2600 + 10000);
            while (requests() < perWindow && !deadline.hasExpired()) {
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
                if (named.Case.HasButton && steps.Status + steps.Values >= nextClick) {
                    w->Button1->click();
                    nextClick += 7;
                }
            }
            QVERIFY2(requests() >= perWindow,
                     qPrintable(QStringLiteral("%1: %2 requests in time").arg(named.Name).arg(requests())));
        }
        // The last request written has reached the device's log.
        WaitFor([] { return false; }, 200);
        const std::vector<sim::LogEntry> log = device.Log();
        QVERIFY2(steps.Errors.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(named.Name, steps.Errors.join('\n'))));
        const QStringList stray = RequestsOutside(log, named.Case.Allowed);
        QVERIFY2(stray.isEmpty(), qPrintable(QStringLiteral("%1 sent %2").arg(named.Name, stray.join(", "))));
        const QStringList dropped = CommandsRepeatedUntilAnswered(log);
        QVERIFY2(dropped.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(named.Name, dropped.join('\n'))));
        QVERIFY2(steps.Status > 0, named.Name);
        for (const sim::LogEntry &e : log)
            if (e.Kind == sim::LogEntry::Request && e.Bytes.size() == 8 && e.Bytes[1] == 5)
                ++commands;
        exchanges += requests();
        valuesSteps += steps.Values;
        statusSteps += steps.Status;
        qInfo("%-20s %4d requests, %4d status and %4d values steps checked", named.Name, requests(),
              steps.Status, steps.Values);
    }
    device.Stop();
    const auto faults = oracle.Faults();

    qInfo("mode windows: %d requests (%d commands), %d status and %d values steps checked; faults: %s", exchanges,
          commands, statusSteps, valuesSteps, qPrintable(FaultTallyText(faults)));
    QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join('\n')));
    QVERIFY(valuesSteps > 0);
    QVERIFY(commands > 0);
    for (int kind = 1; kind < sim::FaultKindCount; ++kind)
        if (sim::Fault(kind) != sim::Fault::HangUp)
            QVERIFY2(faults[size_t(kind)] > 0, sim::FaultName(sim::Fault(kind)));
}

QTEST_MAIN(TestSoakModes)
#include "tst_soak_modes.moc"
