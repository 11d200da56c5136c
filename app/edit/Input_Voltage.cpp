#include "Input_Voltage.h"

const TChoiceForm &TfmInput_Voltage::Form()
{
    static const TChoiceForm form{
        .Caption = QStringLiteral("Величина напряжения сигнала"),
        .Items = {QStringLiteral("0.01"), QStringLiteral("0.025"), QStringLiteral("0.05"), QStringLiteral("0.1"), QStringLiteral("0.25"),
                  QStringLiteral("0.5"), QStringLiteral("1.0"), QStringLiteral("2.5"), QStringLiteral("5.0")},
        .BoxWidth = 161,
        .UnitLabel = QStringLiteral("В"),
        .UnitLabelPos = QPoint(184, 28),
        .DesignedPosition = true,
    };
    return form;
}

TfmInput_Voltage::TfmInput_Voltage(QWidget *owner) : TChoiceDialog(Form(), owner) {}

uint8_t TfmInput_Voltage::Execute()
{
    return ExecuteChoice<TfmInput_Voltage>();
}
