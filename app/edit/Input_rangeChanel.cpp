#include "Input_rangeChanel.h"

const TChoiceForm &TfmInput_rangeChanel::Form()
{
    static const TChoiceForm form{
        .Caption = QStringLiteral("Укажите диапазон канала"),
        .Items = {QStringLiteral("4-20 мА"), QStringLiteral("0-20 мА")},
    };
    return form;
}

TfmInput_rangeChanel::TfmInput_rangeChanel(QWidget *owner) : TChoiceDialog(Form(), owner) {}

uint8_t TfmInput_rangeChanel::Execute()
{
    return ExecuteChoice<TfmInput_rangeChanel>();
}
