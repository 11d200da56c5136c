#include "Input_stepChanel.h"

const TChoiceForm &TfmInput_stepChanel::Form()
{
    static const TChoiceForm form{
        .Caption = QStringLiteral("Укажите шаг канала"),
        .Items = {QStringLiteral("10 мкА/1%"), QStringLiteral("100 мкА/2%"), QStringLiteral("1000 мкА/5%"), QStringLiteral("4000 мкА/10%")},
    };
    return form;
}

TfmInput_stepChanel::TfmInput_stepChanel(QWidget *owner) : TChoiceDialog(Form(), owner) {}

uint8_t TfmInput_stepChanel::Execute()
{
    return ExecuteChoice<TfmInput_stepChanel>();
}
