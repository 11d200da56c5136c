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
    return "prover k_per_l=" + Shortest(options.kFactor) + " v12_l=" + Shortest(options.volume12)
         + " v34_l=" + Shortest(options.volume34) + " flow_m3h=" + Shortest(options.flowM3h)
         + " sigma_percent=" + Shortest(options.sigmaPercent) + " pause_s=" + Shortest(options.pauseSeconds)
         + " update=" + (options.update == ProverUpdate::AtDetector ? "detector" : "travel")
         + " seed=" + std::to_string(options.seed);
}

ProverModel::ProverModel(const ProverOptions &options, uint64_t stream) : m_options(options)
{
    // Figures that cannot make a run (the command line refuses them) fall back to the
    // defaults, so that the ball always moves on.
    const ProverOptions defaults;
    auto sane = [](double &value, double fallback, bool zeroAllowed) {
        if (!std::isfinite(value) || value < 0 || (value == 0 && !zeroAllowed))
            value = fallback;
    };
    sane(m_options.kFactor, defaults.kFactor, false);
    sane(m_options.volume12, defaults.volume12, false);
    sane(m_options.volume34, defaults.volume34, false);
    sane(m_options.flowM3h, defaults.flowM3h, false);
    sane(m_options.sigmaPercent, defaults.sigmaPercent, true);
    sane(m_options.pauseSeconds, defaults.pauseSeconds, true);
    m_k = m_options.kFactor;
    // One stream of numbers per channel, the same for the same seed on every system.
    m_random = options.seed * 0x9E3779B97F4A7C15ull + (stream + 1) * 0xD1B54A32D192ED03ull;
    m_jitter = (2 * Uniform() - 1) * JitterShare;
    m_nextJitter = JitterSeconds;
    Start(ProverBuild{});
}

double ProverModel::Uniform()
{
    // splitmix64: small, and not tied to a standard library's distributions.
    uint64_t z = (m_random += 0x9E3779B97F4A7C15ull);
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
    return m_options.flowM3h / 3.6 * (1.0 + m_jitter);
}

void ProverModel::Start(const ProverBuild &build)
{
    m_build = build;
    m_forward = true;
    m_travelling = false;
    m_position = 0;
    m_restUntil = m_now + m_options.pauseSeconds;
    m_openSection = -1;
    m_halves[0] = m_halves[1] = 0;
    for (int s = 0; s < 4; ++s) {
        m_readings.n[s] = 0;
        m_readings.whole[s] = m_readings.timeUs[s] = 0;
    }
    m_readings.frequency = m_k * Flow();
}

void ProverModel::Launch(const ProverBuild &build)
{
    const double v12 = m_options.volume12;
    const double gap = RunUpShare * v12;
    const double d1 = gap, d2 = d1 + v12;
    const double d3 = d2 + gap, d4 = d3 + m_options.volume34;
    m_routeSize = 0;
    m_routeNext = 0;
    if (m_forward) {
        m_build = build;  // a changed configuration counts from a travel's start
        m_position = 0;
        m_route[m_routeSize++] = {d1, Open, 0};
        m_route[m_routeSize++] = {d2, Close, 0};
        if (m_build.fourDetectors) {
            m_route[m_routeSize++] = {d3, Open, 2};
            m_route[m_routeSize++] = {d4, Close, 2};
        }
        m_route[m_routeSize++] = {(m_build.fourDetectors ? d4 : d2) + gap, End, -1};
    } else {
        if (m_build.fourDetectors) {
            m_route[m_routeSize++] = {d4, Open, 3};
            m_route[m_routeSize++] = {d3, Close, 3};
        }
        m_route[m_routeSize++] = {d2, Open, 1};
        m_route[m_routeSize++] = {d1, Close, 1};
        m_route[m_routeSize++] = {0, End, -1};
    }
    m_travelling = true;
}

void ProverModel::Arrive(const Waypoint &point)
{
    m_position = point.at;
    const int s = point.section;
    switch (point.event) {
    case Open:
        m_k = std::max(0.0, m_options.kFactor * (1.0 + m_options.sigmaPercent / 100.0 * Normal()));
        m_openSection = s;
        m_openTime = m_now;
        m_openPulses = m_pulses;
        if (m_options.update == ProverUpdate::WhileTravelling) {
            m_readings.n[s] = 0;
            m_readings.whole[s] = m_readings.timeUs[s] = 0;
        }
        break;
    case Close: {
        const double n = m_pulses - m_openPulses;
        const double whole = std::floor(m_pulses) - std::floor(m_openPulses);
        const double us = std::floor((m_now - m_openTime) * 1e6);
        m_readings.n[s] = n;
        m_readings.whole[s] = Wrap32(whole);
        m_readings.timeUs[s] = Wrap32(us);
        m_openSection = -1;
        const int series = s / 2;
        ++m_passes[series];
        if (m_build.twoPassSums && m_halves[series] == 0) {
            m_halves[series] = 1;
            m_halfN[series] = n;
            m_halfWhole[series] = whole;
            m_halfUs[series] = us;
            break;
        }
        if (m_build.twoPassSums) {
            m_halves[series] = 0;
            m_sumN[series] += m_halfN[series];
            m_sumWhole[series] += m_halfWhole[series];
            m_sumUs[series] += m_halfUs[series];
        }
        m_sumN[series] += n;
        m_sumWhole[series] += whole;
        m_sumUs[series] += us;
        ++m_measurements[series];
        m_readings.s1 = m_sumN[0];
        m_readings.s2 = Wrap32(m_sumWhole[0]);
        m_readings.s3 = Wrap32(m_sumUs[0]);
        m_readings.s4 = m_sumN[1];
        m_readings.s5 = Wrap32(m_sumWhole[1]);
        m_readings.s6 = Wrap32(m_sumUs[1]);
        break;
    }
    case End:
        m_travelling = false;
        m_restUntil = m_now + m_options.pauseSeconds;
        // A two-directional prover sends the ball back from where it stopped; a
        // one-directional one returns it to the beginning.
        if (m_build.twoDirections)
            m_forward = !m_forward;
        else
            m_position = 0;
        break;
    }
}

void ProverModel::ShowMovingPass()
{
    const int s = m_openSection;
    if (s < 0 || m_options.update != ProverUpdate::WhileTravelling)
        return;
    m_readings.n[s] = m_pulses - m_openPulses;
    m_readings.whole[s] = Wrap32(std::floor(m_pulses) - std::floor(m_openPulses));
    m_readings.timeUs[s] = Wrap32(std::floor((m_now - m_openTime) * 1e6));
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
        const double toJitter = std::max(0.0, m_nextJitter - m_now);
        double toPoint = Forever, toLaunch = Forever;
        if (m_travelling)
            toPoint = q > 0 ? std::fabs(m_route[m_routeNext].at - m_position) / q : Forever;
        else
            toLaunch = std::max(0.0, m_restUntil - m_now);
        const double step = std::min({left, toJitter, toPoint, toLaunch});

        m_pulses += m_k * q * step;
        if (m_travelling)
            m_position += (m_forward ? q : -q) * step;
        m_now += step;
        left -= step;

        if (step == toPoint) {
            Arrive(m_route[m_routeNext]);
            if (++m_routeNext >= m_routeSize)
                m_travelling = false;
        } else if (step == toLaunch) {
            Launch(build);
        }
        if (step == toJitter) {
            m_jitter = (2 * Uniform() - 1) * JitterShare;
            m_nextJitter = m_now + JitterSeconds;
        }
    }
    ShowMovingPass();
    m_readings.frequency = m_k * Flow();
}

} // namespace sim
