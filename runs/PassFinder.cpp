#include "PassFinder.h"

#include <algorithm>

namespace ProverRun::Passes {

namespace {

using TWhy = TCutPass::TWhy;

bool Finite(double v)
{
    return std::isfinite(v);
}

bool Differ(double a, double b)
{
    return Finite(a) && Finite(b) && a != b;
}

// A drop of a 32-bit count sum that is no wrap: its increase modulo 2^32 is more than the
// time (or pulses) the rows could have added.
bool CountDropped(double before, double after, double bound)
{
    if (!Finite(before) || !Finite(after) || after >= before)
        return false;
    const double increase = after + 4294967296.0 - before;
    return increase > bound;
}

// Section s's values changed at each row: its time stepped, or its pulses did (both rows
// holding numbers).
std::vector<uint8_t> Changes(const TRecord &record, int s)
{
    const auto &rows = record.Rows;
    std::vector<uint8_t> changed(rows.size(), 0);
    double t = NAN, n = NAN, w = NAN;
    for (size_t r = 0; r < rows.size(); ++r) {
        const TRow &row = rows[r];
        if (!Finite(row.Tus[s]) && !Finite(row.N[s]))
            continue;
        if (Finite(t) || Finite(n))
            changed[r] = Differ(row.Tus[s], t) || Differ(row.N[s], n) || Differ(row.Whole[s], w);
        if (Finite(row.Tus[s]))
            t = row.Tus[s];
        if (changed[r] || !Finite(n))
            n = row.N[s];
        if (changed[r] || !Finite(w))
            w = row.Whole[s];
    }
    return changed;
}

struct TSectionRows {
    int Section;
    std::vector<uint8_t> Changed;
};

class TFinder {
public:
    TFinder(const TRecord &record, const TRowIndex &index, const TProverBuild &build)
        : record_(record), rows_(record.Rows), index_(index)
    {
        for (int s : SectionsOf(build))
            sections_.push_back({s, Changes(record, s)});
        for (int g = 0; g < 2; ++g) {
            sumStep_[g].assign(rows_.size(), 0);
            marked_[g].assign(rows_.size(), 0);
        }
        for (size_t r = 1; r < rows_.size(); ++r)
            for (int g = 0; g < 2; ++g)
                for (int k = 0; k < 3; ++k)
                    if (Differ(rows_[r].S[3 * g + k], rows_[r - 1].S[3 * g + k]))
                        sumStep_[g][r] = 1;
    }

    // Whether the values move while the ball travels: a time that, when it changed, was
    // longer than the span since the section's previous change (with a row's interval of
    // room) can only be a time still running.
    TUpdate Detect(int &changes, int &running) const
    {
        changes = running = 0;
        for (const TSectionRows &section : sections_) {
            int last = -1;
            for (size_t r = 1; r < rows_.size(); ++r) {
                const double t = rows_[r].Tus[section.Section];
                if (!section.Changed[r] || !rows_[r].On || !Finite(t) || t <= 0)
                    continue;
                ++changes;
                if (last >= 0 && !index_.AnyOff(last, int(r)) && !index_.AnyPause(last + 1, int(r))) {
                    const double delta = rows_[r].Seconds - rows_[size_t(last)].Seconds;
                    const double room = last > 0 ? rows_[size_t(last)].Seconds - rows_[size_t(last) - 1].Seconds : 0;
                    if (t / 1e6 > delta + room + 0.05 + 0.01 * delta)
                        ++running;
                }
                last = int(r);
            }
        }
        return running >= 2 && running * 5 >= changes ? TUpdate::WhileTravelling : TUpdate::AtDetector;
    }

