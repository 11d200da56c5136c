#include "Input_floatValue.h"

#include "RxCalcEdit.h"

TfmInput_floatValue::TfmInput_floatValue(QWidget *owner) : TNumberDialog(owner)
{
    RxCalcEdit1->SetDecimalPlaces(1);
    RxCalcEdit1->SetValue(1);
}

bool TfmInput_floatValue::Execute(long double &value, int32_t decimals, long double min, long double max)
{
    TfmInput_floatValue form(Owner());
    form.RxCalcEdit1->SetDecimalPlaces(decimals);
    form.RxCalcEdit1->SetMaxValue(max);
    form.RxCalcEdit1->SetMinValue(min);
    if (form.RunModal() != ModalResultOk)
        return false;
    value = form.RxCalcEdit1->Value();
    return true;
}
