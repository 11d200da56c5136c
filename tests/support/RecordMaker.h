#pragma once
// Records of a TPR-by-TPU run for tests, byte for byte as the window program and
// `karven-cli mode tpr-tpu1` write them: each row is made by the programs' own TModeRecordRows
// from the status and values answers a device would give.
//
// TRecordMaker takes rows of values one by one; Play makes a whole prover run of them from
// a script of passes, for either way a device may update a pass's values.

#include "ModeRecordRows.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

struct TRecordValues {
    bool On = true;
    float Frequency = 0, Flow = 0;
    float N[4] = {0, 0, 0, 0};  // with fractions: 1-2, 2-1, 3-4, 4-3
    uint32_t Whole[4] = {0, 0, 0, 0};
    uint32_t Tus[4] = {0, 0, 0, 0};
    float S1 = 0, S4 = 0;
    uint32_t S2 = 0, S3 = 0, S5 = 0, S6 = 0;  // S2 as the device holds it; the record shows it from its start
};

class TRecordMaker {
public:
    explicit TRecordMaker(int channel = 1, const QDateTime &start = DefaultStart());

    // A row `seconds` after the start (milliseconds kept).
    void Row(double seconds, const TRecordValues &values);
    QByteArray Text() const { return text_; }
    int Rows() const { return rows_; }
    bool Save(const QString &path) const;

    static QDateTime DefaultStart();
    // The answers a device gives for values (function 4, from the address on, with room
    // for the CRC) and for the status (function 1).
    static QByteArray ValuesAnswer(const TRecordValues &values);
    static QByteArray StatusAnswer(int channel, bool on);

private:
    int channel_;
    QDateTime start_;
    TModeRecordRows record_;
    QByteArray text_;
    int rows_ = 0;
};

// A prover run in a script: the ball's passes in order, each through one section after the
// ball spent Gap seconds outside the sections.
struct TProverPass {
    int Section = 0;  // 0: 1-2, 1: 2-1, 2: 3-4, 3: 4-3
    double N = 0;     // pulses with fractions (two decimals are what the record keeps)
    double Seconds = 0;
    double Gap = 3;
};

struct TProverScript {
    std::vector<TProverPass> Passes;
    bool WhileTravelling = false;  // the values move while the ball travels (else: set at the detector)
    bool SumsPerMeasurement = false;  // the sums hold one measurement of 2 passes (else: run on)
    bool SumsAtMeasurementEnd = false;  // the running sums step as a measurement of 2 passes completes
    double Interval = 1;   // between rows
    double Lead = 2;       // seconds before the first pass's gap (below 0: passes before the record)
    double Tail = 4;       // seconds after the last pass
    double StopAt = -1;    // the mode off from this time on (the values then stay)
    double PauseFrom = -1, PauseTo = -1;  // no rows in this span
    double ResetAt = -1;   // the sums cleared at this time
    double S3Start = 0;    // the time sum at the start (near 2^32 to see it wrap)
    bool NanN = false;     // the N of the last pass reads nan
};

// The end of each pass of a script, in seconds from the start.
std::vector<double> PassEnds(const TProverScript &script);
TRecordMaker Play(const TProverScript &script);
