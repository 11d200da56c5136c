#include "Generator_T.h"

namespace Generator_T {
int32_t AnswerState = AnswerReady;
int32_t RequestKind = RequestStatus;
uint8_t CommandValue = NoCommand;
}  // namespace Generator_T

TfmGenerator_T::TfmGenerator_T(QWidget *parent)
    : TGeneratorWindow(parent,
                       {Generator_T::AnswerState, Generator_T::RequestKind, Generator_T::CommandValue},
                       GeneratorTraitsOf(ModeMapOf(TModeId::GeneratorT), QStringLiteral("Генератор T")))
{
}
