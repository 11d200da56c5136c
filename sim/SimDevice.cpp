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

SimDevice::SimDevice(SimOptions options) : m_options(std::move(options))
{
    if (m_options.baud <= 0)
        m_options.baud = 9600;
    m_byteTime = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(11.0 / m_options.baud));
    m_model.Seed(m_options.seed);
    m_model.SetProver(m_options.prover);
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
    return std::chrono::duration<double, std::milli>(m_byteTime).count();
}

bool SimDevice::Start(std::string *error)
{
    if (Running()) {
        if (error)
            *error = "already running";
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopRequested = m_hangUpRequested = m_plugInRequested = false;
    }
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        if (error)
            *error = SystemError("eventfd");
        return false;
    }
    if (!OpenPty(error) || !PublishLink(error)) {
        ClosePty();
        ::close(m_wakeFd);
        m_wakeFd = -1;
        return false;
    }
    m_lastAdvance = Clock::now();
    m_lineFreeAt = m_lastAdvance;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = true;
    }
    m_thread = std::thread([this] { Run(); });
    return true;
}

void SimDevice::Stop()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopRequested = true;
        }
        Wake();
        m_thread.join();
    }
    RemoveLink();
    ClosePty();
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
        m_wakeFd = -1;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = false;
}

bool SimDevice::Running() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running;
}

std::string SimDevice::LinkPath() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_linkPath;
}

std::string SimDevice::SlavePath() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slavePath;
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
        ::cfsetispeed(&tio, SpeedFor(m_options.baud));
        ::cfsetospeed(&tio, SpeedFor(m_options.baud));
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    // Let an ordinary user who runs the program open it even if we run as someone else.
    ::chmod(name, 0666);
    m_masterFd = master;
    m_slaveFd = slave;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slavePath = name;
    return true;
}

void SimDevice::ClosePty()
{
    if (m_masterFd >= 0)
        ::close(m_masterFd);
    if (m_slaveFd >= 0)
        ::close(m_slaveFd);
    m_masterFd = m_slaveFd = -1;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slavePath.clear();
}

bool SimDevice::PublishLink(std::string *error)
{
    std::string link = LinkPath();  // a plug-in comes back at the same place
    if (link.empty())
        link = m_options.linkPath;
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
    std::lock_guard<std::mutex> lock(m_mutex);
    m_linkPath = link;
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
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_model.Holding(reg);
}

void SimDevice::SetHolding(int reg, uint16_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_model.SetHolding(reg, value);
}

uint16_t SimDevice::Input(int reg) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_model.Input(reg);
}

void SimDevice::SetInput(int reg, uint16_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_model.SetInput(reg, value);
}

bool SimDevice::Coil(int coil) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_model.Coil(coil);
}

void SimDevice::SetCoil(int coil, bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_model.SetCoil(coil, on);
}

void SimDevice::QueueFault(Fault fault, int count)
{
    if (count <= 0)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faultQueue.emplace_back(fault, count);
}

void SimDevice::SetRandomFaults(uint64_t seed, const std::array<double, FaultKindCount> &probabilities)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faultRandom.seed(seed);
    m_faultProbabilities = probabilities;
    m_faultProbabilities[0] = 0;
    m_randomFaults = true;
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
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faultQueue.clear();
    m_randomFaults = false;
}

void SimDevice::HangUpNow()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hangUpRequested = true;
    }
    Wake();
}

void SimDevice::PlugBackIn()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_plugInRequested = true;
    }
    Wake();
}

std::vector<LogEntry> SimDevice::Log() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

void SimDevice::ClearLog()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.clear();
}

bool SimDevice::WaitForLog(const std::function<bool(const std::vector<LogEntry> &)> &pred, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_logChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return pred(m_log); });
}

void SimDevice::SetLogListener(std::function<void(const LogEntry &)> listener)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listener = std::move(listener);
}

void SimDevice::AddLog(LogEntry entry)
{
    std::function<void(const LogEntry &)> listener;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_log.push_back(entry);
        listener = m_listener;
    }
    m_logChanged.notify_all();
    if (listener)
        listener(entry);
}

