#pragma once
// Choice dialog: the duration of imitated prover pulses, in seconds.

#include "ChoiceDialog.h"

class TfmInput_durationPulses : public TChoiceDialog {
public:
    explicit TfmInput_durationPulses(QWidget *owner = nullptr);
    static const TChoiceForm &Form();
    // The 0-based position of the chosen item, 255 when nothing was chosen.
    static uint8_t Execute();
};
