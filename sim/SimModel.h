#pragma once
// The device's memory and its answers: 53 holding registers (the configuration), coils
// 0..8 (one per operating mode) and input registers 0..113 (what a running mode reports),
// with the request handling of functions 1, 3, 4, 5 and 16. No threads and no I/O: the
// device thread drives it and tests call it directly.

#include "SimProver.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <vector>

namespace sim {

constexpr int HoldingCount = 53;
constexpr int CoilCount = 9;
constexpr int InputCount = 114;

// Coils, one per mode.
enum ModeCoil {
    CoilTprByTpu1 = 0,
    CoilTprByTpu2 = 1,
    CoilTprByTpr = 2,
    CoilPulsePack = 3,
    CoilTq = 4,
    CoilTpuImitation = 5,
    CoilGeneratorF = 6,
    CoilGeneratorT = 7,
    CoilTcImitation = 8,
};

// Modbus exception codes.
enum ExceptionCode : uint8_t { IllegalFunction = 1, IllegalAddress = 2, IllegalValue = 3 };

// Appends the CRC of everything in frame so far, high byte first (the device's order).
void AppendDeviceCrc(std::vector<uint8_t> &frame);
// True when frame ends with the CRC of the bytes before it, high byte first.
bool DeviceCrcGood(const uint8_t *frame, size_t size);
inline bool DeviceCrcGood(const std::vector<uint8_t> &frame) { return DeviceCrcGood(frame.data(), frame.size()); }

// How long a request frame is once its first bytes are known: 8 for functions 1..6,
// 9 + byte count for function 16 (once byte 6 is in), 0 when it cannot be told.
size_t ExpectedRequestLength(const uint8_t *bytes, size_t size);

// A 32-bit value in two registers: the lower-numbered register holds bits 15..0.
uint32_t JoinWords(uint16_t low, uint16_t high);
float FloatFromBits(uint32_t bits);
uint32_t BitsFromFloat(float value);

class SimModel {
public:
    SimModel();

    // Restores the starting configuration, all coils off and zero readings.
    void Reset();

    // Handles one whole request frame whose CRC has been checked and whose address is the
    // device's. Returns the reply with its CRC (high byte first): the answer, or a 5-byte
    // exception reply.
    std::vector<uint8_t> Handle(const uint8_t *frame, size_t size);
    std::vector<uint8_t> Handle(const std::vector<uint8_t> &frame) { return Handle(frame.data(), frame.size()); }

    // Lets time pass for the running modes: counters count, readings jitter.
    void Advance(double seconds);

    uint16_t Holding(int reg) const { return holding_.at(reg); }
    void SetHolding(int reg, uint16_t value) { holding_.at(reg) = value; }
    uint16_t Input(int reg) const { return input_.at(reg); }
    void SetInput(int reg, uint16_t value) { input_.at(reg) = value; }
    bool Coil(int coil) const { return coils_.at(coil); }
    // Switches a mode on or off as a write of its coil does (a mode that starts begins
    // its pass counters from zero).
    void SetCoil(int coil, bool on);

    uint32_t InputU32(int reg) const { return JoinWords(input_.at(reg), input_.at(reg + 1)); }
    float InputFloat(int reg) const { return FloatFromBits(InputU32(reg)); }
    uint32_t HoldingU32(int reg) const { return JoinWords(holding_.at(reg), holding_.at(reg + 1)); }
    float HoldingFloat(int reg) const { return FloatFromBits(HoldingU32(reg)); }
    void SetHoldingU32(int reg, uint32_t value);
    void SetHoldingFloat(int reg, float value) { SetHoldingU32(reg, BitsFromFloat(value)); }

    void Seed(uint64_t seed) { random_.seed(seed); }

    // Puts a pipe prover on both TPU channels (each follows its own configuration), or
    // takes it away: without one, a running TPR-by-TPU mode shows values that merely move.
    void SetProver(const std::optional<ProverOptions> &options);
    // The prover of channel 0 (TPU1) or 1 (TPU2); null without one.
    const ProverModel *Prover(int channel) const { return prover_[channel & 1].get(); }

private:
    std::vector<uint8_t> Exception(uint8_t function, uint8_t code) const;
    void SetInputU32(int reg, uint32_t value);
    void SetInputFloat(int reg, float value) { SetInputU32(reg, BitsFromFloat(value)); }
    double Jitter(double value, double fraction);
    void AdvanceTpu(int channel, double seconds);
    void ShowProver(int channel);
    ProverBuild BuildOf(int channel) const;
    void AdvanceTprByTpr(double seconds);
    void AdvanceFrequencyCounter();
    void AdvancePulsePack(double seconds);
    void AdvanceTq(double seconds);
    void AdvanceTpuImitation(double seconds);

    std::array<uint16_t, HoldingCount> holding_{};
    std::array<bool, CoilCount> coils_{};
    std::array<uint16_t, InputCount> input_{};
    std::mt19937_64 random_{12345};

    // What the running modes have counted so far, kept finer than the registers show it.
    struct TpuRun {
        double Pulses12 = 0, Pulses21 = 0, Pulses34 = 0, Pulses43 = 0;
        double SumS1 = 0, SumS2 = 0, SumS3us = 0, SumS4 = 0, SumS5 = 0, SumS6us = 0;
        double PassSeconds = 0;
    };
    std::array<TpuRun, 2> tpu_{};
    std::optional<ProverOptions> proverOptions_;
    std::array<std::unique_ptr<ProverModel>, 2> prover_;
    double tprPulses1_ = 0, tprPulses2_ = 0;
    double packDelayLeft_ = 0, packOut_ = 0, packIn_ = 0;
    double tqOut_ = 0, tqIn_ = 0;
    double imitationSeconds_ = 0;
};

} // namespace sim