void SimDevice::Wake()
{
    if (m_wakeFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    }
}

Fault SimDevice::PickFault()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_faultQueue.empty()) {
        const Fault fault = m_faultQueue.front().first;
        if (--m_faultQueue.front().second <= 0)
            m_faultQueue.erase(m_faultQueue.begin());
        return fault;
    }
    if (!m_randomFaults)
        return Fault::None;
    double draw = std::uniform_real_distribution<double>(0.0, 1.0)(m_faultRandom);
    for (int i = 1; i < FaultKindCount; ++i) {
        if (draw < m_faultProbabilities[i])
            return static_cast<Fault>(i);
        draw -= m_faultProbabilities[i];
    }
    return Fault::None;
}

void SimDevice::Run()
{
    for (;;) {
        bool stop, hangUp, plugIn;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            stop = m_stopRequested;
            hangUp = m_hangUpRequested;
            plugIn = m_plugInRequested;
            m_hangUpRequested = m_plugInRequested = false;
        }
        if (stop)
            return;
        Clock::time_point now = Clock::now();
        if (hangUp && m_masterFd >= 0)
            DoHangUp(now);
        if (m_hangUpPending && now >= m_hangUpAt)
            DoHangUp(now);
        if ((plugIn || (m_replugPending && now >= m_replugAt)) && m_masterFd < 0)
            DoPlugIn(now);

        FlushOutput(now);
        Clock::time_point deadline = now + Ms(m_options.animateMs);
        ProcessInput(now, deadline);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (now - m_lastAdvance >= Ms(m_options.animateMs)) {
                m_model.Advance(std::chrono::duration<double>(now - m_lastAdvance).count());
                m_lastAdvance = now;
            }
            deadline = std::min(deadline, m_lastAdvance + Ms(m_options.animateMs));
        }
        if (m_outNext < m_out.size())
            deadline = std::min(deadline, m_out[m_outNext].due);
        if (m_hangUpPending)
            deadline = std::min(deadline, m_hangUpAt);
        if (m_replugPending)
            deadline = std::min(deadline, m_replugAt);

        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_masterFd, POLLIN, 0}};
        const nfds_t count = m_masterFd >= 0 ? 2 : 1;
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
            [[maybe_unused]] ssize_t n = ::read(m_wakeFd, &value, sizeof value);
        }
        if (count == 2 && (fds[1].revents & POLLIN))
            ReadInput(Clock::now());
    }
}

void SimDevice::ReadInput(Clock::time_point now)
{
    uint8_t chunk[512];
    for (;;) {
        const ssize_t n = ::read(m_masterFd, chunk, sizeof chunk);
        if (n <= 0)
            return;
        for (ssize_t i = 0; i < n; ++i) {
            // Each byte occupies the line for one byte time after the one before it.
            m_lineFreeAt = std::max(now, m_lineFreeAt) + m_byteTime;
            m_rx.push_back(chunk[i]);
            m_rxEnd.push_back(m_lineFreeAt);
        }
        if (m_rx.size() > MaxHeldInput) {
            const size_t drop = m_rx.size() - MaxHeldInput;
            m_rx.erase(m_rx.begin(), m_rx.begin() + drop);
            m_rxEnd.erase(m_rxEnd.begin(), m_rxEnd.begin() + drop);
        }
    }
}

