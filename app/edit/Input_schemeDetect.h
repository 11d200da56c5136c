#pragma once
// Choice dialog: how a prover's detectors are wired.

#include "ChoiceDialog.h"

class TfmInput_schemeDetect : public TChoiceDialog {
public:
    explicit TfmInput_schemeDetect(QWidget *owner = nullptr);
    static const TChoiceForm &Form();
    // The 0-based position of the chosen item, 255 when nothing was chosen.
    static uint8_t Execute();
};
