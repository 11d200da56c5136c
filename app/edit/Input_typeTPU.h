#pragma once
// Choice dialog: the type of prover.

#include "ChoiceDialog.h"

class TfmInput_typeTPU : public TChoiceDialog {
public:
    explicit TfmInput_typeTPU(QWidget *owner = nullptr);
    static const TChoiceForm &Form();
    // The 0-based position of the chosen item, 255 when nothing was chosen.
    static uint8_t Execute();
};
