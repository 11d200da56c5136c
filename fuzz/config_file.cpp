// The configuration file's reader, on whatever bytes a file may hold: the JSON reading
// (NUL bytes, UTF-16, keys given twice, depth, numbers as the file writes them), every check
// of format, parameters and values, and the words of each refusal. What it accepts for a
// write, written out again with where it came from and read back, is the very same
// configuration, word for word.
//
// Input: byte 0 picks the use (bit 0: a comparison, else a write) and bit 1 takes values out
// of range (--allow-out-of-range); the rest is the file.

#include "FuzzSupport.h"

#include "ConfigFileFormat.h"
#include "ConfigProblems.h"
#include "RegisterMap.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const TFileUse use = (data[0] & 1) ? TFileUse::Compare : TFileUse::Write;
    const bool allowOutOfRange = (data[0] & 2) != 0;
    const QByteArray text(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    const TConfigFileCheck check = ReadConfigFile(text, use, allowOutOfRange);
    const auto fields = ConfigFields();
    bool nullRefused = false;
    for (const TConfigProblem &problem : check.Problems) {
        fuzz::Check(!ConfigProblemText(problem).isEmpty());
        // Values out of range are a refusal only while they are not allowed.
        fuzz::Check(!allowOutOfRange || !problem.IsOutOfRange());
        fuzz::Check(!problem.Field || (problem.Field >= fields.data() && problem.Field < fields.data() + fields.size()));
        nullRefused = nullRefused || problem.Kind == TConfigProblemKind::NullNotAllowed;
    }
    if (!check.Ok()) {
        // Refused for values out of range alone: taken once they are allowed (a null may
        // still lack its words).
        if (check.OnlyOutOfRange() && !nullRefused)
            fuzz::Check(ReadConfigFile(text, use, true).Ok());
        return 0;
    }
    if (use == TFileUse::Compare)
        return 0;

    const TRegisterBytes registers = PackConfigRegistersOf(check.Config);
    const QByteArray again = ConfigFileText(check.Config, registers, check.Origin);
    const TConfigFileCheck back = ReadConfigFile(again, TFileUse::Write, true);
    fuzz::Check(back.Ok());
    fuzz::Check(PackConfigRegistersOf(back.Config) == registers);
    fuzz::Check(back.Nulls == check.Nulls);
    fuzz::Check(back.Origin.Port == check.Origin.Port && back.Origin.OpenedFrom == check.Origin.OpenedFrom
                && back.Origin.ChangedByHand == check.Origin.ChangedByHand
                && back.Origin.ReadAt.isValid() == check.Origin.ReadAt.isValid());
    if (check.Origin.ReadAt.isValid())
        fuzz::Check(back.Origin.ReadAt.toSecsSinceEpoch() == check.Origin.ReadAt.toSecsSinceEpoch());
    return 0;
}
