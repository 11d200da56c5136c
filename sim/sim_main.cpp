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
                 "karven-sim stands in for the Karven-12T test device on a pseudo-terminal: it answers\n"
                 "as slave 10 with the CRC high byte first and prints every request and reply it sees.\n"
                 "It ends on Ctrl+C, SIGTERM or SIGHUP and removes the link to the port.\n"
                 "\n"
                 "Options:\n"
                 "  --link PATH       where to publish the port (default /dev/ttyV0, or ttyV0 in the\n"
                 "                    user's runtime directory when /dev is not writable)\n"
                 "  --baud N          line speed, 8N2 (default 9600)\n"
                 "  --turnaround MS   pause before a reply (default 5)\n"
                 "  --seed N          seed of the random faults (default 1)\n"
                 "  --fault-rate P    share of replies, 0..1, given a random fault (default 0)\n"
                 "  --crc-low-first   standard CRC order (low byte first), for general Modbus tools\n"
                 "  --quiet           print nothing but the port's place\n"
                 "  --help            print this help and end\n"
                 "  --version         print the version and end\n"
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

// An option that takes a number within [least, most].
struct NumberOption {
    const char *name;
    double least;
    double most;
    const char *range;  // [least, most] as the refusal names it
    double *value;
};

} // namespace

int main(int argc, char **argv)
{
    sim::SimOptions options;
    bool quiet = false;
    double baud = options.baud;
    double turnaround = options.turnaroundMs;
    double faultRate = 0;
    double seed = 1;
    const NumberOption numbers[] = {
        {"--baud", 300, 4000000, "a line speed from 300 to 4000000", &baud},
        {"--turnaround", 0, 60000, "milliseconds from 0 to 60000", &turnaround},
        {"--seed", 0, 4294967295.0, "a whole number from 0 to 4294967295", &seed},
        {"--fault-rate", 0, 1, "a share from 0 to 1", &faultRate},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const NumberOption *number = nullptr;
        for (const NumberOption &option : numbers)
            if (arg == option.name)
                number = &option;
        if (number) {
            if (i + 1 >= argc)
                return Refuse(arg + " needs a number");
            const char *text = argv[++i];
            char *end = nullptr;
            const double value = std::strtod(text, &end);
            if (end == text || *end != '\0' || !(value >= number->least && value <= number->most))
                return Refuse(arg + " takes " + number->range + ", not '" + text + "'");
            *number->value = value;
        } else if (arg == "--link") {
            if (i + 1 >= argc)
                return Refuse("--link needs a path");
            options.linkPath = argv[++i];
        } else if (arg == "--crc-low-first") {
            options.crcLowFirst = true;
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
    options.baud = static_cast<int>(baud);
    options.turnaroundMs = turnaround;
    options.seed = static_cast<uint64_t>(seed);

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
            const double ms = std::chrono::duration<double, std::milli>(entry.time - started).count();
            std::string what;
            switch (entry.kind) {
            case sim::LogEntry::Request: what = "<- " + Hex(entry.bytes); break;
            case sim::LogEntry::Reply: what = "-> " + Hex(entry.bytes); break;
            case sim::LogEntry::Noise: what = "~> " + Hex(entry.bytes) + " (noise)"; break;
            case sim::LogEntry::HangUp: what = "port hung up"; break;
            case sim::LogEntry::PlugIn: what = "port plugged back in"; break;
            }
            if (entry.kind == sim::LogEntry::Reply && entry.fault != sim::Fault::None)
                what += std::string(" [") + sim::FaultName(entry.fault) + "]";
            if (!entry.note.empty())
                what += " (" + entry.note + ")";
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
        device.SetRandomFaultRate(options.seed, faultRate);
    {
        std::lock_guard<std::mutex> lock(printing);
        std::printf("karven-sim: device 10 on %s (%s), %d baud 8N2, turnaround %.1f ms%s\n",
                    device.LinkPath().c_str(), device.SlavePath().c_str(), options.baud, options.turnaroundMs,
                    options.crcLowFirst ? ", CRC low byte first" : "");
        std::fflush(stdout);
    }
    int received = 0;
    sigwait(&signals, &received);
    device.Stop();
    if (!quiet)
        std::printf("karven-sim: stopped, %s removed\n", device.LinkPath().c_str());
    return 0;
}
