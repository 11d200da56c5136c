#include "SimModel.h"

#include "modbus.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sim {

namespace {

// Holding registers of the configuration fields the modes use.
constexpr int RegTpu1DetectorCount = 0;
constexpr int RegTpu1TpuType = 3;
constexpr int RegTpu1SumMethod = 4;
constexpr int RegTpu1KFactor2 = 5;
constexpr int RegTpu2DetectorCount = 7;
constexpr int RegTpu2KFactor2 = 12;
constexpr int RegTprKFactor1 = 18;
constexpr int RegTprKFactor2 = 20;
constexpr int RegPackCount = 22;
constexpr int RegPackFrequency = 24;
constexpr int RegPackDelay = 27;
constexpr int RegTqFrequency = 32;
constexpr int RegImitTpuDuration = 35;
constexpr int RegImitTpuCount = 36;

// Input registers of the modes.
constexpr int InTprByTpr = 80;
constexpr int InFrequencyCounter = 94;
constexpr int InPulsePack = 102;
constexpr int InTq = 106;
constexpr int InTpuImitation = 112;

constexpr double TpuPassSeconds = 8.0;

uint32_t Wrap32(double value)
{
    if (!(value > 0))
        return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(std::fmod(std::floor(value), 4294967296.0)));
}

// A configured rate or count as the modes use it: finite, not negative, bounded.
double Sane(double value, double upper)
{
    if (!std::isfinite(value) || value < 0)
        return 0;
    return std::min(value, upper);
}

} // namespace