    void AtDetector(const TSectionRows &section, std::vector<TPass> &out, std::vector<int> *resets)
    {
        const int s = section.Section;
        for (size_t r = 1; r < rows_.size(); ++r) {
            if (!section.Changed[r])
                continue;
            marked_[SeriesOf(s)][r] = 1;
            const TRow &row = rows_[r];
            if (Finite(row.Tus[s]) && row.Tus[s] == 0) {
                resets[SeriesOf(s)].push_back(int(r));  // the values cleared
                continue;
            }
            TPass pass;
            pass.Section = s;
            pass.EndRow = int(r);
            pass.Line = row.Line;
            pass.End = row.Seconds;
            pass.N = row.N[s];
            pass.Seconds = row.Tus[s] / 1e6;
            pass.Start = Finite(pass.Seconds) ? pass.End - pass.Seconds : pass.End;
            if (!Finite(pass.N) || !Finite(pass.Seconds))
                Cut(pass, TWhy::NotANumber);
            out.push_back(pass);
        }
    }

    // Values set at the detector do not show a pass in progress. One is taken to have been
    // in progress when the mode was switched off, or the record ended, later after the last
    // pass than the record's usual time from such a pass to the start of the next: the
    // section that came next after the same two sections (else after the same one) most
    // often, and the median of its times from the one's end to its start (two at least).
    void InProgressAtStops(std::vector<TPass> &passes) const
    {
        std::vector<const TPass *> order;
        for (const TPass &p : passes)
            order.push_back(&p);
        std::stable_sort(order.begin(), order.end(), [](const TPass *a, const TPass *b) {
            return a->EndRow != b->EndRow ? a->EndRow < b->EndRow : a->Section < b->Section;
        });
        auto joined = [&](const TPass *a, const TPass *b) {
            return !index_.AnyOff(a->EndRow, b->EndRow) && !index_.AnyPause(a->EndRow + 1, b->EndRow);
        };
        std::vector<std::pair<int, double>> after1[4], after2[16];  // (next section, time between)
        for (size_t k = 1; k < order.size(); ++k) {
            const TPass *a = order[k - 1], *b = order[k];
            if (!joined(a, b) || !Finite(b->Seconds))
                continue;
            after1[a->Section].push_back({b->Section, b->Start - a->End});
            if (k >= 2 && joined(order[k - 2], a))
                after2[order[k - 2]->Section * 4 + a->Section].push_back({b->Section, b->Start - a->End});
        }
        std::vector<TPass> cut;
        size_t next = 0;
        const TPass *last = nullptr, *before = nullptr;
        auto stop = [&](size_t r, TWhy why) {
            if (!last)
                return;
            int y = 0;
            std::vector<double> idles;
            for (const auto *list : {before ? &after2[before->Section * 4 + last->Section] : nullptr, &after1[last->Section]}) {
                if (!list)
                    continue;
                int count[4] = {0, 0, 0, 0};
                for (const auto &[section, idle] : *list)
                    ++count[section];
                y = int(std::max_element(count, count + 4) - count);
                idles.clear();
                for (const auto &[section, idle] : *list)
                    if (section == y)
                        idles.push_back(idle);
                if (idles.size() >= 2)
                    break;
            }
            if (idles.size() < 2)
                return;
            std::nth_element(idles.begin(), idles.begin() + ptrdiff_t(idles.size() / 2), idles.end());
            const double idle = std::max(0.0, idles[idles.size() / 2]);
            if (rows_[r].Seconds - last->End > idle) {
                TPass pass;
                pass.Section = y;
                pass.EndRow = int(r);
                pass.Line = rows_[r].Line;
                pass.End = rows_[r].Seconds;
                pass.Start = last->End + idle;
                pass.Cut = true;
                pass.Why = why;
                cut.push_back(pass);
            }
        };
        for (size_t r = 1; r < rows_.size(); ++r) {
            if (index_.PauseBefore(int(r)))
                last = before = nullptr;
            if (!rows_[r].On && rows_[r - 1].On) {
                stop(r, TWhy::ModeOff);
                last = before = nullptr;
            }
            for (; next < order.size() && size_t(order[next]->EndRow) <= r; ++next) {
                before = last;
                last = order[next];
            }
        }
        if (!rows_.empty() && rows_.back().On)
            stop(rows_.size() - 1, TWhy::EndOfRecord);
        passes.insert(passes.end(), cut.begin(), cut.end());
    }

