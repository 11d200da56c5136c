#pragma once
// The pulse pack window: switches coil 3 and shows the input and output pulse counts.
// A port that cannot be opened or written is not caught here: the error goes to the
// general error report and polling goes on, trying again after each time-out.

#include "MeasureWindow.h"

namespace pack_pulses {
extern int32_t AnswerState;
extern int32_t RequestKind;
extern uint8_t CommandValue;
inline const TValueRow (&Rows)[2] = ModeRows::PackPulses;
}  // namespace pack_pulses

class Tfmpack_pulses : public TMeasureWindow {
    Q_OBJECT
public:
    explicit Tfmpack_pulses(QWidget *parent = nullptr);
};
