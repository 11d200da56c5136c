// The mode windows' receive path: bytes of the status, values and command answers go
// through a window's own receive handler (collection into the shared buffer, the mode
// windows' completeness rule, the CRC, the exchange cycle), and the window's timer tick
// runs the status step or the values step on a good answer. Every mode window takes part,
// with both cycles: status requests only (generators, TC imitation) and status and values
// requests in turn (the measuring windows).
//
// Input: byte 0 picks the window; byte 1 bit 0 clicks start/stop before the first request,
// bit 1 gives the button's tag at that click, bit 2 presets that the mode was seen on; the
// rest is a series of receive events (FuzzSupport.h). A new-request flag sends the cycle's
// next request when it is ready for one; a tick flag fires the window's timer after the
// event while the cycle is not ready to send (sending would pause for the line).

#include "FuzzSupport.h"

#include "ExchangeCycle.h"
#include "Generator_T.h"
#include "Generator_TC.h"
#include "Generator_f.h"
#include "Globals.h"
#include "Imitation_TPU.h"
#include "ModeWindow.h"
#include "TPR_TPR.h"
#include "TPR_TPU.h"
#include "TQ.h"
#include "freq_counter.h"
#include "modbus.h"
#include "pack_pulses.h"

#include <QApplication>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

namespace {

// A mode window as the target drives it.
class Driven {
public:
    virtual ~Driven() = default;
    virtual TModeWindow &Window() = 0;
    virtual std::optional<TRequestFields> Request(int32_t kind) const = 0;
    // One receive event of count bytes, handed to the window's receive handler.
    virtual void Receive(const uint8_t *data, int count) = 0;
    // Unit state that lives beyond the cycle, put back to its start values.
    virtual void ResetUnit() {}
};

// The window with its port replaced: nothing is opened or written, and the receive handler
// reads the bytes of the current event.
template <typename W>
class DrivenWindow : public W, public Driven {
public:
    using W::W;

    TModeWindow &Window() override { return *this; }
    std::optional<TRequestFields> Request(int32_t kind) const override { return this->RequestFor(kind); }
    void Receive(const uint8_t *data, int count) override
    {
        pending_ = data;
        pendingCount_ = count;
        this->ComPort1RxChar(nullptr, count);
        pending_ = nullptr;
        pendingCount_ = 0;
    }

protected:
    void ClosePort() override {}
    void OpenPortAndWrite(const uint8_t *, int) override {}
    void CollectAnswerBytes(int count) override
    {
        const int n = std::min(count, pendingCount_);
        AppendToReceiveBuffer(pending_, n);
        pending_ += n;
        pendingCount_ -= n;
    }

private:
    const uint8_t *pending_ = nullptr;
    int pendingCount_ = 0;
};

class DrivenTprTpu : public DrivenWindow<TfmTPR_TPU> {
public:
    explicit DrivenTprTpu(uint8_t isTpu1)
    {
        SelectTPU(isTpu1);
    }
    void ResetUnit() override
    {
        TPR_TPU::ModeSeenOn = 0;
        TPR_TPU::S2CapturePending = 0;
        TPR_TPU::S2Base[0] = TPR_TPU::S2Base[1] = 0;
    }
};

std::vector<std::unique_ptr<Driven>> &Windows()
{
    // Made once: creating forms for every input would drown the exchange in layout work.
    // They live until the process ends, like the application object.
    static auto *windows = [] {
        auto *list = new std::vector<std::unique_ptr<Driven>>;
        list->push_back(std::make_unique<DrivenWindow<TfmGenerator_f>>());
        list->push_back(std::make_unique<DrivenWindow<TfmGenerator_T>>());
        list->push_back(std::make_unique<DrivenWindow<TfmGenerator_TC>>());
        list->push_back(std::make_unique<DrivenTprTpu>(1));
        list->push_back(std::make_unique<DrivenTprTpu>(0));
        list->push_back(std::make_unique<DrivenWindow<TfmTPR_TPR>>());
        list->push_back(std::make_unique<DrivenWindow<Tfmfreq_counter>>());
        list->push_back(std::make_unique<DrivenWindow<Tfmpack_pulses>>());
        list->push_back(std::make_unique<DrivenWindow<TfmTQ>>());
        list->push_back(std::make_unique<DrivenWindow<TfmImitation_TPU>>());
        return list;
    }();
    return *windows;
}

// The sending half of a tick without the port: the cycle chooses, the buffer is emptied,
// the request counts as out.
void SendNextRequest(Driven &driven, fuzz::LineRecord &line)
{
    TExchangeCycle &cycle = driven.Window().Cycle();
    if (!cycle.ChooseRequest())
        return;
    if (!driven.Request(cycle.State().RequestKind))
        return;
    ClearReceiveBuffer();
    line.Clear();
    cycle.MarkAwaited();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_mode_receive";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
    Windows();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    std::vector<std::unique_ptr<Driven>> &windows = Windows();
    Driven &driven = *windows[data[0] % windows.size()];
    TModeWindow &window = driven.Window();
    TExchangeCycle &cycle = window.Cycle();
    const TModeState &state = cycle.State();

    driven.ResetUnit();
    cycle.Reset();
    ClearReceiveBuffer();
    fuzz::LineRecord line;
    if (data[1] & 4)
        TPR_TPU::ModeSeenOn = 1;
    if (data[1] & 1)
        cycle.Click((data[1] & 2) ? 1 : 0);
    SendNextRequest(driven, line);

    fuzz::EventReader reader(data + 2, size - 2);
    fuzz::Event event;
    while (reader.Next(event)) {
        if (event.NewRequest)
            SendNextRequest(driven, line);

        const int32_t before = state.AnswerState;
        if (event.Count > 0) {
            driven.Receive(event.Data, event.Count);
            line.Add(event.Data, event.Count);
        }
        line.CheckBuffer();

        const bool complete = ModeAnswerComplete();
        fuzz::CheckCompleteLength(complete);
        if (complete && event.Count > 0) {
            fuzz::Check(ReceiveLength == (ReceiveBuffer[1] == 5 ? 8 : ReceiveBuffer[2] + 5));
            const bool good = fuzz::CheckedCrcVerdict();
            fuzz::Check(state.AnswerState == (good ? AnswerGood : AnswerReady));
        } else {
            fuzz::Check(state.AnswerState == before);
        }

        if (event.Tick && state.AnswerState != AnswerReady) {
            const bool inHand = state.AnswerState == AnswerGood;
            window.Timer1Timer();
            // An answer in hand is used once, and the cycle is ready for the next request.
            if (inHand)
                fuzz::Check(state.AnswerState == AnswerReady);
        }
    }
    return 0;
}
