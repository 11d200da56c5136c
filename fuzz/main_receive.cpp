// The main window's receive path: bytes of the configuration read and write answers are
// collected into the shared buffer, judged by the main window's completeness rule and the
// CRC, and a good read answer is unpacked into DeviceConfig, block 1 and then block 2, whose
// values the tree's grid then shows as texts.
//
// Input: byte 0 picks what the window awaits (bits 0..1: block 1 of a read, block 2 of a
// read, the echo of a write, nothing); the rest is a series of receive events (FuzzSupport.h).
// A new-request flag starts the awaited exchange again from an empty buffer.

#include "FuzzSupport.h"

#include "Globals.h"
#include "RegisterMap.h"
#include "ValueText.h"
#include "modbus.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// After block `block` is unpacked from answer, packing the configuration again gives the
// block's registers as they came, but for the ignored high byte of each code register.
void CheckBlockRoundTrip(const uint8_t *answer, int block)
{
    const int first = block == 1 ? ConfigBlock1First : ConfigBlock2First;
    const int count = block == 1 ? ConfigBlock1Count : ConfigBlock2Count;
    const std::array<uint8_t, 106> packed = PackConfigRegisters();
    const uint8_t *data = answer + 3;
    for (const ConfigField &field : ConfigFields()) {
        const int k = field.FirstRegister - first;
        if (k < 0 || k + field.RegisterCount() > count)
            continue;
        const uint8_t *got = packed.data() + 2 * field.FirstRegister;
        const uint8_t *sent = data + 2 * k;
        if (field.Kind() == FieldKind::Code) {
            fuzz::Check(got[0] == 0 && got[1] == sent[1]);
        } else {
            fuzz::Check(std::memcmp(got, sent, size_t(2 * field.RegisterCount())) == 0);
        }
    }
}

// The grid of the root shows every node's value text.
void ShowAllValueTexts()
{
    size_t total = 0;
    for (int index = 0; index <= 50; ++index)
        total += size_t(NodeValueText(index).size());
    fuzz::Check(total > 0);
}

void StartExchange(int32_t state, uint8_t block, fuzz::LineRecord &line)
{
    ClearReceiveBuffer();
    line.Clear();
    ExchangeState = state;
    ConfigBlock = block;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static const int32_t States[4] = {ExchangeReadSent, ExchangeReadSent, ExchangeWriteSent, ExchangeIdle};
    const int pick = data[0] & 3;
    const int32_t awaited = States[pick];
    const uint8_t firstBlock = pick == 1 ? 1 : 0;

    DeviceConfig = TDeviceConfig{};
    fuzz::LineRecord line;
    StartExchange(awaited, firstBlock, line);

    fuzz::EventReader reader(data + 1, size - 1);
    fuzz::Event event;
    while (reader.Next(event)) {
        if (event.NewRequest)
            StartExchange(awaited, firstBlock, line);

        AppendToReceiveBuffer(event.Data, event.Count);
        line.Add(event.Data, event.Count);
        line.CheckBuffer();

        const int32_t state = ExchangeState;
        const bool complete = MainAnswerComplete(state);
        fuzz::CheckCompleteLength(complete);
        if (complete)
            fuzz::Check(ReceiveLength == (state == ExchangeWriteSent ? 8 : ReceiveBuffer[2] + 5));
        if (!complete)
            continue;

        if (!fuzz::CheckedCrcVerdict()) {
            ExchangeState = ExchangeFailed;
            continue;
        }
        if (state == ExchangeWriteSent) {
            ExchangeState = ExchangeIdle;
            continue;
        }
        if (state != ExchangeReadSent)
            continue;
        ExchangeState = ExchangeReadAnswered;

        // The read timer's step: unpack the awaited block, then ask for the second one. Any
        // good answer is unpacked here, of whatever length: more than the exchange lets
        // through, which takes only an answer of the block's own length.
        const int block = ConfigBlock == 0 ? 1 : 2;
        const TDeviceConfig before = DeviceConfig;
        UnpackConfigBlock(ReceiveBuffer, block);
        CheckBlockRoundTrip(ReceiveBuffer, block);
        // Only the block's own registers change.
        const std::array<uint8_t, 106> was = PackConfigRegistersOf(before);
        const std::array<uint8_t, 106> now = PackConfigRegisters();
        const int first = block == 1 ? ConfigBlock1First : ConfigBlock2First;
        const int count = block == 1 ? ConfigBlock1Count : ConfigBlock2Count;
        for (int r = 0; r < ConfigRegisterCount; ++r)
            if (r < first || r >= first + count)
                fuzz::Check(was[2 * r] == now[2 * r] && was[2 * r + 1] == now[2 * r + 1]);

        if (block == 1) {
            StartExchange(ExchangeReadSent, 1, line);
        } else {
            ShowAllValueTexts();
            ExchangeState = ExchangeIdle;
        }
    }
    return 0;
}
