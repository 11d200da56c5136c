#include "Transaction.h"

#include "CPort.h"
#include "Globals.h"
#include "Receive.h"
#include "modbus.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <ctime>

namespace {

uint16_t Field(const uint8_t *frame, int at)
{
    return uint16_t(frame[at] << 8 | frame[at + 1]);
}

// Data bytes a read answer carries for the request, or -1 for a request that is no read.
int ExpectedByteCount(const uint8_t *frame, int size)
{
    if (size < 6)
        return -1;
    switch (frame[1]) {
    case 1:
    case 2:
        return (Field(frame, 4) + 7) / 8;
    case 3:
    case 4:
        return 2 * Field(frame, 4);
    default:
        return -1;
    }
}

}  // namespace

QString ModbusExceptionName(uint8_t code)
{
    switch (code) {
    case 1: return QStringLiteral("illegal function");
    case 2: return QStringLiteral("illegal data address");
    case 3: return QStringLiteral("illegal data value");
    case 4: return QStringLiteral("server device failure");
    case 5: return QStringLiteral("acknowledge");
    case 6: return QStringLiteral("server device busy");
    case 8: return QStringLiteral("memory parity error");
    case 10: return QStringLiteral("gateway path unavailable");
    case 11: return QStringLiteral("gateway target device failed to respond");
    default: return QStringLiteral("unknown exception");
    }
}

