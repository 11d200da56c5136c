#include "ModeMap.h"

#include "Globals.h"
#include "ValueText.h"

#include <algorithm>

namespace ModeRows {

const TValueRow TprTpu[20] = {
    {"Частота, Гц", "frequency_hz", 3, TValueKind::Float},
    {"Расход", "flow", 7, TValueKind::Float},
    {"Количество импульсов с долями, N1-2др", "n12_fractional", 11, TValueKind::Float},
    {"Суммарное количество импульсов с долями, S1", "s1", 15, TValueKind::Float},
    {"Целое количество импульсов, N1-2цел", "n12_whole", 19, TValueKind::Count},
    {"Суммарное целое количество ипульсов S2", "s2", 23, TValueKind::Count},
    {"Время между срабатываниями детекторов Т1-2,мкС", "t12_us", 27, TValueKind::Count},
    {"Суммарное время S3, мкС", "s3_us", 31, TValueKind::Count},
    {"Количество импульсов с долями, N2-1др", "n21_fractional", 35, TValueKind::Float},
    {"Целое количество импульсов, N2-1цел", "n21_whole", 39, TValueKind::Count},
    {"Время между срабатываниями детекторов Т2-1,мкС", "t21_us", 43, TValueKind::Count},
    {"Количество импульсов с долями, N3-4др", "n34_fractional", 47, TValueKind::Float},
    {"Целое количество импульсов, N3-4цел", "n34_whole", 51, TValueKind::Count},
    {"Время между срабатываниями детекторов Т3-4,мкС", "t34_us", 55, TValueKind::Count},
    {"Количество импульсов с долями, N4-3др", "n43_fractional", 59, TValueKind::Float},
    {"Целое количество импульсов, N4-3цел", "n43_whole", 63, TValueKind::Count},
    {"Время между срабатываниями детекторов Т4-3,мкС", "t43_us", 67, TValueKind::Count},
    {"Суммарное количество импульсов с долями, S4", "s4", 71, TValueKind::Float},
    {"Суммарное целое количество ипульсов S5", "s5", 75, TValueKind::Count},
    {"Суммарное время S6, мкС", "s6_us", 79, TValueKind::Count},
};

const TValueRow TprTpr[6] = {
    {"Частота по каналу 1, Гц", "frequency1_hz", 3, TValueKind::Float},
    {"Частота по каналу 2, Гц", "frequency2_hz", 7, TValueKind::Float},
    {"Расход по каналу 1", "flow1", 11, TValueKind::Float},
    {"Расход по каналу 2", "flow2", 15, TValueKind::Float},
    {"Количество импульсов по каналу 1", "pulses1", 19, TValueKind::Count},
    {"Количество импульсов по каналу 2", "pulses2", 23, TValueKind::Count},
};

const TValueRow FreqCounter[4] = {
    {"Частота по каналу 1, Гц", "frequency1_hz", 3, TValueKind::Float},
    {"Частота по каналу 2, Гц", "frequency2_hz", 7, TValueKind::Float},
    {"Период по каналу 1", "period1", 11, TValueKind::Float},
    {"Период по каналу 2", "period2", 15, TValueKind::Float},
};

// The first value of the answer (registers 102-103) is the output count.
const TValueRow PackPulses[2] = {
    {"Количество импульсов N1(вх)", "pulses_in", 7, TValueKind::Count},
    {"Количество импульсов N2(вых)", "pulses_out", 3, TValueKind::Count},
};

const TValueRow Tq[3] = {
    {"Количество выданных импульсов", "pulses_out", 3, TValueKind::Count},
    {"Количество поступивших импульсов", "pulses_in", 7, TValueKind::Count},
    {"К-фактор", "k_factor", 11, TValueKind::Float},
};

const TValueRow ImitationTpu[1] = {
    {"Количество импульсов", "pulses", 3, TValueKind::Count},
};

}  // namespace ModeRows

QString ValueRowText(const uint8_t *answer, const TValueRow &row)
{
    const uint8_t *bytes = answer + row.Offset;
    if (row.Kind == TValueKind::Float)
        return FormatReal(WordSwappedFloat(bytes));
    return FormatCount(WordSwappedCount(bytes));
}

QString ValueRowPlainText(const uint8_t *answer, const TValueRow &row)
{
    const uint8_t *bytes = answer + row.Offset;
    if (row.Kind == TValueKind::Float)
        return FormatReal(WordSwappedFloat(bytes), QStringLiteral("."));
    return FormatCount(WordSwappedCount(bytes));
}

bool ValueRowPresent(int length, const TValueRow &row)
{
    return row.Offset >= 0 && row.Offset + 4 <= std::min(length, ReceiveBufferSize);
}

void NoteS2ModeState(uint8_t &seenOn, uint8_t &capturePending, bool on)
{
    if (on) {
        if (!seenOn) {
            seenOn = 1;
            capturePending = 1;
        } else {
            capturePending = 0;
        }
    } else {
        seenOn = 0;
    }
}

uint32_t RelativeS2Value(uint8_t seenOn, uint8_t &capturePending, uint32_t &base, uint32_t raw)
{
    if (capturePending && seenOn) {
        base = raw;
        capturePending = 0;
    }
    return raw - base;
}

namespace {

constexpr uint16_t TpuChannelRegisters = 40;

const TModeMap Maps[] = {
    {TModeId::TprTpu1, "tpr-tpu1", 0, 8, 3, 0x01, 0, TpuChannelRegisters, ModeRows::TprTpu, true},
    {TModeId::TprTpu2, "tpr-tpu2", 1, 8, 3, 0x02, TpuChannelRegisters, TpuChannelRegisters, ModeRows::TprTpu, true},
    {TModeId::TprTpr, "tpr-tpr", 2, 8, 3, 0x04, 80, 12, ModeRows::TprTpr, false},
    {TModeId::FreqCounter, "freq", -1, 8, 3, 0x08, 94, 8, ModeRows::FreqCounter, false},
    {TModeId::PackPulses, "pack", 3, 8, 3, 0x08, 102, 4, ModeRows::PackPulses, false},
    {TModeId::Tq, "tq", 4, 8, 3, 0x10, 106, 6, ModeRows::Tq, false},
    {TModeId::ImitationTpu, "tpu-imitation", 5, 8, 3, 0x20, 112, 2, ModeRows::ImitationTpu, false},
    {TModeId::GeneratorF, "gen-f", 6, 8, 3, 0x40, 0, 0, {}, false},
    {TModeId::GeneratorT, "gen-t", 7, 8, 3, 0x80, 0, 0, {}, false},
    {TModeId::TcImitation, "tc-imitation", 8, 9, 4, 0x01, 0, 0, {}, false},
};

}  // namespace

std::span<const TModeMap> ModeMaps()
{
    return Maps;
}

const TModeMap &ModeMapOf(TModeId id)
{
    for (const TModeMap &map : Maps)
        if (map.Id == id)
            return map;
    return Maps[0];
}

const TModeMap *FindModeMap(QStringView name)
{
    for (const TModeMap &map : Maps)
        if (name == QLatin1String(map.Name))
            return &map;
    return nullptr;
}