void AppendDeviceCrc(std::vector<uint8_t> &frame)
{
    const uint16_t crc = ModbusCrc16(frame.data(), static_cast<uint16_t>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
}

bool DeviceCrcGood(const uint8_t *frame, size_t size)
{
    if (size < 3 || size > 0xFFFF)
        return false;
    const uint16_t received = static_cast<uint16_t>(frame[size - 2] << 8 | frame[size - 1]);
    return received == ModbusCrc16(frame, static_cast<uint16_t>(size - 2));
}

size_t ExpectedRequestLength(const uint8_t *bytes, size_t size)
{
    if (size < 2)
        return 0;
    switch (bytes[1]) {
    case 1: case 2: case 3: case 4: case 5: case 6:
        return 8;
    case 15: case 16:
        return size >= 7 ? 9 + size_t(bytes[6]) : 0;
    default:
        return 0;
    }
}

uint32_t JoinWords(uint16_t low, uint16_t high)
{
    return uint32_t(high) << 16 | low;
}

float FloatFromBits(uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

uint32_t BitsFromFloat(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

SimModel::SimModel()
{
    Reset();
}

void SimModel::Reset()
{
    holding_.fill(0);
    input_.fill(0);
    coils_.fill(false);
    tpu_ = {};
    SetProver(proverOptions_);
    tprPulses1_ = tprPulses2_ = 0;
    packDelayLeft_ = packOut_ = packIn_ = 0;
    tqOut_ = tqIn_ = 0;
    imitationSeconds_ = 0;

    // A plausible configuration: codes within their lists, real K-factors and rates.
    holding_[0] = 1;  // TPU1: 4 detectors
    holding_[1] = 0;  // normally open
    holding_[2] = 1;  // joint scheme
    holding_[3] = 1;  // two-directional
    holding_[4] = 0;  // one pass
    SetHoldingFloat(RegTpu1KFactor2, 12000.0f);
    holding_[7] = 0;  // TPU2: 2 detectors
    holding_[8] = 1;
    holding_[9] = 0;
    holding_[10] = 0;
    holding_[11] = 1;
    SetHoldingFloat(RegTpu2KFactor2, 9500.5f);
    SetHoldingU32(14, 1000);     // TPR N1min
    SetHoldingU32(16, 100000);   // TPR N1max
    SetHoldingFloat(RegTprKFactor1, 4500.0f);
    SetHoldingFloat(RegTprKFactor2, 4520.25f);
    SetHoldingU32(RegPackCount, 1000);
    SetHoldingFloat(RegPackFrequency, 100.0f);
    holding_[26] = 6;  // 1 V
    holding_[RegPackDelay] = 3;  // 1 s
    SetHoldingU32(28, 500);      // TQ N1min
    SetHoldingU32(30, 50000);    // TQ N1max
    SetHoldingFloat(RegTqFrequency, 250.0f);
    holding_[34] = 7;  // 2.5 V
    holding_[RegImitTpuDuration] = 0;  // 0.2 s
    SetHoldingU32(RegImitTpuCount, 50);
    SetHoldingFloat(38, 1000.0f);  // generator f
    holding_[40] = 8;             // 5 V
    SetHoldingU32(41, 10000);      // generator T, microseconds
    holding_[43] = 5;             // 0.5 V
    holding_[44] = 12000;         // I1, microamperes
    holding_[45] = 4000;          // I2
    holding_[46] = 0;
    holding_[47] = 1;
    holding_[48] = 0;
    holding_[49] = 1;
    holding_[50] = 2;
    holding_[51] = 1;
    holding_[52] = 2;  // 3rd nominal

    AdvanceFrequencyCounter();
}

void SimModel::SetHoldingU32(int reg, uint32_t value)
{
    holding_.at(reg) = static_cast<uint16_t>(value & 0xFFFF);
    holding_.at(reg + 1) = static_cast<uint16_t>(value >> 16);
}

void SimModel::SetInputU32(int reg, uint32_t value)
{
    input_.at(reg) = static_cast<uint16_t>(value & 0xFFFF);
    input_.at(reg + 1) = static_cast<uint16_t>(value >> 16);
}

std::vector<uint8_t> SimModel::Exception(uint8_t function, uint8_t code) const
{
    std::vector<uint8_t> reply{DeviceAddress, static_cast<uint8_t>(function | 0x80), code};
    AppendDeviceCrc(reply);
    return reply;
}

std::vector<uint8_t> SimModel::Handle(const uint8_t *frame, size_t size)
{
    if (size < 4)
        return Exception(size >= 2 ? frame[1] : 0, IllegalValue);
    const uint8_t function = frame[1];
    const size_t body = size - 2;  // without the CRC
    auto field = [&](size_t at) { return at + 1 < body ? uint16_t(frame[at] << 8 | frame[at + 1]) : uint16_t(0); };
    const uint16_t first = field(2);
    const uint16_t second = field(4);

    switch (function) {
    case 1: {
        if (size != 8 || second < 1 || second > 2000)
            return Exception(function, IllegalValue);
        if (int(first) + second > CoilCount)
            return Exception(function, IllegalAddress);
        // The byte count, then the coils eight to a byte, the first coil in the lowest bit.
        const int bytes = (second + 7) / 8;
        std::vector<uint8_t> reply{DeviceAddress, 1, static_cast<uint8_t>(bytes)};
        for (int at = 0; at < second; at += 8) {
            uint8_t bits = 0;
            for (int bit = 0; bit < 8 && at + bit < second; ++bit)
                if (coils_[first + at + bit])
                    bits |= static_cast<uint8_t>(1u << bit);
            reply.push_back(bits);
        }
        AppendDeviceCrc(reply);
        return reply;
    }
    case 3:
    case 4: {
        if (size != 8 || second < 1 || second > 125)
            return Exception(function, IllegalValue);
        const int limit = function == 3 ? HoldingCount : InputCount;
        if (int(first) + second > limit)
            return Exception(function, IllegalAddress);
        std::vector<uint8_t> reply{DeviceAddress, function, static_cast<uint8_t>(2 * second)};
        for (int i = 0; i < second; ++i) {
            const uint16_t value = function == 3 ? holding_[first + i] : input_[first + i];
            reply.push_back(static_cast<uint8_t>(value >> 8));
            reply.push_back(static_cast<uint8_t>(value & 0xFF));
        }
        AppendDeviceCrc(reply);
        return reply;
    }
    case 5: {
        if (size != 8 || (second != 0xFF00 && second != 0x0000))
            return Exception(function, IllegalValue);
        if (first >= CoilCount)
            return Exception(function, IllegalAddress);
        SetCoil(first, second == 0xFF00);
        return std::vector<uint8_t>(frame, frame + size);
    }
    case 16: {
        if (size < 9)
            return Exception(function, IllegalValue);
        const uint8_t byteCount = frame[6];
        if (second < 1 || second > 123 || byteCount != 2 * second || size != 9 + size_t(byteCount))
            return Exception(function, IllegalValue);
        if (int(first) + second > HoldingCount)
            return Exception(function, IllegalAddress);
        for (int i = 0; i < second; ++i)
            holding_[first + i] = static_cast<uint16_t>(frame[7 + 2 * i] << 8 | frame[8 + 2 * i]);
        std::vector<uint8_t> reply(frame, frame + 6);
        AppendDeviceCrc(reply);
        return reply;
    }
    default:
        return Exception(function, IllegalFunction);
    }
}

void SimModel::SetCoil(int coil, bool on)
{
    const bool wasOn = coils_.at(coil);
    coils_.at(coil) = on;
    if (!on || wasOn)
        return;
    // A mode that starts begins its pass from zero; running sums go on.
    switch (coil) {
    case CoilTprByTpu1:
    case CoilTprByTpu2: {
        if (prover_[coil]) {
            prover_[coil]->Start(BuildOf(coil));
            ShowProver(coil);
            break;
        }
        TpuRun &run = tpu_[coil];
        run.Pulses12 = run.Pulses21 = run.Pulses34 = run.Pulses43 = 0;
        run.PassSeconds = 0;
        break;
    }
    case CoilTprByTpr:
        tprPulses1_ = tprPulses2_ = 0;
        break;
    case CoilPulsePack: {
        static const double delays[] = {0, 0.1, 0.5, 1, 2, 5};
        const uint16_t code = holding_[RegPackDelay] & 0xFF;
        packDelayLeft_ = code < 6 ? delays[code] : 0;
        packOut_ = packIn_ = 0;
        SetInputU32(InPulsePack, 0);
        SetInputU32(InPulsePack + 2, 0);
        break;
    }
    case CoilTq:
        tqOut_ = tqIn_ = 0;
        break;
    case CoilTpuImitation:
        imitationSeconds_ = 0;
        SetInputU32(InTpuImitation, 0);
        break;
    default:
        break;
    }
}

double SimModel::Jitter(double value, double fraction)
{
    std::uniform_real_distribution<double> spread(-fraction, fraction);
    return value * (1.0 + spread(random_));
}

void SimModel::Advance(double seconds)
{
    if (!(seconds > 0))
        return;
    seconds = std::min(seconds, 3600.0);
    for (int channel = 0; channel < 2; ++channel)
        if (coils_[channel])
            AdvanceTpu(channel, seconds);
    if (coils_[CoilTprByTpr])
        AdvanceTprByTpr(seconds);
    AdvanceFrequencyCounter();
    if (coils_[CoilPulsePack])
        AdvancePulsePack(seconds);
    if (coils_[CoilTq])
        AdvanceTq(seconds);
    if (coils_[CoilTpuImitation])
        AdvanceTpuImitation(seconds);
}

void SimModel::SetProver(const std::optional<ProverOptions> &options)
{
    proverOptions_ = options;
    for (int channel = 0; channel < 2; ++channel)
        prover_[channel] = options ? std::make_unique<ProverModel>(*options, uint64_t(channel)) : nullptr;
}

ProverBuild SimModel::BuildOf(int channel) const
{
    // The TPU2 group has the same fields 7 registers on.
    const int at = channel == 0 ? 0 : RegTpu2DetectorCount - RegTpu1DetectorCount;
    ProverBuild build;
    build.FourDetectors = (holding_[at + RegTpu1DetectorCount] & 0xFF) == 1;
    build.TwoDirections = (holding_[at + RegTpu1TpuType] & 0xFF) == 1;
    build.TwoPassSums = (holding_[at + RegTpu1SumMethod] & 0xFF) == 1;
    return build;
}

void SimModel::ShowProver(int channel)
{
    const ProverReadings &r = prover_[channel]->Readings();
    const int base = channel * 40;
    const double k = Sane(HoldingFloat(channel == 0 ? RegTpu1KFactor2 : RegTpu2KFactor2), 1e9);
    // The device's flow is its own figure: the frequency over the configured Кф2.
    SetInputFloat(base + 0, float(r.Frequency));
    SetInputFloat(base + 2, float(k > 0 ? r.Frequency * 3600.0 / k : 0.0));
    SetInputFloat(base + 4, float(r.N[0]));
    SetInputFloat(base + 6, float(r.S1));
    SetInputU32(base + 8, r.Whole[0]);
    SetInputU32(base + 10, r.S2);
    SetInputU32(base + 12, r.TimeUs[0]);
    SetInputU32(base + 14, r.S3);
    SetInputFloat(base + 16, float(r.N[1]));
    SetInputU32(base + 18, r.Whole[1]);
    SetInputU32(base + 20, r.TimeUs[1]);
    SetInputFloat(base + 22, float(r.N[2]));
    SetInputU32(base + 24, r.Whole[2]);
    SetInputU32(base + 26, r.TimeUs[2]);
    SetInputFloat(base + 28, float(r.N[3]));
    SetInputU32(base + 30, r.Whole[3]);
    SetInputU32(base + 32, r.TimeUs[3]);
    SetInputFloat(base + 34, float(r.S4));
    SetInputU32(base + 36, r.S5);
    SetInputU32(base + 38, r.S6);
}

void SimModel::AdvanceTpu(int channel, double seconds)
{
    if (prover_[channel]) {
        prover_[channel]->Advance(seconds, BuildOf(channel));
        ShowProver(channel);
        return;
    }
    TpuRun &run = tpu_[channel];
    const int base = channel * 40;
    const double k = Sane(HoldingFloat(channel == 0 ? RegTpu1KFactor2 : RegTpu2KFactor2), 1e9);
    const bool fourDetectors = (holding_[channel == 0 ? RegTpu1DetectorCount : RegTpu2DetectorCount] & 0xFF) == 1;
    const double frequency = Jitter(channel == 0 ? 400.0 : 250.0, 0.01);
    const double pulses = frequency * seconds;

    run.PassSeconds += seconds;
    if (run.PassSeconds > TpuPassSeconds) {  // the ball is back: a new pass starts
        run.PassSeconds = seconds;
        run.Pulses12 = run.Pulses21 = run.Pulses34 = run.Pulses43 = 0;
    }
    run.Pulses12 += pulses;
    run.Pulses21 += pulses * 0.9995;
    run.SumS1 += pulses;
    run.SumS2 += pulses;
    run.SumS3us += seconds * 1e6;
    if (fourDetectors) {
        run.Pulses34 += pulses * 0.5;
        run.Pulses43 += pulses * 0.4998;
        run.SumS4 += pulses * 0.5;
        run.SumS5 += pulses * 0.5;
        run.SumS6us += seconds * 1e6;
    }
    const double passUs = run.PassSeconds * 1e6;

    SetInputFloat(base + 0, float(frequency));
    SetInputFloat(base + 2, float(k > 0 ? frequency * 3600.0 / k : 0.0));
    SetInputFloat(base + 4, float(run.Pulses12));
    SetInputFloat(base + 6, float(run.SumS1));
    SetInputU32(base + 8, Wrap32(run.Pulses12));
    SetInputU32(base + 10, Wrap32(run.SumS2));
    SetInputU32(base + 12, Wrap32(passUs));
    SetInputU32(base + 14, Wrap32(run.SumS3us));
    SetInputFloat(base + 16, float(run.Pulses21));
    SetInputU32(base + 18, Wrap32(run.Pulses21));
    SetInputU32(base + 20, Wrap32(passUs * 0.9995));
    SetInputFloat(base + 22, float(run.Pulses34));
    SetInputU32(base + 24, Wrap32(run.Pulses34));
    SetInputU32(base + 26, Wrap32(fourDetectors ? passUs * 0.5 : 0));
    SetInputFloat(base + 28, float(run.Pulses43));
    SetInputU32(base + 30, Wrap32(run.Pulses43));
    SetInputU32(base + 32, Wrap32(fourDetectors ? passUs * 0.4998 : 0));
    SetInputFloat(base + 34, float(run.SumS4));
    SetInputU32(base + 36, Wrap32(run.SumS5));
    SetInputU32(base + 38, Wrap32(run.SumS6us));
}

void SimModel::AdvanceTprByTpr(double seconds)
{
    const double k1 = Sane(HoldingFloat(RegTprKFactor1), 1e9);
    const double k2 = Sane(HoldingFloat(RegTprKFactor2), 1e9);
    const double f1 = Jitter(800.0, 0.005);
    const double f2 = Jitter(k1 > 0 ? 800.0 * k2 / k1 : 800.0, 0.005);
    tprPulses1_ += f1 * seconds;
    tprPulses2_ += f2 * seconds;
    SetInputFloat(InTprByTpr + 0, float(f1));
    SetInputFloat(InTprByTpr + 2, float(f2));
    SetInputFloat(InTprByTpr + 4, float(k1 > 0 ? f1 * 3600.0 / k1 : 0.0));
    SetInputFloat(InTprByTpr + 6, float(k2 > 0 ? f2 * 3600.0 / k2 : 0.0));
    SetInputU32(InTprByTpr + 8, Wrap32(tprPulses1_));
    SetInputU32(InTprByTpr + 10, Wrap32(tprPulses2_));
}

void SimModel::AdvanceFrequencyCounter()
{
    // The counter's inputs are always measured: two signals near 1 kHz and 250 Hz.
    const double f1 = Jitter(1000.0, 0.002);
    const double f2 = Jitter(250.0, 0.002);
    SetInputFloat(InFrequencyCounter + 0, float(f1));
    SetInputFloat(InFrequencyCounter + 2, float(f2));
    SetInputFloat(InFrequencyCounter + 4, float(1e6 / f1));  // microseconds
    SetInputFloat(InFrequencyCounter + 6, float(1e6 / f2));
}

void SimModel::AdvancePulsePack(double seconds)
{
    if (packDelayLeft_ > 0) {
        const double used = std::min(seconds, packDelayLeft_);
        packDelayLeft_ -= used;
        seconds -= used;
    }
    const double target = HoldingU32(RegPackCount);
    const double frequency = Sane(HoldingFloat(RegPackFrequency), 1e6);
    packOut_ = std::min(target, packOut_ + frequency * seconds);
    const bool done = packOut_ >= target;
    // The returning pulses trail the sent ones by one while the pack runs.
    packIn_ = done ? packOut_ : std::max(0.0, std::floor(packOut_) - 1);
    SetInputU32(InPulsePack + 0, Wrap32(packOut_));
    SetInputU32(InPulsePack + 2, Wrap32(packIn_));
    if (done)
        coils_[CoilPulsePack] = false;  // the pack is out: the mode ends by itself
}

void SimModel::AdvanceTq(double seconds)
{
    const double frequency = Sane(HoldingFloat(RegTqFrequency), 1e6);
    const double sent = frequency * seconds;
    tqOut_ += sent;
    tqIn_ += Jitter(sent, 0.001);
    const double k = Sane(HoldingFloat(RegTprKFactor1), 1e9);
    SetInputU32(InTq + 0, Wrap32(tqOut_));
    SetInputU32(InTq + 2, Wrap32(tqIn_));
    SetInputFloat(InTq + 4, float(Jitter(k > 0 ? k : 1000.0, 0.0005)));
}

void SimModel::AdvanceTpuImitation(double seconds)
{
    static const double durations[] = {0.2, 1.0, 5.0};
    const uint16_t code = holding_[RegImitTpuDuration] & 0xFF;
    const double duration = code < 3 ? durations[code] : durations[0];
    const uint32_t wanted = HoldingU32(RegImitTpuCount);
    imitationSeconds_ += seconds;
    // Each pulse is followed by a pause of the same length.
    const double made = std::min<double>(wanted, std::floor(imitationSeconds_ / (2 * duration)));
    SetInputU32(InTpuImitation, Wrap32(made));
    if (made >= wanted)
        coils_[CoilTpuImitation] = false;
}

} // namespace sim
