#include "Input_RaschetSum.h"

const TChoiceForm &TfmInput_RaschetSum::Form()
{
    static const TChoiceForm form{
        .Caption = QStringLiteral("Способ расчета суммы"),
        .Items = {QStringLiteral("за 1 проход"), QStringLiteral("за 2 прохода")},
    };
    return form;
}

TfmInput_RaschetSum::TfmInput_RaschetSum(QWidget *owner) : TChoiceDialog(Form(), owner) {}

uint8_t TfmInput_RaschetSum::Execute()
{
    return ExecuteChoice<TfmInput_RaschetSum>();
}
