#include "SimProver.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace sim {

namespace {

constexpr double JitterSeconds = 0.1;  // how often the flow's jitter changes
constexpr double JitterShare = 0.003;  // ±0.3 % of the flow, evenly spread
constexpr double RunUpShare = 0.1;     // run-up, gap and run-out, in shares of V(1-2)
constexpr int MaxEventsPerAdvance = 100000;
constexpr double Forever = std::numeric_limits<double>::infinity();

// The shortest text that reads back as the same double.
std::string Shortest(double value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

uint32_t Wrap32(double value)
{
    if (!(value > 0))
        return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(std::fmod(std::floor(value), 4294967296.0)));
}

} // namespace

std::string ProverFiguresLine(const ProverOptions &options)
{
    return "prover k_per_l=" + Shortest(options.KFactor) + " v12_l=" + Shortest(options.Volume12)
         + " v34_l=" + Shortest(options.Volume34) + " flow_m3h=" + Shortest(options.FlowM3h)
         + " sigma_percent=" + Shortest(options.SigmaPercent) + " pause_s=" + Shortest(options.PauseSeconds)
         + " update=" + (options.Update == ProverUpdate::AtDetector ? "detector" : "travel")
         + " seed=" + std::to_string(options.Seed);
}

ProverModel::ProverModel(const ProverOptions &options, uint64_t stream) : options_(options)
{
    // Figures that cannot make a run (the command line refuses them) fall back to the
    // defaults, so that the ball always moves on.
    const ProverOptions defaults;
    auto sane = [](double &value, double fallback, bool zeroAllowed) {
        if (!std::isfinite(value) || value < 0 || (value == 0 && !zeroAllowed))
            value = fallback;
    };
    sane(options_.KFactor, defaults.KFactor, false);
    sane(options_.Volume12, defaults.Volume12, false);
    sane(options_.Volume34, defaults.Volume34, false);
    sane(options_.FlowM3h, defaults.FlowM3h, false);
    sane(options_.SigmaPercent, defaults.SigmaPercent, true);
    sane(options_.PauseSeconds, defaults.PauseSeconds, true);
    k_ = options_.KFactor;
    // One stream of numbers per channel, the same for the same seed on every system.
    random_ = options.Seed * 0x9E3779B97F4A7C15ull + (stream + 1) * 0xD1B54A32D192ED03ull;
    jitter_ = (2 * Uniform() - 1) * JitterShare;
    nextJitter_ = JitterSeconds;
    Start(ProverBuild{});
}

double ProverModel::Uniform()
{
    // splitmix64: small, and not tied to a standard library's distributions.
    uint64_t z = (random_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return double(z >> 11) * (1.0 / 9007199254740992.0);
}

double ProverModel::Normal()
{
    // Box and Muller; 1 − U is in (0, 1], so the logarithm is finite.
    const double u = 1.0 - Uniform();
    const double v = Uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * 3.14159265358979323846 * v);
}

double ProverModel::Flow() const
{
    return options_.FlowM3h / 3.6 * (1.0 + jitter_);
}

void ProverModel::Start(const ProverBuild &build)
{
    build_ = build;
    forward_ = true;
    travelling_ = false;
    position_ = 0;
    restUntil_ = now_ + options_.PauseSeconds;
    openSection_ = -1;
    halves_[0] = halves_[1] = 0;
    for (int s = 0; s < 4; ++s) {
        readings_.N[s] = 0;
        readings_.Whole[s] = readings_.TimeUs[s] = 0;
    }
    readings_.Frequency = k_ * Flow();
}

void ProverModel::Launch(const ProverBuild &build)
{
    const double v12 = options_.Volume12;
    const double gap = RunUpShare * v12;
    const double d1 = gap, d2 = d1 + v12;
    const double d3 = d2 + gap, d4 = d3 + options_.Volume34;
    routeSize_ = 0;
    routeNext_ = 0;
    if (forward_) {
        build_ = build;  // a changed configuration counts from a travel's start
        position_ = 0;
        route_[routeSize_++] = {d1, Open, 0};
        route_[routeSize_++] = {d2, Close, 0};
        if (build_.FourDetectors) {
            route_[routeSize_++] = {d3, Open, 2};
            route_[routeSize_++] = {d4, Close, 2};
        }
        route_[routeSize_++] = {(build_.FourDetectors ? d4 : d2) + gap, End, -1};
    } else {
        if (build_.FourDetectors) {
            route_[routeSize_++] = {d4, Open, 3};
            route_[routeSize_++] = {d3, Close, 3};
        }
        route_[routeSize_++] = {d2, Open, 1};
        route_[routeSize_++] = {d1, Close, 1};
        route_[routeSize_++] = {0, End, -1};
    }
    travelling_ = true;
}

