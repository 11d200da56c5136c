#pragma once
// The period generator window: switches coil 7 and shows whether the device runs it.

#include "GeneratorWindow.h"

namespace Generator_T {
extern int32_t AnswerState;
extern int32_t RequestKind;
extern uint8_t CommandValue;
}  // namespace Generator_T

class TfmGenerator_T : public TGeneratorWindow {
    Q_OBJECT
public:
    explicit TfmGenerator_T(QWidget *parent = nullptr);
};
