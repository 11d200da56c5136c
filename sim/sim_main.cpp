// karven-sim: the device stand-in for people. Publishes a pty where the program's port
// list finds it and prints every request and reply it sees.

#include "SimDevice.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

void Usage(std::FILE *to)
{
    std::fprintf(to,
                 "Usage: karven-sim [--link PATH] [--baud N] [--turnaround MS] [--seed N --fault-rate P] [--crc-low-first] [--quiet]\n"
                 "                  [--prover [--k-factor K] [--volume 1-2=L] [--volume 3-4=L] [--flow Q] [--sigma P]\n"
                 "                            [--pause S] [--update detector|travel]]\n"
                 "karven-sim stands in for the Karven-12T test device on a pseudo-terminal: it answers\n"
                 "as slave 10 with the CRC high byte first and prints every request and reply it sees.\n"
                 "It ends on Ctrl+C, SIGTERM or SIGHUP and removes the link to the port.\n"
                 "\n"
                 "Options:\n"
                 "  --link PATH       where to publish the port (default /dev/ttyV0, or ttyV0 in the\n"
                 "                    user's runtime directory when /dev is not writable)\n"
                 "  --baud N          line speed, 8N2 (default 9600)\n"
                 "  --turnaround MS   pause before a reply (default 5)\n"
                 "  --seed N          seed of the random faults and of the prover's spread (default 1)\n"
                 "  --fault-rate P    share of replies, 0..1, given a random fault (default 0)\n"
                 "  --crc-low-first   standard CRC order (low byte first), for general Modbus tools\n"
                 "  --quiet           print nothing but the port's place (and the prover's figures)\n"
                 "  --help            print this help and end\n"
                 "  --version         print the version and end\n"
                 "\n"
                 "A pipe prover on each TPU channel (TPR by TPU1 and TPU2):\n"
                 "  --prover          run one while the channel's mode is on; without it the mode's\n"
                 "                    values merely move\n"
                 "  --k-factor K      the transducer's true K-factor, pulses per litre (default 1000)\n"
                 "  --volume 1-2=L    litres between detectors 1 and 2, either way (default 10)\n"
                 "  --volume 3-4=L    litres between detectors 3 and 4 (default 5)\n"
                 "  --flow Q          the flow, m3/h (default 6)\n"
                 "  --sigma P         relative standard deviation of K from pass to pass, %% (default 0.02)\n"
                 "  --pause S         the ball's rest at each end, seconds (default 2)\n"
                 "  --update WAY      when a pass's values change: detector (set when the closing\n"
                 "                    detector triggers; the default) or travel (from zero at the\n"
                 "                    opening detector, moving with the ball)\n"
                 "\n"
                 "The prover follows the channel's configuration in the simulator's memory: 2 or 4\n"
                 "detectors, one- or two-directional (\"Тип ТПУ\"), the sums over 1 or 2 passes\n"
                 "(\"Способ расчета суммы\"); a code outside its list counts as the first of its list.\n"
                 "The pipe, forward: a run-up of a tenth of V(1-2), detector 1, V(1-2), detector 2, with\n"
                 "4 detectors a tenth of V(1-2), detector 3, V(3-4), detector 4, then a tenth of V(1-2)\n"
                 "to the end. A one-directional prover sends the ball forward only and starts it again\n"
                 "from the beginning after the pause; a two-directional one brings it back (4-3, then\n"
                 "2-1) after the pause. Each pass draws its own K from a normal law around K with the\n"
                 "spread P; the flow jitters by up to 0.3 %%, which moves the frequency and the time but\n"
                 "not N = K * V. N with fractions is the pulses between the two triggers, the whole N\n"
                 "the pulse edges between them, T the time in whole microseconds. The sums S1..S3\n"
                 "(detectors 1-2 and 2-1) and S4..S6 (3-4 and 4-3) go on over the run and step when a\n"
                 "measurement completes: every pass, or with sums over 2 passes every second pass\n"
                 "(1-2 with the next 2-1, or two 1-2 passes in a row), by both passes. \"Расход\" is the\n"
                 "device's own figure, the frequency * 3600 / Kf2; the true K does not depend on Kf2.\n"
                 "Switching the mode on puts the ball at the beginning for a pause and the passes'\n"
                 "values at zero; switching it off stops the prover where it is. At start karven-sim\n"
                 "prints the figures it uses on one line, for scripts:\n"
                 "  karven-sim: prover k_per_l=1000 v12_l=10 v34_l=5 flow_m3h=6 sigma_percent=0.02 pause_s=2 update=detector seed=1\n"
                 "\n"
                 "Environment:\n"
                 "  XDG_RUNTIME_DIR   the user's runtime directory, where the port is published\n"
                 "                    when /dev is not writable and --link is not given; when it\n"
                 "                    is not set, Qt's runtime directory /tmp/runtime-$USER\n");
}

