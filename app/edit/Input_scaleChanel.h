#pragma once
// Choice dialog: the scale of a current channel.

#include "ChoiceDialog.h"

class TfmInput_scaleChanel : public TChoiceDialog {
public:
    explicit TfmInput_scaleChanel(QWidget *owner = nullptr);
    static const TChoiceForm &Form();
    // The 0-based position of the chosen item, 255 when nothing was chosen.
    static uint8_t Execute();
};
