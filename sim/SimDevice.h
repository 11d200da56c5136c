#pragma once
// The device stand-in on a pseudo-terminal: it answers as slave 10 at the pace of the
// serial line, keeps the device's registers and coils, animates a running mode's readings
// and produces line faults on command. It runs its own thread; every public call is safe
// from any thread.

#include "SimModel.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace sim {

enum class Fault {
    None,
    NoReply,     // the request is swallowed
    BadCrc,      // the reply's CRC is corrupted
    CrcLowHigh,  // the reply's CRC comes low byte first
    Split,       // the reply comes in chunks with pauses between them
    Trailing,    // stray bytes follow the reply at once
    Late,        // the reply leaves long after the turnaround
    Noise,       // stray bytes arrive a little after the reply
    HangUp,      // the port vanishes instead of replying, and comes back later
};
constexpr int FaultKindCount = 9;
const char *FaultName(Fault fault);
// Parses a name as FaultName gives it; Fault::None when unknown.
Fault FaultFromName(const std::string &name);

using Clock = std::chrono::steady_clock;

struct SimOptions {
    std::string LinkPath;        // empty: /dev/ttyV0 where allowed, else the user's runtime directory
    int Baud = 9600;             // 8N2: 11 bits a byte
    double TurnaroundMs = 5;     // from the request's last byte to the reply's first
    double LateMs = 2500;        // extra delay of a late reply (beyond the mode windows' 2000 ms)
    int SplitChunks = 3;
    double SplitPauseMs = 40;
    double NoiseDelayMs = 30;    // from the reply's end to the noise
    double ReplugMs = 1000;      // how long a hang-up lasts; negative: until PlugBackIn()
    uint64_t Seed = 1;           // jitter of the readings
    double AnimateMs = 100;      // how often running modes move
    bool CrcLowFirst = false;    // the standard CRC order (low byte first) for general Modbus
                                 // peers, in requests and replies alike
    std::optional<ProverOptions> Prover;  // a pipe prover on each TPU channel
};

struct LogEntry {
    enum TKind { Request, Reply, Noise, HangUp, PlugIn };
    TKind Kind = Request;
    std::vector<uint8_t> Bytes;  // a request as received; a reply or noise as sent
    Clock::time_point Time;      // request: its last byte arrived; others: first byte leaves
    Clock::time_point End;       // request: as time; others: last byte arrives
    bool CrcGood = false;        // the frame's CRC (in the device's order) is right; for a reply
                                 // with trailing bytes, the reply proper
    sim::Fault Fault = sim::Fault::None;  // reply: the fault applied
    std::string Note;            // why a request was ignored, an exception, a path
};

class SimDevice {
public:
    explicit SimDevice(SimOptions options = {});
    ~SimDevice();
    SimDevice(const SimDevice &) = delete;
    SimDevice &operator=(const SimDevice &) = delete;

    // Creates the pty, publishes the link and starts the thread. False with a reason on failure.
    bool Start(std::string *error = nullptr);
    // Stops the thread, closes the pty and removes the link (if it is still ours).
    void Stop();
    bool Running() const;

    std::string LinkPath() const;
    std::string SlavePath() const;  // the pty behind the link now; empty while hung up
    double ByteTimeMs() const;

    uint16_t Holding(int reg) const;
    void SetHolding(int reg, uint16_t value);
    uint16_t Input(int reg) const;
    void SetInput(int reg, uint16_t value);
    bool Coil(int coil) const;
    void SetCoil(int coil, bool on);
    // Runs f on the model under the device's lock.
    template <class F> auto WithModel(F f)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(model_);
    }

    // The next count replies get fault; queued faults come before random ones.
    void QueueFault(Fault fault, int count = 1);
    // Each reply draws one fault: kind i with probability probabilities[i] (None ignored).
    void SetRandomFaults(uint64_t seed, const std::array<double, FaultKindCount> &probabilities);
    // Total rate spread evenly over every kind but a hang-up.
    void SetRandomFaultRate(uint64_t seed, double rate);
    void ClearFaults();

    // Pulls the plug now, or plugs it back in (a new pty behind the same link).
    void HangUpNow();
    void PlugBackIn();

    std::vector<LogEntry> Log() const;
    void ClearLog();
    // Waits until pred holds for the log, or the time is up; returns whether it held.
    bool WaitForLog(const std::function<bool(const std::vector<LogEntry> &)> &pred, int timeoutMs) const;
    // Called on the device thread for every new log entry (outside the lock).
    void SetLogListener(std::function<void(const LogEntry &)> listener);

private:
    struct Pending {
        Clock::time_point Due;
        uint8_t Byte;
    };
    void Run();
    bool OpenPty(std::string *error);
    void ClosePty();
    bool PublishLink(std::string *error);
    void RemoveLink();
    void ReadInput(Clock::time_point now);
    void ProcessInput(Clock::time_point now, Clock::time_point &deadline);
    // One request: logged, answered by the model, a fault applied, the answer scheduled.
    void HandleFrame(std::vector<uint8_t> frame, Clock::time_point arrived);
    // Logs the request; whether the device answers it (its address, a whole frame, its CRC).
    bool LogRequest(const std::vector<uint8_t> &frame, Clock::time_point arrived);
    // The model's answer, in the CRC byte order the peer speaks.
    std::vector<uint8_t> ModelReply(const std::vector<uint8_t> &frame);
    // Applies the fault to the answer and its start; false when no answer goes out.
    bool ApplyFault(Fault fault, std::vector<uint8_t> &reply, Clock::time_point &start, LogEntry &sent);
    // Queues the bytes from start at the line's speed, in chunks with pauses between them;
    // when the last one has crossed the line.
    Clock::time_point Schedule(const std::vector<uint8_t> &bytes, Clock::time_point start, int chunks);
    // A few random bytes on the line from start.
    void ScheduleNoise(Clock::time_point start);
    void FlushOutput(Clock::time_point now);
    void DoHangUp(Clock::time_point now);
    void DoPlugIn(Clock::time_point now);
    Fault PickFault();
    bool CrcGood(const std::vector<uint8_t> &frame) const;
    void AddLog(LogEntry entry);
    void Wake();
    Clock::duration Ms(double ms) const;

    SimOptions options_;
    Clock::duration byteTime_;

    mutable std::mutex mutex_;
    mutable std::condition_variable logChanged_;
    SimModel model_;
    Clock::time_point lastAdvance_;
    std::vector<std::pair<Fault, int>> faultQueue_;
    bool randomFaults_ = false;
    std::array<double, FaultKindCount> faultProbabilities_{};
    std::mt19937_64 faultRandom_{1};
    std::vector<LogEntry> log_;
    std::function<void(const LogEntry &)> listener_;
    std::string linkPath_;
    std::string slavePath_;
    bool stopRequested_ = false;
    bool hangUpRequested_ = false;
    bool plugInRequested_ = false;
    bool running_ = false;

    // Owned by the device thread once it runs.
    std::thread thread_;
    int wakeFd_ = -1;
    int masterFd_ = -1;
    int slaveFd_ = -1;
    std::vector<uint8_t> rx_;
    std::vector<Clock::time_point> rxEnd_;
    Clock::time_point lineFreeAt_;
    std::vector<Pending> out_;  // ordered by due time
    size_t outNext_ = 0;
    bool hangUpPending_ = false;
    Clock::time_point hangUpAt_;
    bool replugPending_ = false;
    Clock::time_point replugAt_;
};

} // namespace sim
