#include "pack_pulses.h"

namespace pack_pulses {
int32_t AnswerState = AnswerReady;
int32_t RequestKind = RequestValues;
uint8_t CommandValue = NoCommand;

// The first value of the answer (registers 102-103) is the output count.
const TValueRow Rows[2] = {
    {"Количество импульсов N1(вх)", 7, TValueKind::Count},
    {"Количество импульсов N2(вых)", 3, TValueKind::Count},
};
}  // namespace pack_pulses

Tfmpack_pulses::Tfmpack_pulses(QWidget *parent)
    : TMeasureWindow(parent, {pack_pulses::AnswerState, pack_pulses::RequestKind, pack_pulses::CommandValue},
                     {QStringLiteral("Пачка импульсов"), QSize(543, 99), pack_pulses::Rows, 102, 4, 0x08, 3,
                      TSendFailure::Propagate})
{
}
