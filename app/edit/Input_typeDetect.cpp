#include "Input_typeDetect.h"

const TChoiceForm &TfmInput_typeDetect::Form()
{
    static const TChoiceForm form{
        .Caption = QStringLiteral("Укажите тип детекторов"),
        .Items = {QStringLiteral("НО"), QStringLiteral("НЗ")},
    };
    return form;
}

TfmInput_typeDetect::TfmInput_typeDetect(QWidget *owner) : TChoiceDialog(Form(), owner) {}

uint8_t TfmInput_typeDetect::Execute()
{
    return ExecuteChoice<TfmInput_typeDetect>();
}
