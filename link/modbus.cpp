// Frames of the device protocol, the CRC and the judging of the shared answer buffer.
#include "modbus.h"

#include "Globals.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// Entry i is the CRC step of the byte value i from a zero register. Built once at compile
// time: the same entries a rebuild before every block would give, and no shared state that
// two threads could write at once.
constexpr std::array<uint16_t, 256> MakeCrcTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t reg = 0;
        unsigned data = i;
        for (int bit = 0; bit < 8; ++bit) {
            if (((reg ^ data) & 1u) != 0)
                reg = static_cast<uint16_t>((reg >> 1) ^ 0xA001u);
            else
                reg = static_cast<uint16_t>(reg >> 1);
            data >>= 1;
        }
        table[i] = reg;
    }
    return table;
}

constexpr std::array<uint16_t, 256> CrcTable = MakeCrcTable();

// ReceiveLength as a usable count: never negative.
int32_t HeldLength()
{
    return ReceiveLength < 0 ? 0 : ReceiveLength;
}

// The length rules only judge an answer that fits the buffer and carries at least the
// address, the function, one more byte and a CRC.
bool LengthJudgeable(int32_t length)
{
    return length >= 5 && length <= ReceiveBufferSize;
}

} // namespace

uint16_t ModbusCrcStep(uint16_t crc, uint8_t byte)
{
    return static_cast<uint16_t>((crc >> 8) ^ CrcTable[(crc ^ byte) & 0xFFu]);
}

uint16_t ModbusCrc16(const uint8_t *data, uint16_t count)
{
    uint16_t crc = 0xFFFF;
    for (uint16_t i = 0; i < count; ++i)
        crc = ModbusCrcStep(crc, data[i]);
    return crc;
}

std::array<uint8_t, 8> BuildShortRequest(uint8_t function, uint16_t first, uint16_t second)
{
    std::array<uint8_t, 8> frame{};
    frame[0] = DeviceAddress;
    frame[1] = function;
    frame[2] = static_cast<uint8_t>(first >> 8);
    frame[3] = static_cast<uint8_t>(first & 0xFF);
    frame[4] = static_cast<uint8_t>(second >> 8);
    frame[5] = static_cast<uint8_t>(second & 0xFF);
    const uint16_t crc = ModbusCrc16(frame.data(), 6);
    frame[6] = static_cast<uint8_t>(crc >> 8);
    frame[7] = static_cast<uint8_t>(crc & 0xFF);
    return frame;
}

std::array<uint8_t, 115> BuildConfigWriteRequest(const std::array<uint8_t, 106> &registers)
{
    std::array<uint8_t, 115> frame{};
    frame[0] = DeviceAddress;
    frame[1] = 16;
    frame[2] = 0;
    frame[3] = 0;
    frame[4] = 0;
    frame[5] = 53;
    frame[6] = 106;
    std::copy(registers.begin(), registers.end(), frame.begin() + 7);
    const uint16_t crc = ModbusCrc16(frame.data(), 113);
    frame[113] = static_cast<uint8_t>(crc >> 8);
    frame[114] = static_cast<uint8_t>(crc & 0xFF);
    return frame;
}

void AppendToReceiveBuffer(const uint8_t *data, int count)
{
    if (data == nullptr || count <= 0)
        return;
    const int32_t held = HeldLength();
    if (held < ReceiveBufferSize) {
        const int room = ReceiveBufferSize - held;
        std::memcpy(ReceiveBuffer + held, data, static_cast<size_t>(std::min(room, count)));
    }
    // Bytes that did not fit are still counted, so the answer can no longer match its
    // target length; the count saturates instead of wrapping on an endless flood.
    const int64_t total = static_cast<int64_t>(held) + count;
    ReceiveLength = static_cast<int32_t>(std::min<int64_t>(total, std::numeric_limits<int32_t>::max()));
}

void ClearReceiveBuffer()
{
    ReceiveLength = 0;
    ReceiveBuffer[0] = 0;
    ReceiveBuffer[1] = 0;
    ReceiveBuffer[2] = 0;
}

bool ModeAnswerComplete()
{
    const int32_t length = ReceiveLength;
    if (!LengthJudgeable(length))
        return false;
    if (ReceiveBuffer[1] == 5)
        return length == 8;
    return length == ReceiveBuffer[2] + 5;
}

int32_t ModeAnswerLength()
{
    const int32_t held = std::min<int32_t>(HeldLength(), ReceiveBufferSize);
    if (held < 3)
        return held;
    const int32_t target = ReceiveBuffer[1] == 5 ? 8 : ReceiveBuffer[2] + 5;
    return std::min(held, target);
}

bool MainAnswerComplete(int32_t exchangeState)
{
    const int32_t length = ReceiveLength;
    if (!LengthJudgeable(length))
        return false;
    if (exchangeState == ExchangeWriteSent)
        return length == 8;
    return length == ReceiveBuffer[2] + 5;
}

bool AnswerCrcGood()
{
    const int32_t length = ReceiveLength;
    if (!LengthJudgeable(length))
        return false;
    const uint16_t received = static_cast<uint16_t>(ReceiveBuffer[length - 2] << 8 | ReceiveBuffer[length - 1]);
    return received == ModbusCrc16(ReceiveBuffer, static_cast<uint16_t>(length - 2));
}