std::string Hex(const std::vector<uint8_t> &bytes)
{
    std::string text;
    char piece[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(piece, sizeof piece, i ? " %02X" : "%02X", bytes[i]);
        text += piece;
    }
    return text;
}

// A refused command line: what is wrong, and where the options are told.
int Refuse(const std::string &what)
{
    std::fprintf(stderr, "karven-sim: %s\nTry 'karven-sim --help' for the options.\n", what.c_str());
    return 2;
}

// An option that takes a number within [least, most] (above least when it is excluded).
struct NumberOption {
    const char *Name;
    double Least;
    double Most;
    const char *Range;  // [least, most] as the refusal names it
    double *Value;
    bool ProverOnly = false;
    bool LeastExcluded = false;
};

bool InRange(const NumberOption &option, double value)
{
    return (option.LeastExcluded ? value > option.Least : value >= option.Least) && value <= option.Most;
}

} // namespace

int main(int argc, char **argv)
{
    sim::SimOptions options;
    bool quiet = false;
    double baud = options.Baud;
    double turnaround = options.TurnaroundMs;
    double faultRate = 0;
    double seed = 1;
    sim::ProverOptions prover;
    bool proverOn = false;
    std::string proverOption;  // the first prover option given, for a refusal without --prover
    const NumberOption numbers[] = {
        {"--baud", 300, 4000000, "a line speed from 300 to 4000000", &baud},
        {"--turnaround", 0, 60000, "milliseconds from 0 to 60000", &turnaround},
        {"--seed", 0, 4294967295.0, "a whole number from 0 to 4294967295", &seed},
        {"--fault-rate", 0, 1, "a share from 0 to 1", &faultRate},
        {"--k-factor", 0, 1e6, "pulses per litre, above 0 and at most 1000000", &prover.KFactor, true, true},
        {"--flow", 0, 1e5, "m3/h, above 0 and at most 100000", &prover.FlowM3h, true, true},
        {"--sigma", 0, 10, "a percentage from 0 to 10", &prover.SigmaPercent, true},
        {"--pause", 0, 3600, "seconds from 0 to 3600", &prover.PauseSeconds, true},
    };
    // A number as the options take it: the whole text, finite, in range.
    auto parse = [](const NumberOption &option, const char *text, double &value) {
        char *end = nullptr;
        value = std::strtod(text, &end);
        return end != text && *end == '\0' && InRange(option, value);
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const NumberOption *number = nullptr;
        for (const NumberOption &option : numbers)
            if (arg == option.Name)
                number = &option;
        if (number) {
            if (i + 1 >= argc)
                return Refuse(arg + " needs a number");
            const char *text = argv[++i];
            double value = 0;
            if (!parse(*number, text, value))
                return Refuse(arg + " takes " + number->Range + ", not '" + text + "'");
            *number->Value = value;
            if (number->ProverOnly && proverOption.empty())
                proverOption = arg;
        } else if (arg == "--volume") {
            if (i + 1 >= argc)
                return Refuse("--volume needs a section and litres, 1-2=L or 3-4=L");
            const std::string text = argv[++i];
            const NumberOption litres{"--volume", 0, 1e6, "", nullptr, true, true};
            const std::string section = text.substr(0, text.find('='));
            double value = 0;
            if ((section != "1-2" && section != "3-4") || section.size() >= text.size()
                || !parse(litres, text.c_str() + section.size() + 1, value))
                return Refuse("--volume takes 1-2=L or 3-4=L, litres above 0 and at most 1000000, not '" + text + "'");
            (section == "1-2" ? prover.Volume12 : prover.Volume34) = value;
            if (proverOption.empty())
                proverOption = arg;
        } else if (arg == "--update") {
            if (i + 1 >= argc)
                return Refuse("--update needs detector or travel");
            const std::string way = argv[++i];
            if (way != "detector" && way != "travel")
                return Refuse("--update takes detector or travel, not '" + way + "'");
            prover.Update = way == "detector" ? sim::ProverUpdate::AtDetector : sim::ProverUpdate::WhileTravelling;
            if (proverOption.empty())
                proverOption = arg;
        } else if (arg == "--prover") {
            proverOn = true;
        } else if (arg == "--link") {
            if (i + 1 >= argc)
                return Refuse("--link needs a path");
            options.LinkPath = argv[++i];
        } else if (arg == "--crc-low-first") {
            options.CrcLowFirst = true;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--help") {
            Usage(stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("karven-sim %s\n", KARVEN_VERSION);
            return 0;
        } else {
            return Refuse("unknown option '" + arg + "'");
        }
    }
    if (!proverOn && !proverOption.empty())
        return Refuse(proverOption + " sets up the prover: give --prover too");
    options.Baud = static_cast<int>(baud);
    options.TurnaroundMs = turnaround;
    options.Seed = static_cast<uint64_t>(seed);
    if (proverOn) {
        prover.Seed = options.Seed;
        options.Prover = prover;
    }

    // The device thread inherits this mask; the signals are taken here, in sigwait.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    sim::SimDevice device(options);
    const auto started = std::chrono::steady_clock::now();
    std::mutex printing;
    if (!quiet) {
        device.SetLogListener([&](const sim::LogEntry &entry) {
            const double ms = std::chrono::duration<double, std::milli>(entry.Time - started).count();
            std::string what;
            switch (entry.Kind) {
            case sim::LogEntry::Request: what = "<- " + Hex(entry.Bytes); break;
            case sim::LogEntry::Reply: what = "-> " + Hex(entry.Bytes); break;
            case sim::LogEntry::Noise: what = "~> " + Hex(entry.Bytes) + " (noise)"; break;
            case sim::LogEntry::HangUp: what = "port hung up"; break;
            case sim::LogEntry::PlugIn: what = "port plugged back in"; break;
            }
            if (entry.Kind == sim::LogEntry::Reply && entry.Fault != sim::Fault::None)
                what += std::string(" [") + sim::FaultName(entry.Fault) + "]";
            if (!entry.Note.empty())
                what += " (" + entry.Note + ")";
            std::lock_guard<std::mutex> lock(printing);
            std::printf("%10.1f ms  %s\n", ms, what.c_str());
            std::fflush(stdout);
        });
    }
    std::string error;
    if (!device.Start(&error)) {
        std::fprintf(stderr, "karven-sim: %s\n", error.c_str());
        return 1;
    }
    if (faultRate > 0)
        device.SetRandomFaultRate(options.Seed, faultRate);
    {
        std::lock_guard<std::mutex> lock(printing);
        std::printf("karven-sim: device 10 on %s (%s), %d baud 8N2, turnaround %.1f ms%s\n",
                    device.LinkPath().c_str(), device.SlavePath().c_str(), options.Baud, options.TurnaroundMs,
                    options.CrcLowFirst ? ", CRC low byte first" : "");
        if (options.Prover)
            std::printf("karven-sim: %s\n", sim::ProverFiguresLine(*options.Prover).c_str());
        std::fflush(stdout);
    }
    int received = 0;
    sigwait(&signals, &received);
    device.Stop();
    if (!quiet)
        std::printf("karven-sim: stopped, %s removed\n", device.LinkPath().c_str());
    return 0;
}
