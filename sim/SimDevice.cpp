#include "SimDevice.h"

#include "CPort.h"
#include "modbus.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

const char *const FaultNames[FaultKindCount] = {"none",  "noreply", "badcrc", "crclowhigh", "split",
                                                "trailing", "late",  "noise",  "hangup"};

constexpr size_t MaxHeldInput = 1024;  // a flood from the program is cut down to this

std::string SystemError(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

speed_t SpeedFor(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
    }
}

std::string ReadLink(const std::string &path)
{
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n < 0)
        return {};
    return std::string(target, size_t(n));
}

} // namespace

const char *FaultName(Fault fault)
{
    const int i = static_cast<int>(fault);
    return i >= 0 && i < FaultKindCount ? FaultNames[i] : "?";
}

Fault FaultFromName(const std::string &name)
{
    for (int i = 0; i < FaultKindCount; ++i)
        if (name == FaultNames[i])
            return static_cast<Fault>(i);
    return Fault::None;
}

SimDevice::SimDevice(SimOptions options) : options_(std::move(options))
{
    if (options_.Baud <= 0)
        options_.Baud = 9600;
    byteTime_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(11.0 / options_.Baud));
    model_.Seed(options_.Seed);
    model_.SetProver(options_.Prover);
}

SimDevice::~SimDevice()
{
    Stop();
}

Clock::duration SimDevice::Ms(double ms) const
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(std::max(0.0, ms)));
}

double SimDevice::ByteTimeMs() const
{
    return std::chrono::duration<double, std::milli>(byteTime_).count();
}

bool SimDevice::Start(std::string *error)
{
    if (Running()) {
        if (error)
            *error = "already running";
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = hangUpRequested_ = plugInRequested_ = false;
    }
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        if (error)
            *error = SystemError("eventfd");
        return false;
    }
    if (!OpenPty(error) || !PublishLink(error)) {
        ClosePty();
        ::close(wakeFd_);
        wakeFd_ = -1;
        return false;
    }
    lastAdvance_ = Clock::now();
    lineFreeAt_ = lastAdvance_;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = true;
    }
    thread_ = std::thread([this] { Run(); });
    return true;
}

void SimDevice::Stop()
{
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopRequested_ = true;
        }
        Wake();
        thread_.join();
    }
    RemoveLink();
    ClosePty();
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
        wakeFd_ = -1;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
}

bool SimDevice::Running() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

std::string SimDevice::LinkPath() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return linkPath_;
}

std::string SimDevice::SlavePath() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return slavePath_;
}

bool SimDevice::OpenPty(std::string *error)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        if (error)
            *error = SystemError("posix_openpt");
        return false;
    }
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
        if (error)
            *error = SystemError("pty setup");
        ::close(master);
        return false;
    }
    // Our own slave descriptor keeps the pty alive while the program closes and reopens it.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        if (error)
            *error = SystemError("open pty slave");
        ::close(master);
        return false;
    }
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CSTOPB | CLOCAL | CREAD;
        ::cfsetispeed(&tio, SpeedFor(options_.Baud));
        ::cfsetospeed(&tio, SpeedFor(options_.Baud));
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    // Let an ordinary user who runs the program open it even if we run as someone else.
    ::chmod(name, 0666);
    masterFd_ = master;
    slaveFd_ = slave;
    std::lock_guard<std::mutex> lock(mutex_);
    slavePath_ = name;
    return true;
}

void SimDevice::ClosePty()
{
    if (masterFd_ >= 0)
        ::close(masterFd_);
    if (slaveFd_ >= 0)
        ::close(slaveFd_);
    masterFd_ = slaveFd_ = -1;
    std::lock_guard<std::mutex> lock(mutex_);
    slavePath_.clear();
}

