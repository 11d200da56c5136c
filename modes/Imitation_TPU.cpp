#include "Imitation_TPU.h"

namespace Imitation_TPU {
int32_t AnswerState = AnswerReady;
int32_t RequestKind = RequestValues;
uint8_t CommandValue = NoCommand;

const TValueRow Rows[1] = {
    {"Количество импульсов", 3, TValueKind::Count},
};
}  // namespace Imitation_TPU

TfmImitation_TPU::TfmImitation_TPU(QWidget *parent)
    : TMeasureWindow(parent, {Imitation_TPU::AnswerState, Imitation_TPU::RequestKind, Imitation_TPU::CommandValue},
                     {QStringLiteral("Имитация ТПУ"), QSize(543, 99), Imitation_TPU::Rows, 112, 2, 0x20, 5})
{
}
