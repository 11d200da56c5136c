#include "EditLimits.h"

namespace {

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

const TEditLimits Limits[] = {
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

}  // namespace

const TEditLimits *EditLimitsOf(int index)
{
    for (const TEditLimits &limits : Limits)
        if (limits.Index == index)
            return &limits;
    return nullptr;
}