void SimDevice::ProcessInput(Clock::time_point now, Clock::time_point &deadline)
{
    const Clock::duration silence = std::chrono::duration_cast<Clock::duration>(m_byteTime * 3.5);
    while (!m_rx.empty()) {
        const size_t expected = ExpectedRequestLength(m_rx.data(), m_rx.size());
        if (expected > 0 && m_rx.size() >= expected) {
            const Clock::time_point arrived = m_rxEnd[expected - 1];
            if (now < arrived) {
                deadline = std::min(deadline, arrived);
                return;
            }
            std::vector<uint8_t> frame(m_rx.begin(), m_rx.begin() + expected);
            m_rx.erase(m_rx.begin(), m_rx.begin() + expected);
            m_rxEnd.erase(m_rxEnd.begin(), m_rxEnd.begin() + expected);
            HandleFrame(std::move(frame), arrived);
            continue;
        }
        // Not a whole known request yet: the frame ends with 3.5 characters of silence.
        const Clock::time_point quietFrom = m_rxEnd.back() + silence;
        if (now < quietFrom) {
            deadline = std::min(deadline, quietFrom);
            return;
        }
        std::vector<uint8_t> frame;
        frame.swap(m_rx);
        const Clock::time_point arrived = m_rxEnd.back();
        m_rxEnd.clear();
        HandleFrame(std::move(frame), arrived);
    }
}

void SimDevice::HandleFrame(std::vector<uint8_t> frame, Clock::time_point arrived)
{
    if (!LogRequest(frame, arrived))
        return;
    std::vector<uint8_t> reply = ModelReply(frame);
    const Fault fault = PickFault();
    Clock::time_point start = std::max(arrived + Ms(m_options.turnaroundMs), Clock::now());
    if (m_outNext < m_out.size())
        start = std::max(start, m_out.back().due);

    LogEntry sent;
    sent.kind = LogEntry::Reply;
    sent.fault = fault;
    if (reply.size() == 5 && (reply[1] & 0x80))
        sent.note = "exception " + std::to_string(reply[2]);
    if (!ApplyFault(fault, reply, start, sent)) {
        sent.time = sent.end = start;
        AddLog(sent);
        return;
    }
    sent.crcGood = CrcGood(reply);
    if (fault == Fault::Trailing) {
        std::uniform_int_distribution<int> byte(0, 255);
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int i = 0; i < 3; ++i)
            reply.push_back(static_cast<uint8_t>(byte(m_faultRandom)));
    }
    const Clock::time_point end = Schedule(reply, start, fault == Fault::Split ? std::max(2, m_options.splitChunks) : 1);
    sent.bytes = reply;
    sent.time = start;
    sent.end = end;
    AddLog(sent);
    if (fault == Fault::Noise)
        ScheduleNoise(end + Ms(m_options.noiseDelayMs));
}

bool SimDevice::LogRequest(const std::vector<uint8_t> &frame, Clock::time_point arrived)
{
    LogEntry request;
    request.kind = LogEntry::Request;
    request.bytes = frame;
    request.time = request.end = arrived;
    request.crcGood = CrcGood(frame);
    if (frame.size() < 4)
        request.note = "ignored: too short";
    else if (frame[0] != DeviceAddress)
        request.note = "ignored: slave " + std::to_string(frame[0]);
    else if (!request.crcGood)
        request.note = "ignored: bad CRC";
    const bool answer = request.note.empty();
    AddLog(request);
    return answer;
}

std::vector<uint8_t> SimDevice::ModelReply(const std::vector<uint8_t> &frame)
{
    std::vector<uint8_t> reply;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Clock::time_point now = Clock::now();
        m_model.Advance(std::chrono::duration<double>(now - m_lastAdvance).count());
        m_lastAdvance = now;
        if (m_options.crcLowFirst) {
            // The model speaks the device's order: the request in it (an echo copies it),
            // the reply back out in the peer's.
            std::vector<uint8_t> inDeviceOrder = frame;
            std::swap(inDeviceOrder[inDeviceOrder.size() - 2], inDeviceOrder[inDeviceOrder.size() - 1]);
            reply = m_model.Handle(inDeviceOrder);
        } else {
            reply = m_model.Handle(frame);
        }
    }
    if (m_options.crcLowFirst && reply.size() >= 2)
        std::swap(reply[reply.size() - 2], reply[reply.size() - 1]);
    return reply;
}

