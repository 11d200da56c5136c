#pragma once
// Choice dialog: the type of a prover's detectors (normally open or closed).

#include "ChoiceDialog.h"

class TfmInput_typeDetect : public TChoiceDialog {
public:
    explicit TfmInput_typeDetect(QWidget *owner = nullptr);
    static const TChoiceForm &Form();
    // The 0-based position of the chosen item, 255 when nothing was chosen.
    static uint8_t Execute();
};