bool SimDevice::PublishLink(std::string *error)
{
    std::string link = LinkPath();  // a plug-in comes back at the same place
    if (link.empty())
        link = options_.LinkPath;
    if (link.empty()) {
        if (::access("/dev", W_OK) == 0) {
            link = "/dev/ttyV0";
        } else {
            const QString dir = DefaultUserPortDirectory();
            if (!QDir().mkpath(dir)) {
                if (error)
                    *error = "cannot create " + dir.toStdString();
                return false;
            }
            link = (dir + QStringLiteral("/ttyV0")).toStdString();
        }
    }
    struct stat st{};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        if (error)
            *error = link + " exists and is not a symbolic link";
        return false;
    }
    const std::string slave = SlavePath();
    // Swap the link in one step, so a reader never finds it missing.
    const std::string temporary = link + ".new" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(slave.c_str(), temporary.c_str()) != 0 || ::rename(temporary.c_str(), link.c_str()) != 0) {
        if (error)
            *error = SystemError(("link " + link).c_str());
        ::unlink(temporary.c_str());
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    linkPath_ = link;
    return true;
}

void SimDevice::RemoveLink()
{
    const std::string link = LinkPath();
    const std::string slave = SlavePath();
    // Only our own link goes: another stand-in may have taken the name over since.
    if (!link.empty() && !slave.empty() && ReadLink(link) == slave)
        ::unlink(link.c_str());
}

uint16_t SimDevice::Holding(int reg) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.Holding(reg);
}

void SimDevice::SetHolding(int reg, uint16_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    model_.SetHolding(reg, value);
}

uint16_t SimDevice::Input(int reg) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.Input(reg);
}

void SimDevice::SetInput(int reg, uint16_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    model_.SetInput(reg, value);
}

bool SimDevice::Coil(int coil) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.Coil(coil);
}

void SimDevice::SetCoil(int coil, bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    model_.SetCoil(coil, on);
}

void SimDevice::QueueFault(Fault fault, int count)
{
    if (count <= 0)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    faultQueue_.emplace_back(fault, count);
}

void SimDevice::SetRandomFaults(uint64_t seed, const std::array<double, FaultKindCount> &probabilities)
{
    std::lock_guard<std::mutex> lock(mutex_);
    faultRandom_.seed(seed);
    faultProbabilities_ = probabilities;
    faultProbabilities_[0] = 0;
    randomFaults_ = true;
}

void SimDevice::SetRandomFaultRate(uint64_t seed, double rate)
{
    std::array<double, FaultKindCount> probabilities{};
    const int kinds = FaultKindCount - 2;  // neither None nor HangUp
    for (int i = 1; i < FaultKindCount; ++i)
        if (static_cast<Fault>(i) != Fault::HangUp)
            probabilities[i] = std::clamp(rate, 0.0, 1.0) / kinds;
    SetRandomFaults(seed, probabilities);
}

void SimDevice::ClearFaults()
{
    std::lock_guard<std::mutex> lock(mutex_);
    faultQueue_.clear();
    randomFaults_ = false;
}

void SimDevice::HangUpNow()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hangUpRequested_ = true;
    }
    Wake();
}

void SimDevice::PlugBackIn()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        plugInRequested_ = true;
    }
    Wake();
}

std::vector<LogEntry> SimDevice::Log() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

void SimDevice::ClearLog()
{
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
}

bool SimDevice::WaitForLog(const std::function<bool(const std::vector<LogEntry> &)> &pred, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return logChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return pred(log_); });
}

void SimDevice::SetLogListener(std::function<void(const LogEntry &)> listener)
{
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
}

void SimDevice::AddLog(LogEntry entry)
{
    std::function<void(const LogEntry &)> listener;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back(entry);
        listener = listener_;
    }
    logChanged_.notify_all();
    if (listener)
        listener(entry);
}

void SimDevice::Wake()
{
    if (wakeFd_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
}

Fault SimDevice::PickFault()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!faultQueue_.empty()) {
        const Fault fault = faultQueue_.front().first;
        if (--faultQueue_.front().second <= 0)
            faultQueue_.erase(faultQueue_.begin());
        return fault;
    }
    if (!randomFaults_)
        return Fault::None;
    double draw = std::uniform_real_distribution<double>(0.0, 1.0)(faultRandom_);
    for (int i = 1; i < FaultKindCount; ++i) {
        if (draw < faultProbabilities_[i])
            return static_cast<Fault>(i);
        draw -= faultProbabilities_[i];
    }
    return Fault::None;
}

