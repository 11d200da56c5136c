#pragma once
// Number dialog: a real number with a given count of decimals within a range.

#include <cstdint>

#include "NumberDialog.h"

class TfmInput_floatValue : public TNumberDialog {
public:
    explicit TfmInput_floatValue(QWidget *owner = nullptr);
    // On "ОК" stores the field's value in `value` and returns true; otherwise leaves
    // `value` as it was and returns false.
    static bool Execute(long double &value, int32_t decimals, long double min, long double max);
};
