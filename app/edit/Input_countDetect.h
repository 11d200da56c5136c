#pragma once
// Choice dialog: the count of a prover's detectors.

#include "ChoiceDialog.h"

class TfmInput_countDetect : public TChoiceDialog {
public:
    explicit TfmInput_countDetect(QWidget *owner = nullptr);
    static const TChoiceForm &Form();
    // The 0-based position of the chosen item, 255 when nothing was chosen.
    static uint8_t Execute();
};
