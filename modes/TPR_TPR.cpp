#include "TPR_TPR.h"

namespace TPR_TPR {
int32_t AnswerState = AnswerReady;
int32_t RequestKind = RequestValues;
uint8_t CommandValue = NoCommand;
}  // namespace TPR_TPR

TfmTPR_TPR::TfmTPR_TPR(QWidget *parent)
    : TMeasureWindow(parent, {TPR_TPR::AnswerState, TPR_TPR::RequestKind, TPR_TPR::CommandValue},
                     MeasureTraitsOf(ModeMapOf(TModeId::TprTpr), QStringLiteral("ТПР оп ТПР"), QSize(543, 197)))
{
}
