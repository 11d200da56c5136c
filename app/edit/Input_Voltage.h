#pragma once
// Choice dialog: the amplitude of a generated signal, in volts.

#include "ChoiceDialog.h"

class TfmInput_Voltage : public TChoiceDialog {
public:
    explicit TfmInput_Voltage(QWidget *owner = nullptr);
    static const TChoiceForm &Form();
    // The 0-based position of the chosen item, 255 when nothing was chosen.
    static uint8_t Execute();
};
