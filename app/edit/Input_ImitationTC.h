#pragma once
// Choice dialog: the nominal resistance of the imitated thermometer.

#include "ChoiceDialog.h"

class TfmInput_ImitationTC : public TChoiceDialog {
public:
    explicit TfmInput_ImitationTC(QWidget *owner = nullptr);
    static const TChoiceForm &Form();
    // The 0-based position of the chosen item, 255 when nothing was chosen.
    static uint8_t Execute();
};
