#pragma once
// What the editing of one parameter allows: the codes of a choice, the range and decimals
// of a number. The input dialogs take their bounds from here, and the command-line
// companion checks a configuration file against the same table. The table is known at
// compile time, so that a table built on it can require a row for each of its leaves.

#include <iterator>

enum class TEditKind {
    Choice,  // a code of the parameter's list (ValueText)
    Real,    // a real within Min..Max with at most Decimals decimals
    Whole,   // a whole number within Min..Max
};

struct TEditLimits {
    int Index;  // tree absolute index of the leaf
    TEditKind Kind;
    int Decimals;
    long double Min;
    long double Max;
};

namespace edit_limits {

constexpr TEditLimits Choice(int index)
{
    return {index, TEditKind::Choice, 0, 0, 0};
}

constexpr TEditLimits Real(int index, int decimals, long double min, long double max)
{
    return {index, TEditKind::Real, decimals, min, max};
}

constexpr TEditLimits Whole(int index, long double min, long double max)
{
    return {index, TEditKind::Whole, 0, min, max};
}

constexpr long double KFactorMin = 1, KFactorMax = 99999.99L;
constexpr long double FrequencyMin = 10, FrequencyMax = 12000;
constexpr long double PresetMax = 999999;

inline constexpr TEditLimits Table[] = {
    Choice(2), Choice(3), Choice(4), Choice(5), Choice(6),
    Real(7, 2, KFactorMin, KFactorMax),
    Choice(9), Choice(10), Choice(11), Choice(12), Choice(13),
    Real(14, 2, KFactorMin, KFactorMax),
    Whole(16, 0, PresetMax),
    Whole(17, 0, PresetMax),
    Real(18, 2, KFactorMin, KFactorMax),
    Real(19, 2, KFactorMin, KFactorMax),
    Whole(21, 0, PresetMax),
    Real(22, 1, FrequencyMin, FrequencyMax),
    Choice(23), Choice(24),
    Whole(26, 0, PresetMax),
    Whole(27, 0, PresetMax),
    Real(28, 1, FrequencyMin, FrequencyMax),
    Choice(29), Choice(31),
    Whole(32, 1, PresetMax),
    Real(34, 1, FrequencyMin, FrequencyMax),
    Choice(35),
    Whole(37, 100, 100000),
    Choice(38),
    Whole(40, 10, 24000),
    Whole(41, 10, 24000),
    Choice(42), Choice(43), Choice(44), Choice(45), Choice(46), Choice(47), Choice(49),
};

}  // namespace edit_limits

// The position in edit_limits::Table of tree leaf `index`, or -1 for the root, a group or
// an unknown index. (Positions, not pointers: they stay constant expressions under the
// sanitizers too.)
constexpr int EditLimitsRow(int index)
{
    for (int row = 0; row < int(std::size(edit_limits::Table)); ++row)
        if (edit_limits::Table[row].Index == index)
            return row;
    return -1;
}

// The limits of tree leaf `index`, or nullptr for the root, a group or an unknown index.
constexpr const TEditLimits *EditLimitsOf(int index)
{
    const int row = EditLimitsRow(index);
    return row < 0 ? nullptr : &edit_limits::Table[row];
}