    void WhileTravelling(const TSectionRows &section, std::vector<TPass> &out)
    {
        const int s = section.Section;
        const int g = SeriesOf(s);
        enum { Baseline, Moving, Held, Done } phase = Baseline;
        double t = NAN, n = NAN;
        int changeRow = -1, lastRow = -1, holdRows = 0;
        bool sumsInTravel = false, sumsAtChange = false, first = true;

        auto begin = [&](size_t r) {
            phase = Moving;
            t = rows_[r].Tus[s];
            n = rows_[r].N[s];
            changeRow = int(r);
            holdRows = 1;
            // A step of the sums as the pass begins belongs to the pass that ended.
            sumsInTravel = false;
            sumsAtChange = false;
            marked_[g][r] = 1;
        };
        // A pass whose end was not seen: no values of its own.
        auto cut = [&](TWhy why, int endRow) {
            if (Finite(t) && t <= 0)
                return;  // nothing had moved yet
            TPass pass;
            pass.Section = s;
            pass.EndRow = endRow;
            pass.Line = rows_[size_t(endRow)].Line;
            pass.End = rows_[size_t(endRow)].Seconds;
            pass.Start = Finite(t) ? pass.End - t / 1e6 : pass.End;
            Cut(pass, why);
            out.push_back(pass);
        };
        auto close = [&] {
            phase = Done;
            if (Finite(t) && t <= 0)
                return;  // values put at zero (the mode started): no pass
            TPass pass;
            pass.Section = s;
            pass.EndRow = changeRow;
            pass.Line = rows_[size_t(changeRow)].Line;
            pass.End = rows_[size_t(changeRow)].Seconds;
            pass.N = n;
            pass.Seconds = t / 1e6;
            pass.Start = Finite(pass.Seconds) ? pass.End - pass.Seconds : pass.End;
            if (!Finite(pass.N) || !Finite(pass.Seconds))
                Cut(pass, TWhy::NotANumber);
            out.push_back(pass);
            marked_[g][size_t(changeRow)] = 1;
            phase = Done;
        };
        auto confirmed = [&](size_t r) {
            if (sumStep_[g][r] || (sumsAtChange && !sumsInTravel))
                return true;
            for (const TSectionRows &other : sections_)
                if (other.Section != s && SeriesOf(other.Section) == g && other.Changed[r])
                    return true;
            return false;
        };

        for (size_t r = 0; r < rows_.size(); ++r) {
            const TRow &row = rows_[r];
            if (!Finite(row.Tus[s]))
                continue;
            if (first) {
                first = false;
                t = row.Tus[s];
                n = row.N[s];
                lastRow = int(r);
                continue;
            }
            const bool pause = index_.AnyPause(lastRow + 1, int(r));
            const int previous = lastRow;
            lastRow = int(r);
            if (!row.On) {
                if (phase == Moving || phase == Held)
                    cut(TWhy::ModeOff, int(r));
                phase = Baseline;
                t = row.Tus[s];
                n = row.N[s];
                continue;
            }
            const bool changed = section.Changed[r];
            const bool dropped = changed && Finite(t) && row.Tus[s] < t;
            switch (phase) {
            case Baseline:
            case Done:
                if (changed)
                    begin(r);
                break;
            case Moving:
                if (dropped) {
                    cut(pause ? TWhy::Pause : TWhy::EndNotSeen, previous);
                    begin(r);
                } else if (changed) {
                    sumsInTravel = sumsInTravel || sumsAtChange;
                    sumsAtChange = sumStep_[g][r];
                    t = row.Tus[s];
                    n = row.N[s];
                    changeRow = int(r);
                    holdRows = 1;
                } else if (++holdRows >= 2) {
                    phase = Held;
                    if (confirmed(r))
                        close();
                }
                break;
            case Held:
                if (dropped) {
                    close();
                    begin(r);
                } else if (changed) {
                    // It moved again: the ball had only stopped.
                    phase = Moving;
                    sumsInTravel = sumsInTravel || sumsAtChange;
                    sumsAtChange = sumStep_[g][r];
                    t = row.Tus[s];
                    n = row.N[s];
                    changeRow = int(r);
                    holdRows = 1;
                } else {
                    ++holdRows;
                    if (confirmed(r))
                        close();
                }
                break;
            }
        }
        if ((phase == Moving || phase == Held) && lastRow >= 0)
            cut(TWhy::EndOfRecord, lastRow);
    }

