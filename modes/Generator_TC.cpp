#include "Generator_TC.h"

namespace Generator_TC {
int32_t AnswerState = AnswerReady;
int32_t RequestKind = RequestStatus;
uint8_t CommandValue = NoCommand;
}  // namespace Generator_TC

TfmGenerator_TC::TfmGenerator_TC(QWidget *parent)
    : TGeneratorWindow(parent,
                       {Generator_TC::AnswerState, Generator_TC::RequestKind, Generator_TC::CommandValue},
                       GeneratorTraitsOf(ModeMapOf(TModeId::TcImitation), QStringLiteral("Имитация ТС")))
{
}