void SimDevice::Run()
{
    for (;;) {
        bool stop, hangUp, plugIn;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop = stopRequested_;
            hangUp = hangUpRequested_;
            plugIn = plugInRequested_;
            hangUpRequested_ = plugInRequested_ = false;
        }
        if (stop)
            return;
        Clock::time_point now = Clock::now();
        if (hangUp && masterFd_ >= 0)
            DoHangUp(now);
        if (hangUpPending_ && now >= hangUpAt_)
            DoHangUp(now);
        if ((plugIn || (replugPending_ && now >= replugAt_)) && masterFd_ < 0)
            DoPlugIn(now);

        FlushOutput(now);
        Clock::time_point deadline = now + Ms(options_.AnimateMs);
        ProcessInput(now, deadline);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (now - lastAdvance_ >= Ms(options_.AnimateMs)) {
                model_.Advance(std::chrono::duration<double>(now - lastAdvance_).count());
                lastAdvance_ = now;
            }
            deadline = std::min(deadline, lastAdvance_ + Ms(options_.AnimateMs));
        }
        if (outNext_ < out_.size())
            deadline = std::min(deadline, out_[outNext_].Due);
        if (hangUpPending_)
            deadline = std::min(deadline, hangUpAt_);
        if (replugPending_)
            deadline = std::min(deadline, replugAt_);

        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {masterFd_, POLLIN, 0}};
        const nfds_t count = masterFd_ >= 0 ? 2 : 1;
        now = Clock::now();
        const auto wait = std::max(Clock::duration::zero(), deadline - now);
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
        const timespec timeout{static_cast<time_t>(seconds.count()),
                               static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(wait - seconds).count())};
        const int ready = ::ppoll(fds, count, &timeout, nullptr);
        if (ready < 0)
            continue;  // a signal: look again
        if (fds[0].revents & POLLIN) {
            uint64_t value;
            [[maybe_unused]] ssize_t n = ::read(wakeFd_, &value, sizeof value);
        }
        if (count == 2 && (fds[1].revents & POLLIN))
            ReadInput(Clock::now());
    }
}

void SimDevice::ReadInput(Clock::time_point now)
{
    uint8_t chunk[512];
    for (;;) {
        const ssize_t n = ::read(masterFd_, chunk, sizeof chunk);
        if (n <= 0)
            return;
        for (ssize_t i = 0; i < n; ++i) {
            // Each byte occupies the line for one byte time after the one before it.
            lineFreeAt_ = std::max(now, lineFreeAt_) + byteTime_;
            rx_.push_back(chunk[i]);
            rxEnd_.push_back(lineFreeAt_);
        }
        if (rx_.size() > MaxHeldInput) {
            const size_t drop = rx_.size() - MaxHeldInput;
            rx_.erase(rx_.begin(), rx_.begin() + drop);
            rxEnd_.erase(rxEnd_.begin(), rxEnd_.begin() + drop);
        }
    }
}

void SimDevice::ProcessInput(Clock::time_point now, Clock::time_point &deadline)
{
    const Clock::duration silence = std::chrono::duration_cast<Clock::duration>(byteTime_ * 3.5);
    while (!rx_.empty()) {
        const size_t expected = ExpectedRequestLength(rx_.data(), rx_.size());
        if (expected > 0 && rx_.size() >= expected) {
            const Clock::time_point arrived = rxEnd_[expected - 1];
            if (now < arrived) {
                deadline = std::min(deadline, arrived);
                return;
            }
            std::vector<uint8_t> frame(rx_.begin(), rx_.begin() + expected);
            rx_.erase(rx_.begin(), rx_.begin() + expected);
            rxEnd_.erase(rxEnd_.begin(), rxEnd_.begin() + expected);
            HandleFrame(std::move(frame), arrived);
            continue;
        }
        // Not a whole known request yet: the frame ends with 3.5 characters of silence.
        const Clock::time_point quietFrom = rxEnd_.back() + silence;
        if (now < quietFrom) {
            deadline = std::min(deadline, quietFrom);
            return;
        }
        std::vector<uint8_t> frame;
        frame.swap(rx_);
        const Clock::time_point arrived = rxEnd_.back();
        rxEnd_.clear();
        HandleFrame(std::move(frame), arrived);
    }
}

