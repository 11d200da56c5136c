#include "TPR_TPU.h"

#include "Globals.h"
#include "ValueText.h"
#include "modbus.h"

#include <QTableWidget>

namespace TPR_TPU {
int32_t AnswerState = AnswerReady;
int32_t RequestKind = RequestValues;
uint8_t CommandValue = NoCommand;
uint8_t ModeSeenOn = 0;
uint8_t S2CapturePending = 0;
uint32_t S2Base[2] = {0, 0};

void NoteModeState(bool on)
{
    NoteS2ModeState(ModeSeenOn, S2CapturePending, on);
}

uint32_t RelativeS2(uint32_t raw, uint8_t isTpu1)
{
    return RelativeS2Value(ModeSeenOn, S2CapturePending, S2Base[ChannelIndex(isTpu1)], raw);
}

}  // namespace TPR_TPU

namespace {

TMeasureTraits ChannelTraits()
{
    return MeasureTraitsOf(ModeMapOf(TModeId::TprTpu1), QStringLiteral("fmTPR_TPU"), QSize(543, 562));
}

const TModeMap &ChannelMap(uint8_t isTpu1)
{
    return ModeMapOf(isTpu1 ? TModeId::TprTpu1 : TModeId::TprTpu2);
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
        return ValuesRequestFields(ChannelMap(IsTPU1).ValuesFirst, ChannelMap(IsTPU1).ValuesCount);
    case RequestCommand:
        return CommandRequestFields(uint16_t(ChannelMap(IsTPU1).Coil), Cycle().State().CommandValue);
    default:
        return TMeasureWindow::RequestFor(requestKind);
    }
}

bool TfmTPR_TPU::StatusBitSet() const
{
    return ChannelMap(IsTPU1).StatusBitSet(ReceiveBuffer);
}

void TfmTPR_TPU::StatusStep()
{
    TMeasureWindow::StatusStep();
    TPR_TPU::NoteModeState(StatusBitSet());
}

void TfmTPR_TPU::ShowValues()
{
    const TValueRow &s2 = TPR_TPU::Rows[TPR_TPU::S2Row];
    const bool s2Present = ValueRowPresent(ModeAnswerLength(), s2);
    const uint32_t shown = s2Present ? TPR_TPU::RelativeS2(WordSwappedCount(ReceiveBuffer + s2.Offset), IsTPU1) : 0;
    TMeasureWindow::ShowValues();
    if (s2Present)
        StringGrid1->item(TPR_TPU::S2Row, 1)->setText(FormatCount(shown));
}

const TModeMap *TfmTPR_TPU::Map() const
{
    return &ChannelMap(IsTPU1);
}

uint32_t *TfmTPR_TPU::SharedS2Base()
{
    return &TPR_TPU::S2Base[TPR_TPU::ChannelIndex(IsTPU1)];
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
