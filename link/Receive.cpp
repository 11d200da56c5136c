#include "Receive.h"

#include "CPort.h"
#include "Globals.h"
#include "modbus.h"

#include <algorithm>

void CollectReceivedBytes(TCustomComPort &port, int count)
{
    uint8_t piece[ReceiveBufferSize];
    while (count > 0) {
        const int wanted = std::min(count, ReceiveBufferSize);
        const int got = port.Read(piece, wanted);
        if (got <= 0)
            break;
        AppendToReceiveBuffer(piece, std::min(got, wanted));
        count -= got;
    }
}