void SimDevice::HandleFrame(std::vector<uint8_t> frame, Clock::time_point arrived)
{
    if (!LogRequest(frame, arrived))
        return;
    std::vector<uint8_t> reply = ModelReply(frame);
    const Fault fault = PickFault();
    Clock::time_point start = std::max(arrived + Ms(options_.TurnaroundMs), Clock::now());
    if (outNext_ < out_.size())
        start = std::max(start, out_.back().Due);

    LogEntry sent;
    sent.Kind = LogEntry::Reply;
    sent.Fault = fault;
    if (reply.size() == 5 && (reply[1] & 0x80))
        sent.Note = "exception " + std::to_string(reply[2]);
    if (!ApplyFault(fault, reply, start, sent)) {
        sent.Time = sent.End = start;
        AddLog(sent);
        return;
    }
    sent.CrcGood = CrcGood(reply);
    if (fault == Fault::Trailing) {
        std::uniform_int_distribution<int> byte(0, 255);
        std::lock_guard<std::mutex> lock(mutex_);
        for (int i = 0; i < 3; ++i)
            reply.push_back(static_cast<uint8_t>(byte(faultRandom_)));
    }
    const Clock::time_point end = Schedule(reply, start, fault == Fault::Split ? std::max(2, options_.SplitChunks) : 1);
    sent.Bytes = reply;
    sent.Time = start;
    sent.End = end;
    AddLog(sent);
    if (fault == Fault::Noise)
        ScheduleNoise(end + Ms(options_.NoiseDelayMs));
}

bool SimDevice::LogRequest(const std::vector<uint8_t> &frame, Clock::time_point arrived)
{
    LogEntry request;
    request.Kind = LogEntry::Request;
    request.Bytes = frame;
    request.Time = request.End = arrived;
    request.CrcGood = CrcGood(frame);
    if (frame.size() < 4)
        request.Note = "ignored: too short";
    else if (frame[0] != DeviceAddress)
        request.Note = "ignored: slave " + std::to_string(frame[0]);
    else if (!request.CrcGood)
        request.Note = "ignored: bad CRC";
    const bool answer = request.Note.empty();
    AddLog(request);
    return answer;
}

std::vector<uint8_t> SimDevice::ModelReply(const std::vector<uint8_t> &frame)
{
    std::vector<uint8_t> reply;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const Clock::time_point now = Clock::now();
        model_.Advance(std::chrono::duration<double>(now - lastAdvance_).count());
        lastAdvance_ = now;
        if (options_.CrcLowFirst) {
            // The model speaks the device's order: the request in it (an echo copies it),
            // the reply back out in the peer's.
            std::vector<uint8_t> inDeviceOrder = frame;
            std::swap(inDeviceOrder[inDeviceOrder.size() - 2], inDeviceOrder[inDeviceOrder.size() - 1]);
            reply = model_.Handle(inDeviceOrder);
        } else {
            reply = model_.Handle(frame);
        }
    }
    if (options_.CrcLowFirst && reply.size() >= 2)
        std::swap(reply[reply.size() - 2], reply[reply.size() - 1]);
    return reply;
}

