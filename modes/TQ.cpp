#include "TQ.h"

namespace TQ {
int32_t AnswerState = AnswerReady;
int32_t RequestKind = RequestValues;
uint8_t CommandValue = NoCommand;

const TValueRow Rows[3] = {
    {"Количество выданных импульсов", 3, TValueKind::Count},
    {"Количество поступивших импульсов", 7, TValueKind::Count},
    {"К-фактор", 11, TValueKind::Float},
};
}  // namespace TQ

TfmTQ::TfmTQ(QWidget *parent)
    : TMeasureWindow(parent, {TQ::AnswerState, TQ::RequestKind, TQ::CommandValue},
                     {QStringLiteral("Режим TQ"), QSize(543, 121), TQ::Rows, 106, 6, 0x10, 4})
{
}
