#pragma once
// Choice dialog: the delay before a pulse pack, in seconds.

#include "ChoiceDialog.h"

class TfmInput_tDelay : public TChoiceDialog {
public:
    explicit TfmInput_tDelay(QWidget *owner = nullptr);
    static const TChoiceForm &Form();
    // The 0-based position of the chosen item, 255 when nothing was chosen.
    static uint8_t Execute();
};
