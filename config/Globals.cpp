// Placeholder so that the program links until the configuration record lands.
#include "Globals.h"
TDeviceConfig DeviceConfig{};
uint8_t ReceiveBuffer[ReceiveBufferSize];
int32_t ReceiveLength = 0;
int32_t ExchangeState = 0;
uint8_t ConfigBlock = 0;
int32_t EditedNodeIndex = 0;
void UnpackConfigBlock(const uint8_t *, int) {}
std::array<uint8_t, 106> PackConfigRegisters() { return {}; }
