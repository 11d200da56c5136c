#include "ModeTestRig.h"

QByteArray HexBytes(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray AppendDeviceCrc(QByteArray frame)
{
    uint16_t crc = 0xFFFF;
    for (char ch : frame) {
        crc ^= uint8_t(ch);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    frame.append(char(crc >> 8));
    frame.append(char(crc & 0xFF));
    return frame;
}
