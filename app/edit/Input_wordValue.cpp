#include "Input_wordValue.h"

#include <cmath>
#include <limits>

#include "RxCalcEdit.h"

TfmInput_wordValue::TfmInput_wordValue(QWidget *owner) : TNumberDialog(owner)
{
    RxCalcEdit1->SetDecimalPlaces(0);
    RxCalcEdit1->SetDisplayFormat(QStringLiteral("0"));
    RxCalcEdit1->SetValue(1);
}

int32_t TruncateToInt32(long double value)
{
    if (std::isnan(value))
        return 0;
    const long double cut = std::trunc(value);
    if (cut <= std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    if (cut >= std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    return int32_t(cut);
}

bool TfmInput_wordValue::Execute(int32_t &value, long double min, long double max)
{
    TfmInput_wordValue form(Owner());
    form.RxCalcEdit1->SetMinValue(min);
    form.RxCalcEdit1->SetMaxValue(max);
    if (form.RunModal() != ModalResultOk)
        return false;
    value = TruncateToInt32(form.RxCalcEdit1->Value());
    return true;
}
