#include "RegisterMap.h"

#include <array>
#include <bit>

namespace {

using C = TDeviceConfig;

const ConfigField Fields[] = {
    {2, 0, &C::Tpu1DetectorCount, "Tpu1DetectorCount"},
    {3, 1, &C::Tpu1DetectorType, "Tpu1DetectorType"},
    {4, 2, &C::Tpu1DetectorScheme, "Tpu1DetectorScheme"},
    {5, 3, &C::Tpu1TpuType, "Tpu1TpuType"},
    {6, 4, &C::Tpu1SumMethod, "Tpu1SumMethod"},
    {7, 5, &C::Tpu1KFactor2, "Tpu1KFactor2"},
    {9, 7, &C::Tpu2DetectorCount, "Tpu2DetectorCount"},
    {10, 8, &C::Tpu2DetectorType, "Tpu2DetectorType"},
    {11, 9, &C::Tpu2DetectorScheme, "Tpu2DetectorScheme"},
    {12, 10, &C::Tpu2TpuType, "Tpu2TpuType"},
    {13, 11, &C::Tpu2SumMethod, "Tpu2SumMethod"},
    {14, 12, &C::Tpu2KFactor2, "Tpu2KFactor2"},
    {16, 14, &C::TprN1Min, "TprN1Min"},
    {17, 16, &C::TprN1Max, "TprN1Max"},
    {18, 18, &C::TprKFactor1, "TprKFactor1"},
    {19, 20, &C::TprKFactor2, "TprKFactor2"},
    {21, 22, &C::PackCount, "PackCount"},
    {22, 24, &C::PackFrequency, "PackFrequency"},
    {23, 26, &C::PackVoltage, "PackVoltage"},
    {24, 27, &C::PackDelay, "PackDelay"},
    {26, 28, &C::TqN1Min, "TqN1Min"},
    {27, 30, &C::TqN1Max, "TqN1Max"},
    {28, 32, &C::TqFrequency, "TqFrequency"},
    {29, 34, &C::TqVoltage, "TqVoltage"},
    {31, 35, &C::ImitTpuDuration, "ImitTpuDuration"},
    {32, 36, &C::ImitTpuCount, "ImitTpuCount"},
    {34, 38, &C::GenFFrequency, "GenFFrequency"},
    {35, 40, &C::GenFVoltage, "GenFVoltage"},
    {37, 41, &C::GenTPeriod, "GenTPeriod"},
    {38, 43, &C::GenTVoltage, "GenTVoltage"},
    {40, 44, &C::GenICurrent1, "GenICurrent1"},
    {41, 45, &C::GenICurrent2, "GenICurrent2"},
    {42, 46, &C::GenIRange1, "GenIRange1"},
    {43, 47, &C::GenIStep1, "GenIStep1"},
    {44, 48, &C::GenIScale1, "GenIScale1"},
    {45, 49, &C::GenIRange2, "GenIRange2"},
    {46, 50, &C::GenIStep2, "GenIStep2"},
    {47, 51, &C::GenIScale2, "GenIScale2"},
    {49, 52, &C::ImitTcResistance, "ImitTcResistance"},
};

// Word-swapped layout of a 32-bit pattern: register r carries bits 15..0, register r+1
// bits 31..16, each high byte first.
void PutSwapped(uint32_t v, uint8_t *b)
{
    b[0] = uint8_t(v >> 8);
    b[1] = uint8_t(v);
    b[2] = uint8_t(v >> 24);
    b[3] = uint8_t(v >> 16);
}

uint32_t GetSwapped(const uint8_t *b)
{
    return uint32_t(b[2]) << 24 | uint32_t(b[3]) << 16 | uint32_t(b[0]) << 8 | uint32_t(b[1]);
}

}  // namespace

FieldKind ConfigField::Kind() const
{
    switch (Member.index()) {
    case 0: return FieldKind::Code;
    case 1: return FieldKind::U16;
    case 2: return FieldKind::U32;
    default: return FieldKind::Real;
    }
}

std::span<const ConfigField> ConfigFields()
{
    return Fields;
}

const ConfigField *FieldOfNode(int index)
{
    for (const ConfigField &f : Fields)
        if (f.TreeIndex == index)
            return &f;
    return nullptr;
}

void PackField(const ConfigField &field, const TDeviceConfig &config, uint8_t *bytes)
{
    std::visit(
        [&](auto member) {
            using T = std::remove_cvref_t<decltype(config.*member)>;
            const T v = config.*member;
            if constexpr (std::is_same_v<T, uint8_t>) {
                bytes[0] = 0;
                bytes[1] = v;
            } else if constexpr (std::is_same_v<T, uint16_t>) {
                bytes[0] = uint8_t(v >> 8);
                bytes[1] = uint8_t(v);
            } else if constexpr (std::is_same_v<T, uint32_t>) {
                PutSwapped(v, bytes);
            } else {
                PutSwapped(std::bit_cast<uint32_t>(v), bytes);
            }
        },
        field.Member);
}

void UnpackField(const ConfigField &field, const uint8_t *bytes, TDeviceConfig &config)
{
    std::visit(
        [&](auto member) {
            using T = std::remove_cvref_t<decltype(config.*member)>;
            T &v = config.*member;
            if constexpr (std::is_same_v<T, uint8_t>)
                v = bytes[1];  // the high byte of a code register is ignored
            else if constexpr (std::is_same_v<T, uint16_t>)
                v = uint16_t(bytes[0] << 8 | bytes[1]);
            else if constexpr (std::is_same_v<T, uint32_t>)
                v = GetSwapped(bytes);
            else
                v = std::bit_cast<float>(GetSwapped(bytes));  // bit pattern kept as it is
        },
        field.Member);
}

void UnpackConfigBlockInto(TDeviceConfig &config, const uint8_t *answer, int block)
{
    int first, count;
    if (block == 1) {
        first = ConfigBlock1First;
        count = ConfigBlock1Count;
    } else if (block == 2) {
        first = ConfigBlock2First;
        count = ConfigBlock2Count;
    } else {
        return;
    }
    const uint8_t *data = answer + 3;  // after address, function code and byte count
    for (const ConfigField &f : Fields) {
        const int k = f.FirstRegister - first;
        if (k >= 0 && k + f.RegisterCount() <= count)
            UnpackField(f, data + 2 * k, config);
    }
}

std::array<uint8_t, 2 * ConfigRegisterCount> PackConfigRegistersOf(const TDeviceConfig &config)
{
    std::array<uint8_t, 2 * ConfigRegisterCount> out{};
    for (const ConfigField &f : Fields)
        PackField(f, config, out.data() + 2 * f.FirstRegister);
    return out;
}
