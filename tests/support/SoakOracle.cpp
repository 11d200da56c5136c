#include "SoakOracle.h"

#include <QByteArray>
#include <QStringList>

#include <cstdlib>

namespace {

// Stray bytes the stand-in appends to a reply with trailing bytes.
constexpr size_t TrailingBytes = 3;

QString Hex(const std::vector<uint8_t> &bytes)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())).toHex(' '));
}

}  // namespace

ReplyOracle::ReplyOracle(sim::SimDevice &device) : device_(device)
{
    device_.SetLogListener([this](const sim::LogEntry &entry) {
        if (entry.Kind == sim::LogEntry::Request) {
            ++requests_;
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (entry.Kind == sim::LogEntry::Noise) {
            ++faults_[size_t(sim::Fault::Noise)];
            return;
        }
        if (entry.Kind != sim::LogEntry::Reply)
            return;
        if (entry.Fault != sim::Fault::None && entry.Fault != sim::Fault::Noise)
            ++faults_[size_t(entry.Fault)];
        if (!entry.CrcGood || entry.Bytes.empty())
            return;
        std::vector<uint8_t> proper = entry.Bytes;
        if (entry.Fault == sim::Fault::Trailing && proper.size() > TrailingBytes)
            proper.resize(proper.size() - TrailingBytes);
        good_.insert(std::move(proper));
    });
}

ReplyOracle::~ReplyOracle()
{
    device_.SetLogListener({});
}

bool ReplyOracle::SentGood(const uint8_t *bytes, int length) const
{
    if (length <= 0)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return good_.count(std::vector<uint8_t>(bytes, bytes + length)) > 0;
}

std::vector<std::vector<uint8_t>> ReplyOracle::GoodReplies(size_t length) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::vector<uint8_t>> out;
    for (const auto &reply : good_)
        if (reply.size() == length)
            out.push_back(reply);
    return out;
}

std::array<int, sim::FaultKindCount> ReplyOracle::Faults() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_;
}

int SoakCount(const char *name, int fallback)
{
    const char *text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    const int value = std::atoi(text);
    return value > 0 ? value : fallback;
}

sim::SimOptions SoakOptions(uint64_t seed)
{
    sim::SimOptions options;
    options.Seed = seed;
    return options;
}

std::array<double, sim::FaultKindCount> SoakFaultMix()
{
    std::array<double, sim::FaultKindCount> p{};
    p[size_t(sim::Fault::NoReply)] = 0.03;
    p[size_t(sim::Fault::Late)] = 0.03;
    p[size_t(sim::Fault::BadCrc)] = 0.048;
    p[size_t(sim::Fault::CrcLowHigh)] = 0.048;
    p[size_t(sim::Fault::Split)] = 0.048;
    p[size_t(sim::Fault::Trailing)] = 0.048;
    p[size_t(sim::Fault::Noise)] = 0.048;
    return p;
}

QString FaultTallyText(const std::array<int, sim::FaultKindCount> &faults)
{
    QStringList parts;
    for (int i = 1; i < sim::FaultKindCount; ++i)
        parts << QStringLiteral("%1 %2").arg(QString::fromLatin1(sim::FaultName(sim::Fault(i)))).arg(faults[size_t(i)]);
    return parts.join(QStringLiteral(", "));
}

QStringList CommandsRepeatedUntilAnswered(const std::vector<sim::LogEntry> &log)
{
    std::vector<const sim::LogEntry *> requests;
    std::vector<const sim::LogEntry *> replies;
    for (const sim::LogEntry &e : log) {
        if (e.Kind == sim::LogEntry::Request)
            requests.push_back(&e);
        else if (e.Kind == sim::LogEntry::Reply && e.CrcGood && !e.Bytes.empty())
            replies.push_back(&e);
    }
    QStringList out;
    for (size_t i = 0; i + 1 < requests.size(); ++i) {
        const sim::LogEntry &command = *requests[i];
        const sim::LogEntry &next = *requests[i + 1];
        if (command.Bytes.size() != 8 || command.Bytes[1] != 5 || next.Bytes == command.Bytes)
            continue;
        bool answered = false;
        for (const sim::LogEntry *reply : replies)
            if (reply->End > command.Time && reply->End < next.Time)
                answered = true;
        if (!answered)
            out << QStringLiteral("command %1 (request %2) given up without a good answer").arg(Hex(command.Bytes)).arg(i);
    }
    return out;
}

QStringList RequestsOutside(const std::vector<sim::LogEntry> &log, const std::set<std::vector<uint8_t>> &allowed)
{
    QStringList out;
    for (const sim::LogEntry &e : log)
        if (e.Kind == sim::LogEntry::Request && !allowed.count(e.Bytes))
            out << Hex(e.Bytes);
    return out;
}
