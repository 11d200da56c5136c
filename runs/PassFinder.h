#pragma once
// The passes of a recorded run, section by section (1-2, 2-1, 3-4, 4-3), before they are
// made measurements: where each ended, its N and T, and why it does not count when it does
// not. ProverRun's Process stands on it; nothing else needs it.
//
// A pass ends only on evidence of its closing detector:
//   - values set at the detector: the pass's values step to new ones (a step to a time of
//     0 is the values cleared, no pass);
//   - values that move while the ball travels: they grew, held for at least two rows, and
//     then the next pass started (they dropped), a sum of the series stepped, another
//     section of the series moved, or the sums had stepped only with their last change.
// A pass counts only when the mode was on, no pause of the record and no reset of the
// sums fell inside it, and its values are numbers.

#include "ProverRun.h"

#include <vector>

namespace ProverRun::Passes {

struct TPass {
    int Section = 0;  // 0: 1-2, 1: 2-1, 2: 3-4, 3: 4-3
    double Start = 0, End = 0;
    qint64 Line = 0;
    int EndRow = 0;       // the row that closed it
    double N = NAN, Seconds = NAN;
    bool Cut = false;
    TCutPass::TWhy Why = TCutPass::TWhy::EndOfRecord;
};

// What the rows say at a glance, for the checks of a pass's span.
class TRowIndex {
public:
    TRowIndex(const TRecord &record, double pauseSeconds);

    double PauseSeconds() const { return pause_; }
    bool PauseBefore(int row) const { return row > 0 && (pausePrefix_[size_t(row) + 1] - pausePrefix_[size_t(row)]) != 0; }
    // The first row at or after `seconds` (by the running maximum of the times).
    int RowAt(double seconds) const;
    // Rows first..last, both included.
    bool AnyOff(int first, int last) const;
    bool AnyPause(int first, int last) const;  // a pause before one of the rows
    // The mean of the device's flow over the rows, NaN when none holds a number.
    double MeanFlow(int first, int last) const;

private:
    const TRecord &record_;
    double pause_ = 5;
    std::vector<double> timeMax_;
    std::vector<int> offPrefix_, pausePrefix_, flowCount_;
    std::vector<double> flowSum_;
};

struct TFound {
    TUpdate Update = TUpdate::AtDetector;
    bool Decided = false;
    int Changes = 0, RunningChanges = 0;
    std::vector<TPass> Passes;           // by the time they ended, then by section
    std::vector<int> Resets[2];          // rows where the sums of a series were reset
};

// The sections of a build: 1-2 (and 2-1 with 2 directions), 3-4 (and 4-3) with 4 detectors.
std::vector<int> SectionsOf(const TProverBuild &build);
inline int SeriesOf(int section) { return section / 2; }

TFound Find(const TRecord &record, const TRowIndex &index, const TProverBuild &build, TUpdate update);

}  // namespace ProverRun::Passes
