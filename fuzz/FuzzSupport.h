#pragma once
// What the fuzz targets share: the reading of an input as a series of receive events, a
// record of what the line delivered since the buffer was last emptied, a CRC computed bit by
// bit apart from the program's table, and the checks every receive event must pass.

#include "Globals.h"
#include "modbus.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace fuzz {

// Stops the run at once; the fuzzer keeps the input that got here.
[[noreturn]] inline void Fail()
{
    __builtin_trap();
}

inline void Check(bool condition)
{
    if (!condition)
        Fail();
}

// One receive event: the bytes the port hands over, and what happens around it.
struct Event {
    const uint8_t *Data = nullptr;
    int Count = 0;
    bool NewRequest = false;  // before the bytes: a new request goes out if the cycle is ready
    bool Tick = false;        // after the bytes: the window's timer fires
};

// An input is a header byte per event followed by up to 63 bytes: bits 0..5 the count,
// bit 6 a timer tick after the event, bit 7 a new request before it. A count beyond the
// input's end takes what is left. A count of 0 is an empty receive event.
class EventReader {
public:
    EventReader(const uint8_t *data, size_t size) : p_(data), end_(data + size) {}

    bool Next(Event &event)
    {
        if (p_ >= end_)
            return false;
        const uint8_t header = *p_++;
        const size_t left = size_t(end_ - p_);
        const size_t count = std::min<size_t>(header & 0x3F, left);
        event.Data = p_;
        event.Count = int(count);
        event.Tick = (header & 0x40) != 0;
        event.NewRequest = (header & 0x80) != 0;
        p_ += count;
        return true;
    }

private:
    const uint8_t *p_;
    const uint8_t *end_;
};

// CRC-16 of the device (reflected 0xA001, start 0xFFFF), one bit at a time.
inline uint16_t BitwiseCrc(const uint8_t *data, size_t count)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? uint16_t((crc >> 1) ^ 0xA001u) : uint16_t(crc >> 1);
    }
    return crc;
}

// What the line delivered since the buffer was emptied: every byte counted, the first
// ReceiveBufferSize kept.
class LineRecord {
public:
    void Clear() { total_ = 0; }

    void Add(const uint8_t *data, int count)
    {
        for (int i = 0; i < count; ++i, ++total_)
            if (total_ < ReceiveBufferSize)
                kept_[total_] = data[i];
    }

    // The shared buffer holds exactly what arrived: the count of every byte (saturating,
    // never negative) and the bytes themselves as far as they fit.
    void CheckBuffer() const
    {
        Check(ReceiveLength >= 0);
        const int64_t expected = std::min<int64_t>(total_, std::numeric_limits<int32_t>::max());
        Check(ReceiveLength == expected);
        const int held = int(std::min<int64_t>(total_, ReceiveBufferSize));
        Check(std::memcmp(ReceiveBuffer, kept_, size_t(held)) == 0);
    }

private:
    int64_t total_ = 0;
    uint8_t kept_[ReceiveBufferSize] = {};
};

// The CRC verdict on the buffer: no verdict at all for a length no rule can judge, a good
// one only when the two bytes after the data carry the data's CRC, high byte first.
inline bool CheckedCrcVerdict()
{
    const bool good = AnswerCrcGood();
    const int32_t length = ReceiveLength;
    if (length < 5 || length > ReceiveBufferSize) {
        Check(!good);
        return good;
    }
    const uint16_t crc = BitwiseCrc(ReceiveBuffer, size_t(length - 2));
    const bool matches = ReceiveBuffer[length - 2] == (crc >> 8) && ReceiveBuffer[length - 1] == (crc & 0xFF);
    Check(good == matches);
    return good;
}

// A complete answer under either rule has a length the buffer can hold and a CRC can end.
inline void CheckCompleteLength(bool complete)
{
    if (complete)
        Check(ReceiveLength >= 5 && ReceiveLength <= ReceiveBufferSize);
}

}  // namespace fuzz
