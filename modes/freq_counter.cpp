#include "freq_counter.h"

namespace freq_counter {
int32_t AnswerState = AnswerReady;
int32_t RequestKind = RequestValues;
uint8_t CommandValue = NoCommand;
}  // namespace freq_counter

Tfmfreq_counter::Tfmfreq_counter(QWidget *parent)
    : TMeasureWindow(parent, {freq_counter::AnswerState, freq_counter::RequestKind, freq_counter::CommandValue},
                     MeasureTraitsOf(ModeMapOf(TModeId::FreqCounter), QStringLiteral("Частотомер"), QSize(543, 131)))
{
}
