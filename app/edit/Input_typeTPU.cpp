#include "Input_typeTPU.h"

const TChoiceForm &TfmInput_typeTPU::Form()
{
    static const TChoiceForm form{
        .Caption = QStringLiteral("Укажите тип ТПУ"),
        .Items = {QStringLiteral("1-направленная"), QStringLiteral("2-направленная")},
        .OrdinaryWindow = true,
        .DesignedPosition = true,
    };
    return form;
}

TfmInput_typeTPU::TfmInput_typeTPU(QWidget *owner) : TChoiceDialog(Form(), owner) {}

uint8_t TfmInput_typeTPU::Execute()
{
    return ExecuteChoice<TfmInput_typeTPU>();
}
