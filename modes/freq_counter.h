#pragma once
// The frequency counter window: only watches coil 3 and the measured frequencies and
// periods; it has no start/stop button and never sends a command.

#include "MeasureWindow.h"

namespace freq_counter {
extern int32_t AnswerState;
extern int32_t RequestKind;
extern uint8_t CommandValue;
inline const TValueRow (&Rows)[4] = ModeRows::FreqCounter;
}  // namespace freq_counter

class Tfmfreq_counter : public TMeasureWindow {
    Q_OBJECT
public:
    explicit Tfmfreq_counter(QWidget *parent = nullptr);
};