bool SimDevice::ApplyFault(Fault fault, std::vector<uint8_t> &reply, Clock::time_point &start, LogEntry &sent)
{
    switch (fault) {
    case Fault::NoReply:
        sent.note = "no reply";
        return false;
    case Fault::HangUp:
        sent.note = "hang-up instead of a reply";
        m_hangUpPending = true;
        m_hangUpAt = start;
        return false;
    case Fault::BadCrc:
        reply.back() ^= 0xA5;
        break;
    case Fault::CrcLowHigh:
        std::swap(reply[reply.size() - 2], reply[reply.size() - 1]);
        break;
    case Fault::Late:
        start += Ms(m_options.lateMs);
        break;
    default:
        break;
    }
    return true;
}

Clock::time_point SimDevice::Schedule(const std::vector<uint8_t> &bytes, Clock::time_point start, int chunks)
{
    // Compact the schedule once everything queued has gone out.
    if (m_outNext >= m_out.size()) {
        m_out.clear();
        m_outNext = 0;
    }
    const size_t perChunk = (bytes.size() + chunks - 1) / chunks;
    Clock::time_point due = start;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && perChunk > 0 && i % perChunk == 0)
            due += Ms(m_options.splitPauseMs);
        due += m_byteTime;  // the byte has arrived once it has crossed the line
        m_out.push_back({due, bytes[i]});
    }
    return due;
}

void SimDevice::ScheduleNoise(Clock::time_point start)
{
    LogEntry noise;
    noise.kind = LogEntry::Noise;
    noise.fault = Fault::Noise;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const int length = std::uniform_int_distribution<int>(1, 6)(m_faultRandom);
        for (int i = 0; i < length; ++i)
            noise.bytes.push_back(static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 255)(m_faultRandom)));
    }
    noise.time = start;
    Clock::time_point at = start;
    for (uint8_t b : noise.bytes) {
        at += m_byteTime;
        m_out.push_back({at, b});
    }
    noise.end = at;
    noise.crcGood = CrcGood(noise.bytes);
    AddLog(noise);
}

bool SimDevice::CrcGood(const std::vector<uint8_t> &frame) const
{
    if (!m_options.crcLowFirst)
        return DeviceCrcGood(frame);
    if (frame.size() < 3)
        return false;
    std::vector<uint8_t> swapped = frame;
    std::swap(swapped[swapped.size() - 2], swapped[swapped.size() - 1]);
    return DeviceCrcGood(swapped);
}

void SimDevice::FlushOutput(Clock::time_point now)
{
    if (m_masterFd < 0) {
        m_out.clear();
        m_outNext = 0;
        return;
    }
    uint8_t piece[256];
    size_t n = 0;
    while (m_outNext < m_out.size() && m_out[m_outNext].due <= now && n < sizeof piece)
        piece[n++] = m_out[m_outNext++].byte;
    if (n == 0)
        return;
    // Nobody reading the other side lets the pty fill up; the line then loses the bytes,
    // as a real line does when no one listens.
    [[maybe_unused]] ssize_t written = ::write(m_masterFd, piece, n);
}

void SimDevice::DoHangUp(Clock::time_point now)
{
    m_hangUpPending = false;
    if (m_masterFd < 0)
        return;
    RemoveLink();
    ClosePty();
    m_rx.clear();
    m_rxEnd.clear();
    m_out.clear();
    m_outNext = 0;
    if (m_options.replugMs >= 0) {
        m_replugPending = true;
        m_replugAt = now + Ms(m_options.replugMs);
    }
    LogEntry entry;
    entry.kind = LogEntry::HangUp;
    entry.time = entry.end = now;
    entry.note = LinkPath();
    AddLog(entry);
}

void SimDevice::DoPlugIn(Clock::time_point now)
{
    m_replugPending = false;
    std::string error;
    LogEntry entry;
    entry.kind = LogEntry::PlugIn;
    entry.time = entry.end = now;
    if (!OpenPty(&error) || !PublishLink(&error)) {
        ClosePty();
        entry.note = "plug-in failed: " + error;
        // Try again a little later.
        m_replugPending = true;
        m_replugAt = now + std::chrono::milliseconds(500);
    } else {
        entry.note = LinkPath() + " -> " + SlavePath();
    }
    m_lineFreeAt = now;
    AddLog(entry);
}

} // namespace sim
