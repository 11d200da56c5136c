#include "Input_schemeDetect.h"

const TChoiceForm &TfmInput_schemeDetect::Form()
{
    static const TChoiceForm form{
        .Caption = QStringLiteral("Укажите схему подключения детекторов"),
        .Items = {QStringLiteral("раздельная"), QStringLiteral("совместная")},
        .ClientWidth = 366,
        .BoxWidth = 241,
        .ButtonX = 272,
    };
    return form;
}

TfmInput_schemeDetect::TfmInput_schemeDetect(QWidget *owner) : TChoiceDialog(Form(), owner) {}

uint8_t TfmInput_schemeDetect::Execute()
{
    return ExecuteChoice<TfmInput_schemeDetect>();
}
