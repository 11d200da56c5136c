#include "Input_ImitationTC.h"

const TChoiceForm &TfmInput_ImitationTC::Form()
{
    static const TChoiceForm form{
        .Caption = QStringLiteral("Укажите номинал сопротивления"),
        .Items = {QStringLiteral("1-й номинал"), QStringLiteral("2-й номинал"), QStringLiteral("3-й номинал"), QStringLiteral("4-й номинал"), QStringLiteral("5-й номинал")},
    };
    return form;
}

TfmInput_ImitationTC::TfmInput_ImitationTC(QWidget *owner) : TChoiceDialog(Form(), owner) {}

uint8_t TfmInput_ImitationTC::Execute()
{
    return ExecuteChoice<TfmInput_ImitationTC>();
}
