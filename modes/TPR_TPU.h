#pragma once
// The TPR-by-TPU window: one class for both TPU channels. Switches coil 0 or 1, shows the
// channel's 20 values; the S2 sum is shown relative to the channel's base, taken when the
// mode is seen starting, and the record of the run writes it as shown.

#include "MeasureWindow.h"

namespace TPR_TPU {
extern int32_t AnswerState;
extern int32_t RequestKind;
extern uint8_t CommandValue;
extern uint8_t ModeSeenOn;        // the mode has been seen on since a status answer showed it off
extern uint8_t S2CapturePending;  // the next values answer gives the S2 base
// One base per channel (index 0: TPU1, 1: TPU2), for the whole run of the program: the
// counters of the two channels have nothing to do with each other.
extern uint32_t S2Base[2];
inline int ChannelIndex(uint8_t isTpu1) { return isTpu1 ? 0 : 1; }

// The S2 part of the status step.
void NoteModeState(bool on);
// The S2 part of the values step: takes a pending base from raw, returns raw minus the
// channel's base (modulo 2^32).
uint32_t RelativeS2(uint32_t raw, uint8_t isTpu1);

inline const TValueRow (&Rows)[20] = ModeRows::TprTpu;
constexpr int S2Row = ModeRows::TprTpuS2Row;
}  // namespace TPR_TPU

class TfmTPR_TPU : public TMeasureWindow {
    Q_OBJECT
public:
    explicit TfmTPR_TPU(QWidget *parent = nullptr);

    uint8_t IsTPU1 = 0;
    void SelectTPU(uint8_t isTpu1);

protected:
    std::optional<TRequestFields> RequestFor(int32_t requestKind) const override;
    bool StatusBitSet() const override;
    void StatusStep() override;
    void ShowValues() override;
    const TModeMap *Map() const override;
    uint32_t *SharedS2Base() override;
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();
};
