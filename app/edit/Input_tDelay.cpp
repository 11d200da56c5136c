#include "Input_tDelay.h"

const TChoiceForm &TfmInput_tDelay::Form()
{
    static const TChoiceForm form{
        .Caption = QStringLiteral("Укажите время задержки"),
        .Items = {QStringLiteral("0"), QStringLiteral("0.1"), QStringLiteral("0.5"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("5")},
    };
    return form;
}

TfmInput_tDelay::TfmInput_tDelay(QWidget *owner) : TChoiceDialog(Form(), owner) {}

uint8_t TfmInput_tDelay::Execute()
{
    return ExecuteChoice<TfmInput_tDelay>();
}
