#pragma once
// Choice dialog: the step of a current channel.

#include "ChoiceDialog.h"

class TfmInput_stepChanel : public TChoiceDialog {
public:
    explicit TfmInput_stepChanel(QWidget *owner = nullptr);
    static const TChoiceForm &Form();
    // The 0-based position of the chosen item, 255 when nothing was chosen.
    static uint8_t Execute();
};
