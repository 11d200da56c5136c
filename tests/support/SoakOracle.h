#pragma once
// What the soak tests judge the program by: every reply the device stand-in sent with a
// good CRC (collected as it is sent), and tallies of the faults it produced. A value the
// program shows or stores must come from one of these replies.

#include "SimDevice.h"

#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

class ReplyOracle {
public:
    explicit ReplyOracle(sim::SimDevice &device);
    ~ReplyOracle();
    ReplyOracle(const ReplyOracle &) = delete;
    ReplyOracle &operator=(const ReplyOracle &) = delete;

    // Whether the stand-in sent exactly these bytes as a reply proper (trailing bytes
    // left off) with a good CRC.
    bool SentGood(const uint8_t *bytes, int length) const;
    // The good replies of one length sent so far.
    std::vector<std::vector<uint8_t>> GoodReplies(size_t length) const;
    // Requests the stand-in has received since construction.
    int Requests() const { return requests_.load(); }
    // Replies with each fault, noise bursts included, since construction.
    std::array<int, sim::FaultKindCount> Faults() const;

private:
    sim::SimDevice &device_;
    mutable std::mutex mutex_;
    std::set<std::vector<uint8_t>> good_;
    std::array<int, sim::FaultKindCount> faults_{};
    std::atomic<int> requests_{0};
};

// The soak's size: the environment variable name as a positive number, else fallback.
int SoakCount(const char *name, int fallback);

// The simulator of a soak: its readings jitter from the seed.
sim::SimOptions SoakOptions(uint64_t seed);

// Fault probabilities of about 30 % in all, every kind but a hang-up; the kinds that cost
// a whole answer time-out are drawn less often so that the soak gets more exchanges done.
std::array<double, sim::FaultKindCount> SoakFaultMix();

// "no-reply 12, bad-crc 30, ..." for the log.
QString FaultTallyText(const std::array<int, sim::FaultKindCount> &faults);

// Checks that a command request stopped being repeated only once a complete reply with a
// good CRC had come after it: for every write-single-coil request followed by a different
// request, such a reply must have ended between the two. Returns the violations.
QStringList CommandsRepeatedUntilAnswered(const std::vector<sim::LogEntry> &log);

// Requests in the log that are not in allowed, as hexadecimal text.
QStringList RequestsOutside(const std::vector<sim::LogEntry> &log, const std::set<std::vector<uint8_t>> &allowed);
