#include "Generator_f.h"

namespace Generator_f {
int32_t AnswerState = AnswerReady;
int32_t RequestKind = RequestStatus;
uint8_t CommandValue = NoCommand;
}  // namespace Generator_f

TfmGenerator_f::TfmGenerator_f(QWidget *parent)
    : TGeneratorWindow(parent,
                       {Generator_f::AnswerState, Generator_f::RequestKind, Generator_f::CommandValue},
                       GeneratorTraitsOf(ModeMapOf(TModeId::GeneratorF), QStringLiteral("Генератор f")))
{
}
