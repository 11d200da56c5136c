#include "ParameterEdit.h"

#include <array>
#include <cstdint>
#include <variant>

#include "EditLimits.h"
#include "Globals.h"
#include "Input_RaschetSum.h"
#include "Input_ImitationTC.h"
#include "Input_Voltage.h"
#include "Input_countDetect.h"
#include "Input_durationPulses.h"
#include "Input_floatValue.h"
#include "Input_rangeChanel.h"
#include "Input_scaleChanel.h"
#include "Input_schemeDetect.h"
#include "Input_stepChanel.h"
#include "Input_tDelay.h"
#include "Input_typeDetect.h"
#include "Input_typeTPU.h"
#include "Input_wordValue.h"

namespace {

// How a dialog's result becomes the field's value.
enum class TConversion {
    B,  // choice position stored unchanged in a byte field
    F,  // real rounded to the nearest single-precision value
    I,  // 32-bit integer stored unchanged in a 32-bit field
    W,  // low 16 bits of the integer in a 16-bit field
};

using TField = std::variant<uint8_t TDeviceConfig::*, float TDeviceConfig::*, uint32_t TDeviceConfig::*,
                            uint16_t TDeviceConfig::*>;

// The range and decimals of a number dialog come from the leaf's editing limits, which
// every row holds from the start.
struct TEditRow {
    const TEditLimits &Limits;   // Limits.Index is the tree absolute index of the leaf
    uint8_t (*Choose)();         // the choice dialog, or nullptr for a number dialog
    TConversion Conversion;
    TField Field;
};

// The limits of a leaf the table edits. A leaf with no limits, or limits of another kind,
// is no constant expression and stops the build.
consteval const TEditLimits &LimitsOf(int index, TEditKind kind)
{
    const int row = EditLimitsRow(index);
    if (row < 0 || edit_limits::Table[row].Kind != kind)
        throw "an edited leaf has no editing limits of its kind";
    return edit_limits::Table[row];
}

consteval TEditRow Choice(int index, uint8_t (*choose)(), uint8_t TDeviceConfig::*field)
{
    return {LimitsOf(index, TEditKind::Choice), choose, TConversion::B, field};
}

consteval TEditRow Real(int index, float TDeviceConfig::*field)
{
    return {LimitsOf(index, TEditKind::Real), nullptr, TConversion::F, field};
}

consteval TEditRow Whole(int index, uint32_t TDeviceConfig::*field)
{
    return {LimitsOf(index, TEditKind::Whole), nullptr, TConversion::I, field};
}

consteval TEditRow Word(int index, uint16_t TDeviceConfig::*field)
{
    return {LimitsOf(index, TEditKind::Whole), nullptr, TConversion::W, field};
}

using C = TDeviceConfig;

constexpr std::array<TEditRow, 39> EditRows = {{
    Choice(2, TfmInput_countDetect::Execute, &C::Tpu1DetectorCount),
    Choice(3, TfmInput_typeDetect::Execute, &C::Tpu1DetectorType),
    Choice(4, TfmInput_schemeDetect::Execute, &C::Tpu1DetectorScheme),
    Choice(5, TfmInput_typeTPU::Execute, &C::Tpu1TpuType),
    Choice(6, TfmInput_RaschetSum::Execute, &C::Tpu1SumMethod),
    Real(7, &C::Tpu1KFactor2),
    Choice(9, TfmInput_countDetect::Execute, &C::Tpu2DetectorCount),
    Choice(10, TfmInput_typeDetect::Execute, &C::Tpu2DetectorType),
    Choice(11, TfmInput_schemeDetect::Execute, &C::Tpu2DetectorScheme),
    Choice(12, TfmInput_typeTPU::Execute, &C::Tpu2TpuType),
    Choice(13, TfmInput_RaschetSum::Execute, &C::Tpu2SumMethod),
    Real(14, &C::Tpu2KFactor2),
    Whole(16, &C::TprN1Min),
    Whole(17, &C::TprN1Max),
    Real(18, &C::TprKFactor1),
    Real(19, &C::TprKFactor2),
    Whole(21, &C::PackCount),
    Real(22, &C::PackFrequency),
    Choice(23, TfmInput_Voltage::Execute, &C::PackVoltage),
    Choice(24, TfmInput_tDelay::Execute, &C::PackDelay),
    Whole(26, &C::TqN1Min),
    Whole(27, &C::TqN1Max),
    Real(28, &C::TqFrequency),
    Choice(29, TfmInput_Voltage::Execute, &C::TqVoltage),
    Choice(31, TfmInput_durationPulses::Execute, &C::ImitTpuDuration),
    Whole(32, &C::ImitTpuCount),
    Real(34, &C::GenFFrequency),
    Choice(35, TfmInput_Voltage::Execute, &C::GenFVoltage),
    Whole(37, &C::GenTPeriod),
    Choice(38, TfmInput_Voltage::Execute, &C::GenTVoltage),
    Word(40, &C::GenICurrent1),
    Word(41, &C::GenICurrent2),
    Choice(42, TfmInput_rangeChanel::Execute, &C::GenIRange1),
    Choice(43, TfmInput_stepChanel::Execute, &C::GenIStep1),
    Choice(44, TfmInput_scaleChanel::Execute, &C::GenIScale1),
    Choice(45, TfmInput_rangeChanel::Execute, &C::GenIRange2),
    Choice(46, TfmInput_stepChanel::Execute, &C::GenIStep2),
    Choice(47, TfmInput_scaleChanel::Execute, &C::GenIScale2),
    Choice(49, TfmInput_ImitationTC::Execute, &C::ImitTcResistance),
}};

const TEditRow *FindEditRow(int index)
{
    for (const TEditRow &row : EditRows)
        if (row.Limits.Index == index)
            return &row;
    return nullptr;
}

// The dialog's accepted result, before conversion.
struct TResult {
    uint8_t Position = 0;
    long double Real = 0;
    int32_t Integer = 0;
};

bool RunDialog(const TEditRow &row, TResult &result)
{
    const TEditLimits &limits = row.Limits;
    switch (row.Conversion) {
    case TConversion::B:
        result.Position = row.Choose();
        return result.Position != NothingChosen;
    case TConversion::F:
        return TfmInput_floatValue::Execute(result.Real, limits.Decimals, limits.Min, limits.Max);
    case TConversion::I:
    case TConversion::W:
        return TfmInput_wordValue::Execute(result.Integer, limits.Min, limits.Max);
    }
    return false;
}

void Store(const TEditRow &row, const TResult &result)
{
    switch (row.Conversion) {
    case TConversion::B:
        DeviceConfig.*std::get<uint8_t C::*>(row.Field) = result.Position;
        break;
    case TConversion::F:
        DeviceConfig.*std::get<float C::*>(row.Field) = static_cast<float>(result.Real);
        break;
    case TConversion::I:
        DeviceConfig.*std::get<uint32_t C::*>(row.Field) = static_cast<uint32_t>(result.Integer);
        break;
    case TConversion::W:
        DeviceConfig.*std::get<uint16_t C::*>(row.Field) = static_cast<uint16_t>(result.Integer & 0xFFFF);
        break;
    }
}

}  // namespace

bool EditParameter(QWidget *, int index)
{
    const TEditRow *row = FindEditRow(index);
    if (!row)
        return false;
    TResult result;
    if (!RunDialog(*row, result))
        return false;
    Store(*row, result);
    return true;
}
