#pragma once
// The TPR-by-TPR window: switches coil 2 and shows both channels' frequency, flow and pulses.

#include "MeasureWindow.h"

namespace TPR_TPR {
extern int32_t AnswerState;
extern int32_t RequestKind;
extern uint8_t CommandValue;
inline const TValueRow (&Rows)[6] = ModeRows::TprTpr;
}  // namespace TPR_TPR

class TfmTPR_TPR : public TMeasureWindow {
    Q_OBJECT
public:
    explicit TfmTPR_TPR(QWidget *parent = nullptr);
};
