#pragma once
// Choice dialog: how the pulse sum is counted.

#include "ChoiceDialog.h"

class TfmInput_RaschetSum : public TChoiceDialog {
public:
    explicit TfmInput_RaschetSum(QWidget *owner = nullptr);
    static const TChoiceForm &Form();
    // The 0-based position of the chosen item, 255 when nothing was chosen.
    static uint8_t Execute();
};
