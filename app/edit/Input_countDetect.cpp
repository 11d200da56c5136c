#include "Input_countDetect.h"

const TChoiceForm &TfmInput_countDetect::Form()
{
    static const TChoiceForm form{
        .Caption = QStringLiteral("Укажите количество детекторов"),
        .Items = {QStringLiteral("2 детектора"), QStringLiteral("4 детектора")},
    };
    return form;
}

TfmInput_countDetect::TfmInput_countDetect(QWidget *owner) : TChoiceDialog(Form(), owner) {}

uint8_t TfmInput_countDetect::Execute()
{
    return ExecuteChoice<TfmInput_countDetect>();
}
