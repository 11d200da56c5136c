#pragma once
// The map of DeviceConfig onto the device's 53 holding registers: one row per field,
// giving its tree index, its first register and its kind. Packing, unpacking, the value
// texts and the editing all walk this one table.

#include "Globals.h"

#include <cstdint>
#include <span>
#include <variant>

enum class FieldKind {
    Code,  // one register, the code in its low byte
    U16,   // one register holding the whole value
    U32,   // word-swapped count: register r bits 15..0, register r+1 bits 31..16
    Real,  // word-swapped float: the bit pattern placed like a U32
};

struct ConfigField {
    int TreeIndex;
    int FirstRegister;
    std::variant<uint8_t TDeviceConfig::*, uint16_t TDeviceConfig::*,
                 uint32_t TDeviceConfig::*, float TDeviceConfig::*> Member;
    const char *Name;

    FieldKind Kind() const;
    int RegisterCount() const { return Kind() == FieldKind::U32 || Kind() == FieldKind::Real ? 2 : 1; }
};

constexpr int ConfigRegisterCount = 53;
constexpr int ConfigBlock1First = 0;
constexpr int ConfigBlock1Count = 38;
constexpr int ConfigBlock2First = 38;
constexpr int ConfigBlock2Count = 15;

// All 39 fields, in register order.
std::span<const ConfigField> ConfigFields();
// The field shown at tree index `index`, or nullptr for the root, a group or an unknown index.
const ConfigField *FieldOfNode(int index);

// One field's registers as 2 or 4 wire bytes (each register high byte first) and back.
void PackField(const ConfigField &field, const TDeviceConfig &config, uint8_t *bytes);
void UnpackField(const ConfigField &field, const uint8_t *bytes, TDeviceConfig &config);

// The pure forms behind UnpackConfigBlock and PackConfigRegisters.
void UnpackConfigBlockInto(TDeviceConfig &config, const uint8_t *answer, int block);
std::array<uint8_t, 2 * ConfigRegisterCount> PackConfigRegistersOf(const TDeviceConfig &config);
