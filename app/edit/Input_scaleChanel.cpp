#include "Input_scaleChanel.h"

const TChoiceForm &TfmInput_scaleChanel::Form()
{
    static const TChoiceForm form{
        .Caption = QStringLiteral("Укажите шкалу канала"),
        .Items = {QStringLiteral("в мкА"), QStringLiteral("в %")},
    };
    return form;
}

TfmInput_scaleChanel::TfmInput_scaleChanel(QWidget *owner) : TChoiceDialog(Form(), owner) {}

uint8_t TfmInput_scaleChanel::Execute()
{
    return ExecuteChoice<TfmInput_scaleChanel>();
}
