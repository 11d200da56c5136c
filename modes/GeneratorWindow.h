#pragma once
// The form and hooks shared by the generator windows and the TC imitation window:
// a label with the state, a start/stop button and "Выход", status requests only.

#include "ModeWindow.h"

struct TGeneratorTraits {
    QString Caption;
    uint16_t Coil;             // switched by the command
    uint16_t StatusCoilCount;  // coils read by the status request
    int StatusByteOffset;      // status byte in ReceiveBuffer
    uint8_t StatusMask;        // the mode's bit in it
};

class TGeneratorWindow : public TModeWindow {
    Q_OBJECT
public:
    TGeneratorWindow(QWidget *parent, TModeState state, const TGeneratorTraits &traits);

    const TGeneratorTraits &Traits() const { return traits_; }

protected:
    std::optional<TRequestFields> RequestFor(int32_t requestKind) const override;
    bool StatusBitSet() const override;

private:
    TGeneratorTraits traits_;
};
