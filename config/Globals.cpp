#include "Globals.h"

#include "RegisterMap.h"

TDeviceConfig DeviceConfig{};
uint8_t ReceiveBuffer[ReceiveBufferSize];
int32_t ReceiveLength = 0;
int32_t ExchangeState = ExchangeIdle;
uint8_t ConfigBlock = 0;
int32_t EditedNodeIndex = 0;

void UnpackConfigBlock(const uint8_t *answer, int block)
{
    UnpackConfigBlockInto(DeviceConfig, answer, block);
}

std::array<uint8_t, 106> PackConfigRegisters()
{
    return PackConfigRegistersOf(DeviceConfig);
}