    // Rows where the sums of a series dropped, by no wrap, while no pass of it closed or
    // began (sums kept per measurement start again there).
    void SumResets(std::vector<int> *resets) const
    {
        for (size_t r = 1; r < rows_.size(); ++r) {
            const TRow &row = rows_[r];
            const TRow &before = rows_[r - 1];
            const double gap = std::max(0.0, row.Seconds - before.Seconds);
            for (int g = 0; g < 2; ++g) {
                if (marked_[g][r])
                    continue;
                double times = 0;
                for (const TSectionRows &section : sections_)
                    if (SeriesOf(section.Section) == g && Finite(row.Tus[section.Section]))
                        times += row.Tus[section.Section];
                const double pulses = row.S[3 * g], pulsesBefore = before.S[3 * g];
                const bool pulsesDropped = Finite(pulses) && Finite(pulsesBefore) && pulses < pulsesBefore - 0.5;
                const bool timeDropped = CountDropped(before.S[3 * g + 2], row.S[3 * g + 2], (gap + 1) * 1e6 + times);
                if (pulsesDropped || timeDropped)
                    resets[g].push_back(int(r));
            }
        }
    }

    const std::vector<TSectionRows> &Sections() const { return sections_; }

private:
    static void Cut(TPass &pass, TWhy why)
    {
        if (!pass.Cut) {
            pass.Cut = true;
            pass.Why = why;
        }
    }

