#pragma once
// The device simulator started for a test: in-process, on a link in a folder of the
// fixture's own, stopped (its link removed) when the fixture goes or starts it again.

#include "SimDevice.h"

#include <QString>
#include <QTemporaryDir>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class SimFixture {
public:
    SimFixture();
    ~SimFixture();
    SimFixture(const SimFixture &) = delete;
    SimFixture &operator=(const SimFixture &) = delete;

    // Starts a simulator with options on the fixture's link (or on the options' own link
    // path, when they name one), stopping the one before; false, with the reason as a
    // warning, when it cannot start.
    bool Start(sim::SimOptions options = {});
    // Stops the simulator and lets it go (its log with it); nothing when none runs.
    void Discard();

    sim::SimDevice &Device() { return *device_; }
    const sim::SimDevice &Device() const { return *device_; }
    sim::SimDevice *operator->() { return device_.get(); }
    const sim::SimDevice *operator->() const { return device_.get(); }

    // The link the program opens as its port.
    QString Link() const { return QString::fromStdString(device_->LinkPath()); }
    // The fixture's folder, and a file in it.
    QString Folder() const { return dir_.path(); }
    QString Path(const QString &name) const { return dir_.filePath(name); }

    // The requests the simulator received, in order.
    std::vector<std::vector<uint8_t>> Requests() const;
    // Registers 0..52 as the simulator holds them, register 0 first, each high byte first:
    // the bytes a read of the configuration carries.
    std::array<uint8_t, 106> ConfigRegisters() const;

private:
    QTemporaryDir dir_;
    std::unique_ptr<sim::SimDevice> device_;
};
