#pragma once
// A pipe prover on one TPU channel, as the device sees it run: a ball travels along the
// pipe past the detectors, the transducer under test gives pulses at its true K-factor
// times the flow, and the device's TPR-by-TPU values (the pulses with fractions and whole
// between two detectors, the time between their triggers, the running sums) change as a
// real run makes them. It runs on its own clock, moved by Advance: in the simulator that is
// the wall clock, in a test any virtual time.
//
// The pipe, forward: a run-up of a tenth of V(1-2), detector 1, V(1-2), detector 2, and with
// 4 detectors a tenth of V(1-2), detector 3, V(3-4), detector 4; then a tenth of V(1-2) to
// the far end. A one-directional prover sends the ball forward only; after each travel the
// ball rests for the pause and starts again from the beginning. A two-directional prover
// brings it back after the pause the same way in reverse (4-3, then 2-1) and rests again.
//
// Each pass of the ball between two detectors draws its own K from a normal law around the
// true K with the relative spread σ; within a pass the flow jitters a little, which moves
// the frequency and the time but not N = K·V. The sums step when a measurement completes:
// with "over 1 pass" every pass, with "over 2 passes" every second pass of the pair of
// detectors (1-2 and 2-1, or two 1-2 passes in a row), adding both.

#include <cstdint>
#include <string>

namespace sim {

enum class ProverUpdate {
    AtDetector,       // a pass's values are set when its closing detector triggers
    WhileTravelling,  // they start from zero at the opening detector and move with the ball
};

struct ProverOptions {
    double KFactor = 1000;      // the true K of the transducer, pulses per litre
    double Volume12 = 10;       // litres between detectors 1 and 2 (either way)
    double Volume34 = 5;        // litres between detectors 3 and 4
    double FlowM3h = 6;         // the flow through the prover, m³/h
    double SigmaPercent = 0.02; // relative standard deviation of K from pass to pass, %
    double PauseSeconds = 2;    // the ball's rest at each end
    ProverUpdate Update = ProverUpdate::AtDetector;
    uint64_t Seed = 1;
};

// The figures a run uses, as one line that a test or a script parses: space-separated
// key=value pairs, the units in the keys' names.
//   prover k_per_l=1000 v12_l=10 v34_l=5 flow_m3h=6 sigma_percent=0.02 pause_s=2 update=detector seed=1
std::string ProverFiguresLine(const ProverOptions &options);

// The channel's prover as its configuration describes it. A code outside its list counts
// as the first of the list (2 detectors, one-directional, over one pass).
struct ProverBuild {
    bool FourDetectors = false;
    bool TwoDirections = false;
    bool TwoPassSums = false;
};

// What the channel's input registers show.
struct ProverReadings {
    double Frequency = 0;        // Hz
    double N[4] = {0, 0, 0, 0};  // pulses with fractions: 1-2, 2-1, 3-4, 4-3
    uint32_t Whole[4] = {0, 0, 0, 0};
    uint32_t TimeUs[4] = {0, 0, 0, 0};
    double S1 = 0, S4 = 0;       // pulses with fractions, pairs 1-2/2-1 and 3-4/4-3
    uint32_t S2 = 0, S5 = 0;     // whole pulses
    uint32_t S3 = 0, S6 = 0;     // µs
};

class ProverModel {
public:
    ProverModel(const ProverOptions &options, uint64_t stream);

    // The mode is switched on: the ball waits at the beginning for the pause, the passes'
    // values are zero, a measurement half done is dropped; the sums go on.
    void Start(const ProverBuild &build);
    // Lets `seconds` pass. The build is taken again whenever the ball starts forward.
    void Advance(double seconds, const ProverBuild &build);

    const ProverReadings &Readings() const { return readings_; }
    // Measurements and passes completed since the model was made: series 0 (1-2, 2-1) and
    // 1 (3-4, 4-3).
    int Measurements(int series) const { return measurements_[series & 1]; }
    int Passes(int series) const { return passes_[series & 1]; }
    // The section the ball is in between its two detectors (0..3 as in the readings), or -1.
    int OpenSection() const { return openSection_; }
    double Now() const { return now_; }

private:
    enum TEvent { Open, Close, End };
    struct Waypoint {
        double At;     // litres along the pipe
        TEvent Event;
        int Section;   // 0..3 as in the readings
    };
    double Uniform();  // in [0, 1)
    double Normal();
    void Launch(const ProverBuild &build);
    void Arrive(const Waypoint &point);
    void ShowMovingPass();
    double Flow() const;  // litres a second, with the jitter

    ProverOptions options_;
    uint64_t random_;
    ProverReadings readings_;
    ProverBuild build_;
    double now_ = 0;
    double pulses_ = 0;     // the transducer's pulses since the model was made, with fractions
    double k_ = 0;          // K of the pass the ball is in (or was last in)
    double jitter_ = 0;     // relative, drawn anew every JitterSeconds
    double nextJitter_ = 0;
    double position_ = 0;   // litres from the beginning of the pipe
    bool forward_ = true;
    bool travelling_ = false;
    double restUntil_ = 0;
    Waypoint route_[5];
    int routeSize_ = 0, routeNext_ = 0;
    int openSection_ = -1;
    double openTime_ = 0, openPulses_ = 0;
    // A measurement over two passes: the first pass's figures, per series.
    int halves_[2] = {0, 0};
    double halfN_[2] = {0, 0}, halfWhole_[2] = {0, 0}, halfUs_[2] = {0, 0};
    // The sums kept finer than the registers show them.
    double sumN_[2] = {0, 0}, sumWhole_[2] = {0, 0}, sumUs_[2] = {0, 0};
    int measurements_[2] = {0, 0};
    int passes_[2] = {0, 0};
};

} // namespace sim
