#pragma once
// The frequency generator window: switches coil 6 and shows whether the device runs it.

#include "GeneratorWindow.h"

namespace Generator_f {
extern int32_t AnswerState;
extern int32_t RequestKind;
extern uint8_t CommandValue;
}  // namespace Generator_f

class TfmGenerator_f : public TGeneratorWindow {
    Q_OBJECT
public:
    explicit TfmGenerator_f(QWidget *parent = nullptr);
};
