#pragma once
// What each operating mode asks of the device and how its answers read, without a window:
// the coil that switches it, the status request and its bit, the values request and the
// rows of the values grid (caption, answer offset, kind). The mode windows and the
// command-line companion both poll from this one table.

#include <QString>
#include <QStringView>

#include <cstdint>
#include <span>

enum class TValueKind {
    Float,  // word-swapped float
    Count,  // word-swapped unsigned count
};

// One row of a values grid: caption in column 0, the value from the four answer bytes at
// Offset (byte 0 is the address) in column 1.
struct TValueRow {
    const char *Caption;  // UTF-8
    const char *Key;      // the companion's name of the value: ASCII, stable ("frequency_hz")
    int Offset;
    TValueKind Kind;
};

// The text of a row's value read from an answer, as the grid shows it (the user's decimal
// separator).
QString ValueRowText(const uint8_t *answer, const TValueRow &row);
// The same value for programs: a point as the decimal separator whatever the locale.
QString ValueRowPlainText(const uint8_t *answer, const TValueRow &row);
// Whether an answer of `length` bytes carries the row's four bytes.
bool ValueRowPresent(int length, const TValueRow &row);

// The grid rows of each measuring mode.
namespace ModeRows {
extern const TValueRow TprTpu[20];
extern const TValueRow TprTpr[6];
extern const TValueRow FreqCounter[4];
extern const TValueRow PackPulses[2];
extern const TValueRow Tq[3];
extern const TValueRow ImitationTpu[1];
constexpr int TprTpuS2Row = 5;  // "Суммарное целое количество ипульсов S2", shown relative to a base
}  // namespace ModeRows

// The S2 sum of the TPR-by-TPU windows is shown relative to a base taken from the first
// values answer after the mode was seen starting. The status step notes the mode's state,
// the values step asks for the relative value; the state is the caller's.
void NoteS2ModeState(uint8_t &seenOn, uint8_t &capturePending, bool on);
uint32_t RelativeS2Value(uint8_t seenOn, uint8_t &capturePending, uint32_t &base, uint32_t raw);

enum class TModeId { TprTpu1, TprTpu2, TprTpr, FreqCounter, PackPulses, Tq, ImitationTpu, GeneratorF, GeneratorT, TcImitation };

struct TModeMap {
    TModeId Id;
    const char *Name;           // the companion's name of the mode ("tpr-tpu1")
    int Coil;                   // switched by the start/stop command; -1: the window never sends one
    uint16_t StatusCoilCount;   // coils read by the status request (function 1 from coil 0)
    int StatusByteOffset;       // the status byte in the answer
    uint8_t StatusMask;         // the mode's bit in it
    uint16_t ValuesFirst;       // values request (function 4): first input register
    uint16_t ValuesCount;       // and count; 0: the window sends status requests only
    std::span<const TValueRow> Rows;
    bool RelativeS2;            // the S2 row is shown relative to a base (TPR by TPU)

    bool HasValues() const { return ValuesCount > 0; }
    // Whether the mode's bit is set in a status answer.
    bool StatusBitSet(const uint8_t *answer) const { return (answer[StatusByteOffset] & StatusMask) != 0; }
};

std::span<const TModeMap> ModeMaps();
const TModeMap &ModeMapOf(TModeId id);
// The mode of a companion name, or nullptr.
const TModeMap *FindModeMap(QStringView name);
