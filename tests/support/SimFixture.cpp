#include "SimFixture.h"

#include "RegisterMap.h"

#include <QtGlobal>

SimFixture::SimFixture() = default;

SimFixture::~SimFixture()
{
    Discard();
}

bool SimFixture::Start(sim::SimOptions options)
{
    Discard();
    if (!dir_.isValid()) {
        qWarning("no folder for the simulator's link: %s", qPrintable(dir_.errorString()));
        return false;
    }
    if (options.LinkPath.empty())
        options.LinkPath = Path(QStringLiteral("ttyV0")).toStdString();
    device_ = std::make_unique<sim::SimDevice>(options);
    std::string error;
    if (device_->Start(&error))
        return true;
    qWarning("the simulator did not start: %s", error.c_str());
    return false;
}

void SimFixture::Discard()
{
    device_.reset();
}

std::vector<std::vector<uint8_t>> SimFixture::Requests() const
{
    std::vector<std::vector<uint8_t>> out;
    for (const sim::LogEntry &e : device_->Log())
        if (e.Kind == sim::LogEntry::Request)
            out.push_back(e.Bytes);
    return out;
}

std::array<uint8_t, 106> SimFixture::ConfigRegisters() const
{
    static_assert(2 * ConfigRegisterCount == 106);
    std::array<uint8_t, 106> bytes{};
    for (int r = 0; r < ConfigRegisterCount; ++r) {
        const uint16_t value = device_->Holding(r);
        bytes[2 * r] = uint8_t(value >> 8);
        bytes[2 * r + 1] = uint8_t(value & 0xFF);
    }
    return bytes;
}
