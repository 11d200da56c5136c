#pragma once
// The TPR-by-TPU window: one class for both TPU channels. Switches coil 0 or 1, shows the
// channel's 20 values; the S2 sum is shown relative to a base taken when the mode is seen
// starting.

#include "MeasureWindow.h"

namespace TPR_TPU {
extern int32_t AnswerState;
extern int32_t RequestKind;
extern uint8_t CommandValue;
extern uint8_t ModeSeenOn;        // the mode has been seen on since a status answer showed it off
extern uint8_t S2CapturePending;  // the next values answer gives the S2 base
extern uint32_t S2Base;           // for the whole run of the program, shared by both channels

// The S2 part of the status step.
void NoteModeState(bool on);
// The S2 part of the values step: takes a pending base from raw, returns raw - S2Base
// (modulo 2^32).
uint32_t RelativeS2(uint32_t raw);

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
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();
};
