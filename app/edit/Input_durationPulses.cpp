#include "Input_durationPulses.h"

const TChoiceForm &TfmInput_durationPulses::Form()
{
    static const TChoiceForm form{
        .Caption = QStringLiteral("Укажите длительность импульсов"),
        .Items = {QStringLiteral("0.2"), QStringLiteral("1.0"), QStringLiteral("5.0")},
        .UnitLabel = QStringLiteral("сек"),
        .UnitLabelPos = QPoint(192, 27),
        .DesignedPosition = true,
    };
    return form;
}

TfmInput_durationPulses::TfmInput_durationPulses(QWidget *owner) : TChoiceDialog(Form(), owner) {}

uint8_t TfmInput_durationPulses::Execute()
{
    return ExecuteChoice<TfmInput_durationPulses>();
}
