#include "TPR_TPU.h"

#include "Globals.h"
#include "ValueText.h"

#include <QTableWidget>

namespace TPR_TPU {
int32_t AnswerState = AnswerReady;
int32_t RequestKind = RequestValues;
uint8_t CommandValue = NoCommand;
uint8_t ModeSeenOn = 0;
uint8_t S2CapturePending = 0;
uint32_t S2Base = 0;

const TValueRow Rows[20] = {
    {"Частота, Гц", 3, TValueKind::Float},
    {"Расход", 7, TValueKind::Float},
    {"Количество импульсов с долями, N1-2др", 11, TValueKind::Float},
    {"Суммарное количество импульсов с долями, S1", 15, TValueKind::Float},
    {"Целое количество импульсов, N1-2цел", 19, TValueKind::Count},
    {"Суммарное целое количество ипульсов S2", 23, TValueKind::Count},
    {"Время между срабатываниями детекторов Т1-2,мкС", 27, TValueKind::Count},
    {"Суммарное время S3, мкС", 31, TValueKind::Count},
    {"Количество импульсов с долями, N2-1др", 35, TValueKind::Float},
    {"Целое количество импульсов, N2-1цел", 39, TValueKind::Count},
    {"Время между срабатываниями детекторов Т2-1,мкС", 43, TValueKind::Count},
    {"Количество импульсов с долями, N3-4др", 47, TValueKind::Float},
    {"Целое количество импульсов, N3-4цел", 51, TValueKind::Count},
    {"Время между срабатываниями детекторов Т3-4,мкС", 55, TValueKind::Count},
    {"Количество импульсов с долями, N4-3др", 59, TValueKind::Float},
    {"Целое количество импульсов, N4-3цел", 63, TValueKind::Count},
    {"Время между срабатываниями детекторов Т4-3,мкС", 67, TValueKind::Count},
    {"Суммарное количество импульсов с долями, S4", 71, TValueKind::Float},
    {"Суммарное целое количество ипульсов S5", 75, TValueKind::Count},
    {"Суммарное время S6, мкС", 79, TValueKind::Count},
};

void NoteModeState(bool on)
{
    if (on) {
        if (!ModeSeenOn) {
            ModeSeenOn = 1;
            S2CapturePending = 1;
        } else {
            S2CapturePending = 0;
        }
    } else {
        ModeSeenOn = 0;
    }
}

uint32_t RelativeS2(uint32_t raw)
{
    if (S2CapturePending && ModeSeenOn) {
        S2Base = raw;
        S2CapturePending = 0;
    }
    return raw - S2Base;
}

}  // namespace TPR_TPU

namespace {

constexpr uint16_t ChannelRegisters = 40;

TMeasureTraits ChannelTraits()
{
    return {QStringLiteral("fmTPR_TPU"), QSize(543, 562), TPR_TPU::Rows, 0, ChannelRegisters, 0x01, 0};
}

}  // namespace

TfmTPR_TPU::TfmTPR_TPU(QWidget *parent)
    : TMeasureWindow(parent, {TPR_TPU::AnswerState, TPR_TPU::RequestKind, TPR_TPU::CommandValue}, ChannelTraits())
{
    TPR_TPU::ModeSeenOn = 0;
    TPR_TPU::S2CapturePending = 0;
}

void TfmTPR_TPU::SelectTPU(uint8_t isTpu1)
{
    IsTPU1 = isTpu1;
}

std::optional<TRequestFields> TfmTPR_TPU::RequestFor(int32_t requestKind) const
{
    switch (requestKind) {
    case RequestValues:
        return ValuesRequestFields(IsTPU1 ? 0 : ChannelRegisters, ChannelRegisters);
    case RequestCommand:
        return CommandRequestFields(IsTPU1 ? 0 : 1, Cycle().State().CommandValue);
    default:
        return TMeasureWindow::RequestFor(requestKind);
    }
}

bool TfmTPR_TPU::StatusBitSet() const
{
    return (ReceiveBuffer[3] & (IsTPU1 ? 0x01 : 0x02)) != 0;
}

void TfmTPR_TPU::StatusStep()
{
    TMeasureWindow::StatusStep();
    TPR_TPU::NoteModeState(StatusBitSet());
}

void TfmTPR_TPU::ShowValues()
{
    const TValueRow &s2 = TPR_TPU::Rows[TPR_TPU::S2Row];
    const bool s2Present = ValueRowPresent(ReceiveLength, s2);
    const uint32_t shown = s2Present ? TPR_TPU::RelativeS2(WordSwappedCount(ReceiveBuffer + s2.Offset)) : 0;
    TMeasureWindow::ShowValues();
    if (s2Present)
        StringGrid1->item(TPR_TPU::S2Row, 1)->setText(FormatCount(shown));
}

void TfmTPR_TPU::showEvent(QShowEvent *event)
{
    FormShow();
    TMeasureWindow::showEvent(event);
}

void TfmTPR_TPU::FormShow()
{
    setWindowTitle(IsTPU1 ? QStringLiteral("ТПР по ТПУ1") : QStringLiteral("ТПР по ТПУ2"));
}
