#include "pack_pulses.h"

namespace pack_pulses {
int32_t AnswerState = AnswerReady;
int32_t RequestKind = RequestValues;
uint8_t CommandValue = NoCommand;
}  // namespace pack_pulses

Tfmpack_pulses::Tfmpack_pulses(QWidget *parent)
    : TMeasureWindow(parent, {pack_pulses::AnswerState, pack_pulses::RequestKind, pack_pulses::CommandValue},
                     MeasureTraitsOf(ModeMapOf(TModeId::PackPulses), QStringLiteral("Пачка импульсов"), QSize(543, 99),
                                     TSendFailure::Propagate))
{
}