QString HexBytes(const uint8_t *bytes, int count)
{
    QString text;
    text.reserve(count * 3);
    for (int i = 0; i < count; ++i) {
        if (i)
            text += QLatin1Char(' ');
        text += QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

QString TExchangeResult::Describe(int timeoutMs) const
{
    const QString attempts = Attempts == 1 ? QStringLiteral("1 attempt") : QStringLiteral("%1 attempts").arg(Attempts);
    switch (Outcome) {
    case TExchangeOutcome::Answer:
        return QStringLiteral("answer");
    case TExchangeOutcome::Exception:
        return QStringLiteral("the device answered with exception %1 (%2)")
            .arg(ExceptionCode)
            .arg(ModbusExceptionName(ExceptionCode));
    case TExchangeOutcome::NoAnswer:
        return QStringLiteral("no answer within %1 ms (%2)").arg(timeoutMs).arg(attempts);
    case TExchangeOutcome::BadCrc:
        return QStringLiteral("answers with a bad CRC (%1)").arg(attempts);
    case TExchangeOutcome::WrongAnswer:
        return QStringLiteral("answers that do not fit the request (%1): %2")
            .arg(attempts, HexBytes(reinterpret_cast<const uint8_t *>(Answer.constData()), int(Answer.size())));
    }
    return {};
}

TTransaction::TTransaction(TCustomComPort &port, TTransactionOptions options)
    : port_(port), options_(std::move(options))
{
    clock_.start();
    port_.OnRxChar = [this](QObject *, int count) { Received(count); };
}

TTransaction::~TTransaction()
{
    port_.OnRxChar = nullptr;
    try {
        port_.Close();
    } catch (...) {
        // released all the same
    }
}

void TTransaction::Open()
{
    port_.Open();
    // Opening discarded whatever had come: the first request need not wait.
    lastActivityNs_ = clock_.nsecsElapsed() - qint64(options_.SilenceMs * 1e6) - 1;
}

void TTransaction::Close()
{
    port_.Close();
}

void TTransaction::Received(int count)
{
    lastActivityNs_ = clock_.nsecsElapsed();
    if (!collecting_) {
        // Nothing is awaited: whatever comes is no answer to anything of ours.
        uint8_t stray[ReceiveBufferSize];
        while (count > 0) {
            const int got = port_.Read(stray, std::min<int>(count, sizeof stray));
            if (got <= 0)
                break;
            TraceFrame("<-", stray, got, QStringLiteral("stray"));
            count -= got;
        }
        return;
    }
    CollectReceivedBytes(port_, count);
    lastActivityNs_ = clock_.nsecsElapsed();
    if (Judge() != Verdict::Pending && loop_)
        loop_->quit();
}

TTransaction::Verdict TTransaction::Judge() const
{
    if (ReceiveLength == 5 && ReceiveBuffer[1] == (function_ | 0x80) && AnswerCrcGood())
        return Verdict::Exception;
    // The write of the configuration is answered by an 8-byte echo, as the main window
    // expects it; every other request by the mode windows' rule.
    const bool complete = function_ == 16 ? MainAnswerComplete(4) : ModeAnswerComplete();
    return complete ? Verdict::Complete : Verdict::Pending;
}

TExchangeOutcome TTransaction::Check(const uint8_t *frame, int size) const
{
    if (!AnswerCrcGood())
        return TExchangeOutcome::BadCrc;
    const int length = ReceiveLength;
    if (ReceiveBuffer[0] != frame[0] || ReceiveBuffer[1] != frame[1])
        return TExchangeOutcome::WrongAnswer;
    const int expected = ExpectedByteCount(frame, size);
    if (expected >= 0)
        return ReceiveBuffer[2] == expected && length == expected + 5 ? TExchangeOutcome::Answer
                                                                       : TExchangeOutcome::WrongAnswer;
    if ((frame[1] == 5 || frame[1] == 6 || frame[1] == 16) && size >= 6)
        return std::equal(frame, frame + 6, ReceiveBuffer) ? TExchangeOutcome::Answer : TExchangeOutcome::WrongAnswer;
    return TExchangeOutcome::Answer;
}

void TTransaction::WaitForSilence()
{
    const qint64 silenceNs = qint64(std::ceil(options_.SilenceMs * 1e6));
    for (;;) {
        const qint64 left = lastActivityNs_ + silenceNs - clock_.nsecsElapsed();
        if (left <= 0)
            return;
        // A plain sleep keeps the pause close to its length (a timer may fire a whole
        // millisecond late); bytes that came meanwhile are read (and dropped) by the handler
        // and restart the wait.
        const timespec pause{time_t(left / 1'000'000'000), long(left % 1'000'000'000)};
        nanosleep(&pause, nullptr);
        QCoreApplication::processEvents();
    }
}

void TTransaction::TraceFrame(const char *direction, const uint8_t *bytes, int count, const QString &note)
{
    if (!options_.Trace)
        return;
    QString line = QStringLiteral("%1 ms %2 %3")
                       .arg(double(clock_.nsecsElapsed()) / 1e6, 10, 'f', 1)
                       .arg(QLatin1String(direction), HexBytes(bytes, count));
    if (!note.isEmpty())
        line += QStringLiteral("  (%1)").arg(note);
    options_.Trace(line);
}

TExchangeResult TTransaction::Exchange(const uint8_t *frame, int size)
{
    TExchangeResult result;
    function_ = size > 1 ? frame[1] : 0;
    for (int attempt = 0; attempt <= std::max(options_.Retries, 0); ++attempt) {
        WaitForSilence();
        ClearReceiveBuffer();
        ++result.Attempts;
        TraceFrame("->", frame, size);

        QEventLoop loop;
        QTimer timeout;
        timeout.setSingleShot(true);
        timeout.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        collecting_ = true;
        port_.Write(frame, size);  // returns once the bytes have left the port
        lastActivityNs_ = clock_.nsecsElapsed();
        Verdict verdict = Judge();
        if (verdict == Verdict::Pending) {
            loop_ = &loop;
            timeout.start(std::max(options_.TimeoutMs, 0));
            loop.exec();
            loop_ = nullptr;
            verdict = Judge();
        }
        collecting_ = false;

        const int held = std::clamp<int>(ReceiveLength, 0, ReceiveBufferSize);
        const QByteArray received(reinterpret_cast<const char *>(ReceiveBuffer), held);
        if (verdict == Verdict::Exception) {
            TraceFrame("<-", ReceiveBuffer, held, QStringLiteral("exception"));
            result.Outcome = TExchangeOutcome::Exception;
            result.Answer = received;
            result.ExceptionCode = ReceiveBuffer[2];
            return result;
        }
        if (verdict == Verdict::Pending) {
            TraceFrame("<-", ReceiveBuffer, held, held ? QStringLiteral("incomplete, time-out") : QStringLiteral("time-out"));
            result.Outcome = TExchangeOutcome::NoAnswer;
            result.Answer = received;
            continue;
        }
        const TExchangeOutcome outcome = Check(frame, size);
        TraceFrame("<-", ReceiveBuffer, held,
                   outcome == TExchangeOutcome::BadCrc        ? QStringLiteral("bad CRC")
                   : outcome == TExchangeOutcome::WrongAnswer ? QStringLiteral("does not fit the request")
                                                              : QString());
        result.Outcome = outcome;
        result.Answer = received;
        if (outcome == TExchangeOutcome::Answer)
            return result;
    }
    return result;
}
