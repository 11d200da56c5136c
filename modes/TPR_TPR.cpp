#include "TPR_TPR.h"

namespace TPR_TPR {
int32_t AnswerState = AnswerReady;
int32_t RequestKind = RequestValues;
uint8_t CommandValue = NoCommand;

const TValueRow Rows[6] = {
    {"Частота по каналу 1, Гц", 3, TValueKind::Float},
    {"Частота по каналу 2, Гц", 7, TValueKind::Float},
    {"Расход по каналу 1", 11, TValueKind::Float},
    {"Расход по каналу 2", 15, TValueKind::Float},
    {"Количество импульсов по каналу 1", 19, TValueKind::Count},
    {"Количество импульсов по каналу 2", 23, TValueKind::Count},
};
}  // namespace TPR_TPR

TfmTPR_TPR::TfmTPR_TPR(QWidget *parent)
    : TMeasureWindow(parent, {TPR_TPR::AnswerState, TPR_TPR::RequestKind, TPR_TPR::CommandValue},
                     {QStringLiteral("ТПР оп ТПР"), QSize(543, 197), TPR_TPR::Rows, 80, 12, 0x04, 2})
{
}