void ProverModel::Arrive(const Waypoint &point)
{
    position_ = point.At;
    const int s = point.Section;
    switch (point.Event) {
    case Open:
        k_ = std::max(0.0, options_.KFactor * (1.0 + options_.SigmaPercent / 100.0 * Normal()));
        openSection_ = s;
        openTime_ = now_;
        openPulses_ = pulses_;
        if (options_.Update == ProverUpdate::WhileTravelling) {
            readings_.N[s] = 0;
            readings_.Whole[s] = readings_.TimeUs[s] = 0;
        }
        break;
    case Close: {
        const double n = pulses_ - openPulses_;
        const double whole = std::floor(pulses_) - std::floor(openPulses_);
        const double us = std::floor((now_ - openTime_) * 1e6);
        readings_.N[s] = n;
        readings_.Whole[s] = Wrap32(whole);
        readings_.TimeUs[s] = Wrap32(us);
        openSection_ = -1;
        const int series = s / 2;
        ++passes_[series];
        if (build_.TwoPassSums && halves_[series] == 0) {
            halves_[series] = 1;
            halfN_[series] = n;
            halfWhole_[series] = whole;
            halfUs_[series] = us;
            break;
        }
        if (build_.TwoPassSums) {
            halves_[series] = 0;
            sumN_[series] += halfN_[series];
            sumWhole_[series] += halfWhole_[series];
            sumUs_[series] += halfUs_[series];
        }
        sumN_[series] += n;
        sumWhole_[series] += whole;
        sumUs_[series] += us;
        ++measurements_[series];
        readings_.S1 = sumN_[0];
        readings_.S2 = Wrap32(sumWhole_[0]);
        readings_.S3 = Wrap32(sumUs_[0]);
        readings_.S4 = sumN_[1];
        readings_.S5 = Wrap32(sumWhole_[1]);
        readings_.S6 = Wrap32(sumUs_[1]);
        break;
    }
    case End:
        travelling_ = false;
        restUntil_ = now_ + options_.PauseSeconds;
        // A two-directional prover sends the ball back from where it stopped; a
        // one-directional one returns it to the beginning.
        if (build_.TwoDirections)
            forward_ = !forward_;
        else
            position_ = 0;
        break;
    }
}

void ProverModel::ShowMovingPass()
{
    const int s = openSection_;
    if (s < 0 || options_.Update != ProverUpdate::WhileTravelling)
        return;
    readings_.N[s] = pulses_ - openPulses_;
    readings_.Whole[s] = Wrap32(std::floor(pulses_) - std::floor(openPulses_));
    readings_.TimeUs[s] = Wrap32(std::floor((now_ - openTime_) * 1e6));
}

void ProverModel::Advance(double seconds, const ProverBuild &build)
{
    if (!(seconds > 0) || !std::isfinite(seconds))
        return;
    double left = seconds;
    // Step from event to event: the flow's jitter changes, the ball reaches a detector or
    // an end, the rest is over. A prover whose passes take microseconds (a tiny volume at
    // a huge flow, no pause) would make millions of them: past a bound the model falls
    // behind its clock instead of holding the device up.
    for (int events = 0; left > 0 && events < MaxEventsPerAdvance; ++events) {
        const double q = Flow();
        const double toJitter = std::max(0.0, nextJitter_ - now_);
        double toPoint = Forever, toLaunch = Forever;
        if (travelling_)
            toPoint = q > 0 ? std::fabs(route_[routeNext_].At - position_) / q : Forever;
        else
            toLaunch = std::max(0.0, restUntil_ - now_);
        const double step = std::min({left, toJitter, toPoint, toLaunch});

        pulses_ += k_ * q * step;
        if (travelling_)
            position_ += (forward_ ? q : -q) * step;
        now_ += step;
        left -= step;

        if (step == toPoint) {
            Arrive(route_[routeNext_]);
            if (++routeNext_ >= routeSize_)
                travelling_ = false;
        } else if (step == toLaunch) {
            Launch(build);
        }
        if (step == toJitter) {
            jitter_ = (2 * Uniform() - 1) * JitterShare;
            nextJitter_ = now_ + JitterSeconds;
        }
    }
    ShowMovingPass();
    readings_.Frequency = k_ * Flow();
}

} // namespace sim
