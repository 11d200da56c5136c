#pragma once
// Number dialog: a whole number within a range.

#include <cstdint>

#include "NumberDialog.h"

class TfmInput_wordValue : public TNumberDialog {
public:
    explicit TfmInput_wordValue(QWidget *owner = nullptr);
    // On "ОК" stores the field's value, cut toward zero, in `value` and returns true;
    // otherwise leaves `value` as it was and returns false.
    static bool Execute(int32_t &value, long double min, long double max);
};

// A value cut toward zero to a 32-bit signed integer, held within that type's range.
int32_t TruncateToInt32(long double value);
