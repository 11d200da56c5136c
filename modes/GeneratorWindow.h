#pragma once
// The form and hooks shared by the generator windows and the TC imitation window:
// a label with the state, a start/stop button and "Выход", status requests only.

#include "ModeMap.h"
#include "ModeWindow.h"

struct TGeneratorTraits {
    QString Caption;
    uint16_t Coil;             // switched by the command
    uint16_t StatusCoilCount;  // coils read by the status request
    int StatusByteOffset;      // status byte in ReceiveBuffer
    uint8_t StatusMask;        // the mode's bit in it
    const TModeMap *Map = nullptr;  // the mode, for the window's record
};

// The traits of a generator's window: its caption, the rest from the mode's map.
TGeneratorTraits GeneratorTraitsOf(const TModeMap &map, const QString &caption);

class TGeneratorWindow : public TModeWindow {
    Q_OBJECT
public:
    TGeneratorWindow(QWidget *parent, TModeState state, const TGeneratorTraits &traits);

    const TGeneratorTraits &Traits() const { return traits_; }

protected:
    std::optional<TRequestFields> RequestFor(int32_t requestKind) const override;
    bool StatusBitSet() const override;
    const TModeMap *Map() const override { return traits_.Map; }

private:
    TGeneratorTraits traits_;
};
