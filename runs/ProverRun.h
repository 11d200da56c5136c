#pragma once
// A recorded TPR-by-TPU run and the prover's result drawn from it: the record read as a
// stream into rows, the passes (or the measurements over two passes) found in them, and per
// measurement N, T, f, Q and K, per series n, the mean K, its relative standard deviation,
// its range and the repeatability verdict. QtCore only: the window program and the
// companion both stand on it, and tests drive it directly.
//
// Reading is the slow step and is done once (off the window's thread, with a flag that
// stops it); processing is fast and is done again whenever the user changes the prover's
// data, the span or the excluded measurements.

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <vector>

class QIODevice;

namespace ProverRun {

// ---- the prover's build and the user's settings -------------------------------------

enum class TDirections { One = 0, Two = 1 };          // "Тип ТПУ"
enum class TSumMethod { OnePass = 0, TwoPasses = 1 };  // "Способ расчета суммы"
// When the device updates a pass's values: at the closing detector, or while the ball
// travels. Auto decides from the record and says what it decided.
enum class TUpdate { Auto = 0, AtDetector = 1, WhileTravelling = 2 };
enum class TVolumeUnit { Litre = 0, CubicMetre = 1 };
// The figure the repeatability limit applies to.
enum class TLimitFigure { Range = 0, Sko = 1 };

struct TProverBuild {
    int Detectors = 2;  // 2 or 4
    TDirections Directions = TDirections::One;
    TSumMethod SumMethod = TSumMethod::OnePass;
};

struct TSettings {
    TProverBuild Build;
    // The calibrated volumes: 1-2 (the round trip for a 2-directional prover summed over
    // 2 passes), 2-1 (0: as 1-2), 3-4 (with 4 detectors) and 4-3 (0: as 3-4).
    double Volume12 = 0, Volume21 = 0, Volume34 = 0, Volume43 = 0;
    TVolumeUnit Unit = TVolumeUnit::Litre;
    double LimitPercent = 0.05;  // 0 or less (or NaN): no limit, no verdict
    TLimitFigure LimitOf = TLimitFigure::Range;
    TUpdate Update = TUpdate::Auto;
    // The span of the record that counts, in seconds from its first row (inclusive).
    double FromSeconds = -std::numeric_limits<double>::infinity();
    double ToSeconds = std::numeric_limits<double>::infinity();
    // Measurements the user left out, by number (numbers as Process gives them).
    std::set<int> Excluded;
    // A gap between two rows longer than this (and than 3 times the record's usual interval)
    // is a pause of the record: a pass in progress across it is cut.
    double PauseSeconds = 5;
};

// ---- the record ----------------------------------------------------------------------

// One row of the record (a poll), with the values the processing uses. A value the row
// does not hold (empty field) or holds as nan/inf is NaN here.
struct TRow {
    qint64 Line = 0;         // its line in the file, from 1 (the header is line 1)
    double Seconds = 0;      // from the first row's time
    bool On = false;         // "on" / "off"
    double Frequency = NAN;  // "Частота, Гц"
    double Flow = NAN;       // "Расход", in the device's unit (it has none in the record)
    double N[4] = {NAN, NAN, NAN, NAN};   // with fractions: 1-2, 2-1, 3-4, 4-3
    double Whole[4] = {NAN, NAN, NAN, NAN};
    double Tus[4] = {NAN, NAN, NAN, NAN};  // µs
    double S[6] = {NAN, NAN, NAN, NAN, NAN, NAN};
};

struct TRecord {
    QDateTime Start;  // the first row's time (UTC)
    std::vector<TRow> Rows;
    int Channel = 0;  // 1 or 2 from the file's name ("ТПР по ТПУ1 ..."), 0 unknown
    QStringList Notes;  // not filled: the core gives the structured fields below
    qint64 DroppedLastLine = 0;  // a last line without its newline, left out (its line); 0 none
};

enum class TRefusalCause {
    None = 0,
    NotARecord,      // not a record of any mode (no such header, binary, NUL)
    OtherMode,       // a record, but of another mode (Detail names its header)
    BadRow,          // a row that does not parse (Detail: the field)
    CutFile,         // ends inside a row in a way that is not a plain missing newline
    TooLarge,        // over the size limit (Detail: the size)
    Unreadable,      // the file cannot be read (Detail: the system's cause)
    Cancelled,
};

struct TRefusal {
    TRefusalCause Cause = TRefusalCause::None;
    qint64 Line = 0;  // the line it names, from 1; 0 for the whole file
    // NotARecord: "empty", "NUL", "binary", "json", "too long" or "" (a line 1 that is no
    //   header); OtherMode: the companion's name of the mode whose header it is ("tpr-tpr"),
    //   "" for a header of no known mode; BadRow: the field's key ("time", "mode", "t12_us":
    //   ModeRows::TprTpu's keys), "fields" for a wrong number of fields, "too long";
    //   CutFile: "header" or "row"; TooLarge: the size in bytes; Unreadable: the system's words.
    QString Detail;   // a field, a header, a size, not a sentence
    int Column = 0;   // BadRow: the field's number from 1 (0: the whole row)
    QString Text;     // BadRow: the field's text (at most 40 characters); with "fields", how many it has
    bool Refused() const { return Cause != TRefusalCause::None; }
};

constexpr qint64 MaxRecordBytes = 256ll * 1024 * 1024;

// Reads a record as a stream: a file, a buffer or standard input (a read that gives nothing
// is its end). `cancel`, when set from another thread, stops it soon. A refusal leaves no rows.
// Lines may end in CR LF; empty lines are passed over; a byte-order mark before the header is
// taken.
TRefusal ReadRecord(QIODevice &in, TRecord &record, const std::atomic<bool> *cancel = nullptr);
TRefusal ReadRecordFile(const QString &path, TRecord &record, const std::atomic<bool> *cancel = nullptr);
// 1 or 2 from a window record's file name, else 0.
int ChannelFromFileName(const QString &path);

// ---- the result ----------------------------------------------------------------------

struct TMeasurement {
    int Number = 0;   // in the order they complete, from 1, across both series
    int Series = 0;   // 0: detectors 1-2 (and 2-1); 1: detectors 3-4 (and 4-3)
    QString Section;  // "1-2", "2-1", "1-2+2-1", "3-4", ...
    double StartSeconds = 0, EndSeconds = 0;  // the span of the pass(es) on the chart
    qint64 Line = 0;  // the row that closed it
    double N = 0;     // pulses with fractions
    double Seconds = 0;  // T
    double Frequency = 0;  // N / T, Hz
    double Volume = 0;     // V, in the settings' unit
    double FlowM3h = 0;    // V / T, m³/h
    double DeviceFlow = NAN;  // the mean of the device's "Расход" during the pass
    double K = 0;             // N / V, pulses per unit
    double DeviationPercent = NAN;  // (K − K̄) / K̄ × 100; NaN when not in the series
    bool Included = true;
};

struct TCutPass {
    int Series = 0;
    double StartSeconds = 0, EndSeconds = 0;
    qint64 Line = 0;
    enum class TWhy {
        EndOfRecord,
        Pause,
        SumsReset,
        ModeOff,
        NotANumber,
        OutsideSpan,
        StartOfRecord,  // the measurement's first pass came before the record
        Unpaired,       // a pass of a measurement over 2 passes without its other pass
        EndNotSeen,     // values that move while the ball travels started again before they held
    } Why = TWhy::EndOfRecord;
    QString Section;  // as TMeasurement's
    // The pass's values where they are known (NaN otherwise).
    double N = NAN, Seconds = NAN;
};

struct TSeries {
    int Series = 0;
    int Count = 0;  // n, included measurements
    double KMean = NAN;
    double SkoPercent = NAN;    // NaN with n < 2
    double RangePercent = NAN;  // NaN with n < 2
    bool HasVerdict = false;    // n ≥ 2 and a limit
    bool LimitHolds = false;
};

struct TResult {
    TUpdate UpdateSeen = TUpdate::AtDetector;  // what Auto decided (or what was forced)
    std::vector<TMeasurement> Measurements;
    std::vector<TCutPass> Cut;
    std::vector<TSeries> Series;  // one, or two with 4 detectors
    QStringList Notes;  // not filled: the core gives the structured fields below
    bool UpdateDecided = false;  // Auto decided UpdateSeen from the record
    // What Auto saw: changes of a pass's time, and how many of them could only be a time
    // still running (longer than the span since the section's previous change).
    int UpdateChanges = 0, UpdateRunningChanges = 0;
};

// Settings that cannot give a result (no volume, a build outside its list) refuse with a
// reason; the window and the companion word it.
// Without a volume the passes are still found, with N, T and f; V, Q, K and the series' figures
// are NaN.
enum class TSettingsProblem { None = 0, NoVolume12, NoVolume34, BadDetectors, BadVolume, BadLimit, BadSpan };
TSettingsProblem CheckSettings(const TSettings &settings);

TResult Process(const TRecord &record, const TSettings &settings);

// ---- the one number formatter ----------------------------------------------------------

// Fixed decimals, no grouping, an ASCII minus, rounding that does not depend on the C
// library; only the decimal sign differs between the outputs. NaN gives "—" when `dash`
// is set, else "".
QString Fixed(double value, int decimals, QChar decimalSign = QLatin1Char('.'), bool dash = true);

// The decimals of each column, the same in the window, the protocol and the companion.
namespace Decimals {
constexpr int N = 2, Seconds = 4, Frequency = 3, Volume = 5, Flow = 4, K = 4, Percent = 4;
}

}  // namespace ProverRun
