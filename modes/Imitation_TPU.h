#pragma once
// The TPU imitation window: switches coil 5 and shows the pulse count of the imitation.

#include "MeasureWindow.h"

namespace Imitation_TPU {
extern int32_t AnswerState;
extern int32_t RequestKind;
extern uint8_t CommandValue;
inline const TValueRow (&Rows)[1] = ModeRows::ImitationTpu;
}  // namespace Imitation_TPU

class TfmImitation_TPU : public TMeasureWindow {
    Q_OBJECT
public:
    explicit TfmImitation_TPU(QWidget *parent = nullptr);
};
