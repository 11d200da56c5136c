#pragma once
// The TQ window: switches coil 4 and shows the pulses sent and received and the K-factor.

#include "MeasureWindow.h"

namespace TQ {
extern int32_t AnswerState;
extern int32_t RequestKind;
extern uint8_t CommandValue;
inline const TValueRow (&Rows)[3] = ModeRows::Tq;
}  // namespace TQ

class TfmTQ : public TMeasureWindow {
    Q_OBJECT
public:
    explicit TfmTQ(QWidget *parent = nullptr);
};
