#pragma once
// Choice dialog: the range of a current channel.

#include "ChoiceDialog.h"

class TfmInput_rangeChanel : public TChoiceDialog {
public:
    explicit TfmInput_rangeChanel(QWidget *owner = nullptr);
    static const TChoiceForm &Form();
    // The 0-based position of the chosen item, 255 when nothing was chosen.
    static uint8_t Execute();
};