bool SimDevice::ApplyFault(Fault fault, std::vector<uint8_t> &reply, Clock::time_point &start, LogEntry &sent)
{
    switch (fault) {
    case Fault::NoReply:
        sent.Note = "no reply";
        return false;
    case Fault::HangUp:
        sent.Note = "hang-up instead of a reply";
        hangUpPending_ = true;
        hangUpAt_ = start;
        return false;
    case Fault::BadCrc:
        reply.back() ^= 0xA5;
        break;
    case Fault::CrcLowHigh:
        std::swap(reply[reply.size() - 2], reply[reply.size() - 1]);
        break;
    case Fault::Late:
        start += Ms(options_.LateMs);
        break;
    default:
        break;
    }
    return true;
}

Clock::time_point SimDevice::Schedule(const std::vector<uint8_t> &bytes, Clock::time_point start, int chunks)
{
    // Compact the schedule once everything queued has gone out.
    if (outNext_ >= out_.size()) {
        out_.clear();
        outNext_ = 0;
    }
    const size_t perChunk = (bytes.size() + chunks - 1) / chunks;
    Clock::time_point due = start;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && perChunk > 0 && i % perChunk == 0)
            due += Ms(options_.SplitPauseMs);
        due += byteTime_;  // the byte has arrived once it has crossed the line
        out_.push_back({due, bytes[i]});
    }
    return due;
}

void SimDevice::ScheduleNoise(Clock::time_point start)
{
    LogEntry noise;
    noise.Kind = LogEntry::Noise;
    noise.Fault = Fault::Noise;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int length = std::uniform_int_distribution<int>(1, 6)(faultRandom_);
        for (int i = 0; i < length; ++i)
            noise.Bytes.push_back(static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 255)(faultRandom_)));
    }
    noise.Time = start;
    Clock::time_point at = start;
    for (uint8_t b : noise.Bytes) {
        at += byteTime_;
        out_.push_back({at, b});
    }
    noise.End = at;
    noise.CrcGood = CrcGood(noise.Bytes);
    AddLog(noise);
}

bool SimDevice::CrcGood(const std::vector<uint8_t> &frame) const
{
    if (!options_.CrcLowFirst)
        return DeviceCrcGood(frame);
    if (frame.size() < 3)
        return false;
    std::vector<uint8_t> swapped = frame;
    std::swap(swapped[swapped.size() - 2], swapped[swapped.size() - 1]);
    return DeviceCrcGood(swapped);
}

void SimDevice::FlushOutput(Clock::time_point now)
{
    if (masterFd_ < 0) {
        out_.clear();
        outNext_ = 0;
        return;
    }
    uint8_t piece[256];
    size_t n = 0;
    while (outNext_ < out_.size() && out_[outNext_].Due <= now && n < sizeof piece)
        piece[n++] = out_[outNext_++].Byte;
    if (n == 0)
        return;
    // Nobody reading the other side lets the pty fill up; the line then loses the bytes,
    // as a real line does when no one listens.
    [[maybe_unused]] ssize_t written = ::write(masterFd_, piece, n);
}

void SimDevice::DoHangUp(Clock::time_point now)
{
    hangUpPending_ = false;
    if (masterFd_ < 0)
        return;
    RemoveLink();
    ClosePty();
    rx_.clear();
    rxEnd_.clear();
    out_.clear();
    outNext_ = 0;
    if (options_.ReplugMs >= 0) {
        replugPending_ = true;
        replugAt_ = now + Ms(options_.ReplugMs);
    }
    LogEntry entry;
    entry.Kind = LogEntry::HangUp;
    entry.Time = entry.End = now;
    entry.Note = LinkPath();
    AddLog(entry);
}

void SimDevice::DoPlugIn(Clock::time_point now)
{
    replugPending_ = false;
    std::string error;
    LogEntry entry;
    entry.Kind = LogEntry::PlugIn;
    entry.Time = entry.End = now;
    if (!OpenPty(&error) || !PublishLink(&error)) {
        ClosePty();
        entry.Note = "plug-in failed: " + error;
        // Try again a little later.
        replugPending_ = true;
        replugAt_ = now + std::chrono::milliseconds(500);
    } else {
        entry.Note = LinkPath() + " -> " + SlavePath();
    }
    lineFreeAt_ = now;
    AddLog(entry);
}

} // namespace sim
