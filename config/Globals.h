#pragma once
// The program's shared state: the configuration record, its register map, the shared
// answer buffer and the main window's exchange state.

#include <array>
#include <cstdint>

struct TDeviceConfig {
    uint8_t Tpu1DetectorCount;   // 2
    uint8_t Tpu1DetectorType;    // 3
    uint8_t Tpu1DetectorScheme;  // 4
    uint8_t Tpu1TpuType;         // 5
    uint8_t Tpu1SumMethod;       // 6
    float Tpu1KFactor2;          // 7
    uint8_t Tpu2DetectorCount;   // 9
    uint8_t Tpu2DetectorType;    // 10
    uint8_t Tpu2DetectorScheme;  // 11
    uint8_t Tpu2TpuType;         // 12
    uint8_t Tpu2SumMethod;       // 13
    float Tpu2KFactor2;          // 14
    uint32_t TprN1Min;           // 16
    uint32_t TprN1Max;           // 17
    float TprKFactor1;           // 18
    float TprKFactor2;           // 19
    uint32_t PackCount;          // 21
    float PackFrequency;         // 22
    uint8_t PackVoltage;         // 23
    uint8_t PackDelay;           // 24
    uint32_t TqN1Min;            // 26
    uint32_t TqN1Max;            // 27
    float TqFrequency;           // 28
    uint8_t TqVoltage;           // 29
    uint8_t ImitTpuDuration;     // 31
    uint32_t ImitTpuCount;       // 32
    float GenFFrequency;         // 34
    uint8_t GenFVoltage;         // 35
    uint32_t GenTPeriod;         // 37
    uint8_t GenTVoltage;         // 38
    uint16_t GenICurrent1;       // 40
    uint16_t GenICurrent2;       // 41
    uint8_t GenIRange1;          // 42
    uint8_t GenIStep1;           // 43
    uint8_t GenIScale1;          // 44
    uint8_t GenIRange2;          // 45
    uint8_t GenIStep2;           // 46
    uint8_t GenIScale2;          // 47
    uint8_t ImitTcResistance;    // 49
};

extern TDeviceConfig DeviceConfig;  // every field zero at start

constexpr int ReceiveBufferSize = 124;
extern uint8_t ReceiveBuffer[ReceiveBufferSize];
extern int32_t ReceiveLength;

extern int32_t ExchangeState;   // the main window's exchange: one of the values below
extern uint8_t ConfigBlock;     // 0: block 1 awaited, 1: block 2 awaited
extern int32_t EditedNodeIndex; // tree index of the leaf being edited

// The values of ExchangeState.
inline constexpr int32_t ExchangeIdle = 0;
inline constexpr int32_t ExchangeReadSent = 1;      // a block of the read requested, its answer awaited
inline constexpr int32_t ExchangeFailed = 2;        // time-out, bad CRC or port busy; until the next command
inline constexpr int32_t ExchangeReadAnswered = 3;  // a good read answer waits in ReceiveBuffer to be unpacked
inline constexpr int32_t ExchangeWriteSent = 4;     // the write sent, its 8-byte echo awaited

// A request of the main window is out or its answer waits to be taken: the exchange is under way.
inline bool ExchangeUnderWay()
{
    return ExchangeState == ExchangeReadSent || ExchangeState == ExchangeReadAnswered
        || ExchangeState == ExchangeWriteSent;
}

// Copies one block (1: registers 0..37, 2: registers 38..52) of a function-3 answer
// (data from byte 3 on) into DeviceConfig; only that block's fields change.
void UnpackConfigBlock(const uint8_t *answer, int block);
// The 106 data bytes of registers 0..52, register 0 first, each high byte first.
std::array<uint8_t, 106> PackConfigRegisters();
