#include "ResetGlobals.h"

#include "Globals.h"

#include <cstring>

void ResetGlobals()
{
    DeviceConfig = TDeviceConfig{};
    ExchangeState = ExchangeIdle;
    ConfigBlock = 0;
    EditedNodeIndex = 0;
    std::memset(ReceiveBuffer, 0xEE, sizeof ReceiveBuffer);
    ReceiveLength = 0;
}
