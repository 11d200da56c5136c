#pragma once
// Helpers for tests of the mode windows: a window whose port is replaced by an in-memory
// link (frames written are recorded, answers are fed through the receive handler), a
// reference CRC independent of the program's, and a modal-box watcher.

#include "CPort.h"
#include "ModeWindow.h"
#include "SystemErrors.h"
#include "WaitFor.h"
#include "modbus.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <algorithm>
#include <functional>
#include <memory>

// "0A 01 00" -> bytes
QByteArray HexBytes(const char *text);
// Appends the device CRC (CRC-16/MODBUS, high byte first), computed bit by bit.
QByteArray AppendDeviceCrc(QByteArray frame);

struct LinkProbe {
    QList<QByteArray> Sent;  // frames written, in order
    QByteArray Queued;       // bytes the receive handler may read
    bool FailOpen = false;   // opening throws as a held port does
    bool FailClose = false;  // closing throws as a vanished device's purge does
    int Attempts = 0;        // sends tried: open-and-write calls and failed closes
    int Closes = 0;
};

template <typename Window>
class FakeLinkWindow : public Window, public LinkProbe {
public:
    using Window::Window;

    // Queues bytes and delivers them as one receive event.
    void Feed(const QByteArray &bytes)
    {
        Queued += bytes;
        this->ComPort1RxChar(nullptr, int(bytes.size()));
    }

protected:
    void ClosePort() override
    {
        ++Closes;
        if (FailClose) {
            ++Attempts;
            throw EComPort(EComPort::PurgeFailed, 5);
        }
    }
    void OpenPortAndWrite(const uint8_t *frame, int count) override
    {
        ++Attempts;
        if (FailOpen)
            throw EComPort(EComPort::OpenFailed, SampleSystemError(TOpenFailure::Busy));
        Sent << QByteArray(reinterpret_cast<const char *>(frame), count);
    }
    void CollectAnswerBytes(int count) override
    {
        const int n = std::min<int>(count, int(Queued.size()));
        AppendToReceiveBuffer(reinterpret_cast<const uint8_t *>(Queued.constData()), n);
        Queued.remove(0, n);
    }
};

// A mode window of the kind Base on an in-memory link, as a test drives it.
template <typename Base>
struct FakeLinkRig {
    std::unique_ptr<Base> Window;
    LinkProbe *Link = nullptr;
    std::function<void(const QByteArray &)> Feed;

    // A Window of the class W; setUp, when given, runs on it first.
    template <typename W>
    static FakeLinkRig Of(const std::function<void(W &)> &setUp = {})
    {
        auto *w = new FakeLinkWindow<W>();
        if (setUp)
            setUp(*w);
        FakeLinkRig rig;
        rig.Window.reset(w);
        rig.Link = w;
        rig.Feed = [w](const QByteArray &bytes) { w->Feed(bytes); };
        return rig;
    }
};
