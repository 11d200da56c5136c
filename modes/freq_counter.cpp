#include "freq_counter.h"

namespace freq_counter {
int32_t AnswerState = AnswerReady;
int32_t RequestKind = RequestValues;
uint8_t CommandValue = NoCommand;

const TValueRow Rows[4] = {
    {"Частота по каналу 1, Гц", 3, TValueKind::Float},
    {"Частота по каналу 2, Гц", 7, TValueKind::Float},
    {"Период по каналу 1", 11, TValueKind::Float},
    {"Период по каналу 2", 15, TValueKind::Float},
};
}  // namespace freq_counter

Tfmfreq_counter::Tfmfreq_counter(QWidget *parent)
    : TMeasureWindow(parent, {freq_counter::AnswerState, freq_counter::RequestKind, freq_counter::CommandValue},
                     {QStringLiteral("Частотомер"), QSize(543, 131), freq_counter::Rows, 94, 8, 0x08, -1})
{
}