    const TRecord &record_;
    const std::vector<TRow> &rows_;
    const TRowIndex &index_;
    std::vector<TSectionRows> sections_;
    std::vector<uint8_t> sumStep_[2];
    std::vector<uint8_t> marked_[2];  // rows where a pass of the series closed or began
};

}  // namespace

TRowIndex::TRowIndex(const TRecord &record, double pauseSeconds) : record_(record)
{
    const auto &rows = record.Rows;
    const size_t n = rows.size();
    // The record's usual interval: the median of the gaps between rows.
    std::vector<double> gaps;
    gaps.reserve(n);
    for (size_t r = 1; r < n; ++r)
        gaps.push_back(rows[r].Seconds - rows[r - 1].Seconds);
    double median = 0;
    if (!gaps.empty()) {
        std::nth_element(gaps.begin(), gaps.begin() + ptrdiff_t(gaps.size() / 2), gaps.end());
        median = gaps[gaps.size() / 2];
    }
    pause_ = std::max(Finite(pauseSeconds) && pauseSeconds > 0 ? pauseSeconds : 5.0, 3 * median);

    timeMax_.resize(n);
    offPrefix_.assign(n + 1, 0);
    pausePrefix_.assign(n + 1, 0);
    flowCount_.assign(n + 1, 0);
    flowSum_.assign(n + 1, 0);
    double max = -std::numeric_limits<double>::infinity();
    for (size_t r = 0; r < n; ++r) {
        const TRow &row = rows[r];
        max = std::max(max, row.Seconds);
        timeMax_[r] = max;
        // A time that goes back is a break in the record like a pause.
        const double gap = r > 0 ? row.Seconds - rows[r - 1].Seconds : 0;
        offPrefix_[r + 1] = offPrefix_[r] + (row.On ? 0 : 1);
        pausePrefix_[r + 1] = pausePrefix_[r] + (r > 0 && (gap > pause_ || gap < 0) ? 1 : 0);
        const bool flow = Finite(row.Flow);
        flowCount_[r + 1] = flowCount_[r] + (flow ? 1 : 0);
        flowSum_[r + 1] = flowSum_[r] + (flow ? row.Flow : 0);
    }
}

int TRowIndex::RowAt(double seconds) const
{
    return int(std::partition_point(timeMax_.begin(), timeMax_.end(), [&](double t) { return t < seconds; }) - timeMax_.begin());
}

bool TRowIndex::AnyOff(int first, int last) const
{
    first = std::max(first, 0);
    last = std::min(last, int(timeMax_.size()) - 1);
    return first <= last && offPrefix_[size_t(last) + 1] - offPrefix_[size_t(first)] > 0;
}

bool TRowIndex::AnyPause(int first, int last) const
{
    first = std::max(first, 0);
    last = std::min(last, int(timeMax_.size()) - 1);
    return first <= last && pausePrefix_[size_t(last) + 1] - pausePrefix_[size_t(first)] > 0;
}

double TRowIndex::MeanFlow(int first, int last) const
{
    first = std::max(first, 0);
    last = std::min(last, int(timeMax_.size()) - 1);
    if (first > last)
        return NAN;
    const int count = flowCount_[size_t(last) + 1] - flowCount_[size_t(first)];
    return count > 0 ? (flowSum_[size_t(last) + 1] - flowSum_[size_t(first)]) / count : NAN;
}

std::vector<int> SectionsOf(const TProverBuild &build)
{
    std::vector<int> sections{0};
    const bool two = build.Directions == TDirections::Two;
    if (two)
        sections.push_back(1);
    if (build.Detectors == 4) {
        sections.push_back(2);
        if (two)
            sections.push_back(3);
    }
    return sections;
}

TFound Find(const TRecord &record, const TRowIndex &index, const TProverBuild &build, TUpdate update)
{
    TFound found;
    TFinder finder(record, index, build);
    TUpdate seen = finder.Detect(found.Changes, found.RunningChanges);
    if (update == TUpdate::Auto) {
        found.Update = seen;
        found.Decided = true;
    } else {
        found.Update = update;
    }
    for (const TSectionRows &section : finder.Sections()) {
        if (found.Update == TUpdate::WhileTravelling)
            finder.WhileTravelling(section, found.Passes);
        else
            finder.AtDetector(section, found.Passes, found.Resets);
    }
    if (found.Update == TUpdate::AtDetector)
        finder.InProgressAtStops(found.Passes);
    finder.SumResets(found.Resets);
    for (auto &resets : found.Resets)
        std::sort(resets.begin(), resets.end());

    // The span of each pass: the mode on, no pause, no reset of its series inside it.
    for (TPass &pass : found.Passes) {
        if (pass.Cut)
            continue;
        const int first = index.RowAt(pass.Start);
        if (index.AnyOff(first, pass.EndRow)) {
            pass.Cut = true;
            pass.Why = TCutPass::TWhy::ModeOff;
        } else if (index.AnyPause(first, pass.EndRow)) {
            pass.Cut = true;
            pass.Why = TCutPass::TWhy::Pause;
        } else {
            const auto &resets = found.Resets[SeriesOf(pass.Section)];
            const auto it = std::upper_bound(resets.begin(), resets.end(), first);
            if (it != resets.end() && *it < pass.EndRow) {
                pass.Cut = true;
                pass.Why = TCutPass::TWhy::SumsReset;
            }
        }
    }
    std::stable_sort(found.Passes.begin(), found.Passes.end(), [](const TPass &a, const TPass &b) {
        return a.EndRow != b.EndRow ? a.EndRow < b.EndRow : a.Section < b.Section;
    });
    return found;
}

}  // namespace ProverRun::Passes
