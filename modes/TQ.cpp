#include "TQ.h"

namespace TQ {
int32_t AnswerState = AnswerReady;
int32_t RequestKind = RequestValues;
uint8_t CommandValue = NoCommand;
}  // namespace TQ

TfmTQ::TfmTQ(QWidget *parent)
    : TMeasureWindow(parent, {TQ::AnswerState, TQ::RequestKind, TQ::CommandValue},
                     MeasureTraitsOf(ModeMapOf(TModeId::Tq), QStringLiteral("Режим TQ"), QSize(543, 121)))
{
}
