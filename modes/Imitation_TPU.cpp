#include "Imitation_TPU.h"

namespace Imitation_TPU {
int32_t AnswerState = AnswerReady;
int32_t RequestKind = RequestValues;
uint8_t CommandValue = NoCommand;
}  // namespace Imitation_TPU

TfmImitation_TPU::TfmImitation_TPU(QWidget *parent)
    : TMeasureWindow(parent, {Imitation_TPU::AnswerState, Imitation_TPU::RequestKind, Imitation_TPU::CommandValue},
                     MeasureTraitsOf(ModeMapOf(TModeId::ImitationTpu), QStringLiteral("Имитация ТПУ"), QSize(543, 99)))
{
}
