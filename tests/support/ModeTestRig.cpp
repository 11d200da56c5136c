#include "ModeTestRig.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

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

bool WaitFor(const std::function<bool()> &cond, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer wake;  // wakes the wait below so the condition is looked at every 10 ms
    wake.start(10);
    while (!cond()) {
        if (deadline.hasExpired())
            return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}
