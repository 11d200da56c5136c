#pragma once
// The TC imitation window: switches coil 8 and shows whether the device runs it.

#include "GeneratorWindow.h"

namespace Generator_TC {
extern int32_t AnswerState;
extern int32_t RequestKind;
extern uint8_t CommandValue;
}  // namespace Generator_TC

class TfmGenerator_TC : public TGeneratorWindow {
    Q_OBJECT
public:
    explicit TfmGenerator_TC(QWidget *parent = nullptr);
};
