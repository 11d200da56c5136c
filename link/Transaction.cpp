#include "Transaction.h"

#include "CPort.h"
#include "modbus.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace {

uint16_t Field(const uint8_t *frame, int at)
{
    return uint16_t(frame[at] << 8 | frame[at + 1]);
}

bool CrcEnds(const uint8_t *frame, int length)
{
    const uint16_t crc = ModbusCrc16(frame, uint16_t(length - 2));
    return frame[length - 2] == (crc >> 8) && frame[length - 1] == (crc & 0xFF);
}

}  // namespace

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

int ExpectedAnswerLength(const uint8_t *request, int size)
{
    if (size < 6)
        return -1;
    switch (request[1]) {
    case 1:
    case 2:
        return (Field(request, 4) + 7) / 8 + 5;
    case 3:
    case 4:
        return 2 * Field(request, 4) + 5;
    case 5:
    case 6:
    case 15:
    case 16:
        return 8;
    default:
        return -1;
    }
}

int AnswerLineTimeMs(const QByteArray &request)
{
    const int length = ExpectedAnswerLength(reinterpret_cast<const uint8_t *>(request.constData()), int(request.size()));
    return int(std::ceil(std::max(length, 5) * LineByteMs));
}

int LeastAnswerTimeoutMs(const QByteArray &request)
{
    const int length = ExpectedAnswerLength(reinterpret_cast<const uint8_t *>(request.constData()), int(request.size()));
    return int(std::ceil(DefaultSilenceMs + TurnaroundMarginMs + std::max(length, 5) * LineByteMs));
}

// ---------------------------------------------------------------------------------------------
// TAnswerCollector

void TAnswerCollector::Begin(const uint8_t *request, int size)
{
    requestSize_ = std::clamp(size, 0, int(request_.size()));
    request_.fill(0);
    if (requestSize_ > 0)
        std::memcpy(request_.data(), request, size_t(requestSize_));
    expected_ = ExpectedAnswerLength(request, size);
    received_ = 0;
    length_ = 0;
    verdict_ = Verdict::Pending;
}

int TAnswerCollector::Held() const
{
    return int(std::min<qint64>(received_, Capacity));
}

TAnswerCollector::Verdict TAnswerCollector::Add(const uint8_t *bytes, int count)
{
    if (bytes && count > 0) {
        const int held = Held();
        const int kept = std::min(count, Capacity - held);
        if (kept > 0)
            std::memcpy(held_.data() + held, bytes, size_t(kept));
        received_ += count;
    }
    if (verdict_ == Verdict::Pending)
        verdict_ = Judge();
    return verdict_;
}

TAnswerCollector::Verdict TAnswerCollector::Judge()
{
    const int held = Held();
    if (held < 2 || requestSize_ < 2)
        return Verdict::Pending;
    const uint8_t function = request_[1];
    const uint8_t *a = held_.data();
    if (a[1] == (function | 0x80)) {
        if (held < 5)
            return Verdict::Pending;
        length_ = 5;
        if (!CrcEnds(a, 5))
            return Verdict::BadCrc;
        return a[0] == request_[0] ? Verdict::Exception : Verdict::WrongAnswer;
    }
    // The answer's own length: an echo for a write or a coil, else its byte count and 5.
    int length = 0;
    if (a[1] == 5 || a[1] == 6 || a[1] == 15 || a[1] == 16)
        length = 8;
    else if (held >= 3)
        length = a[2] + 5;
    else
        return Verdict::Pending;
    if (held < length)
        return Verdict::Pending;
    length_ = length;
    if (!CrcEnds(a, length))
        return Verdict::BadCrc;
    if (a[0] != request_[0] || a[1] != function || (expected_ >= 0 && length != expected_))
        return Verdict::WrongAnswer;
    if (length == 8 && std::memcmp(a, request_.data(), 6) != 0)
        return Verdict::WrongAnswer;
    return Verdict::Answer;
}

// ---------------------------------------------------------------------------------------------
// TTransaction

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
    // Opening discarded whatever had come, but says nothing of what the line is doing: the
    // first request waits for the quiet as every other does.
    lastActivityNs_ = clock_.nsecsElapsed();
}

void TTransaction::Close()
{
    port_.Close();
}

void TTransaction::Interrupt()
{
    interrupted_ = true;
    if (loop_)
        loop_->quit();
}

void TTransaction::Resume()
{
    interrupted_ = false;
}

void TTransaction::Received(int count)
{
    lastActivityNs_ = clock_.nsecsElapsed();
    // A failure to read ends the wait; Exchange raises it on its own thread of control.
    try {
        if (!collecting_) {
            DropStray(count);
        } else {
            uint8_t piece[TAnswerCollector::Capacity];
            while (count > 0) {
                const int got = port_.Read(piece, std::min<int>(count, sizeof piece));
                if (got <= 0)
                    break;
                answer_.Add(piece, got);
                count -= got;
            }
        }
    } catch (...) {
        portError_ = std::current_exception();
    }
    lastActivityNs_ = clock_.nsecsElapsed();
    if ((portError_ || (collecting_ && answer_.Current() != TAnswerCollector::Verdict::Pending)) && loop_)
        loop_->quit();
}

void TTransaction::DropStray(int count)
{
    // Nothing is awaited: whatever comes is no answer to anything of ours.
    uint8_t stray[256];
    while (count > 0) {
        const int got = port_.Read(stray, std::min<int>(count, sizeof stray));
        if (got <= 0)
            break;
        strayBytes_ += got;
        TraceFrame(false, stray, got, TTraceNote::Stray);
        count -= got;
    }
}

void TTransaction::RaisePortError()
{
    if (portError_)
        std::rethrow_exception(std::exchange(portError_, nullptr));
}

TTransaction::Quiet TTransaction::WaitForSilence(qint64 &noiseBytes)
{
    const qint64 silenceNs = qint64(std::ceil(options_.SilenceMs * 1e6));
    // A line that never falls quiet is given up after one answer's time-out.
    const qint64 deadline = clock_.nsecsElapsed() + qint64(std::max(options_.TimeoutMs, 0)) * 1'000'000;
    const qint64 strayBefore = strayBytes_;
    for (;;) {
        // Bytes already queued count before the pause is judged.
        QCoreApplication::processEvents();
        RaisePortError();
        if (interrupted_)
            return Quiet::Interrupted;
        const qint64 now = clock_.nsecsElapsed();
        const qint64 left = lastActivityNs_ + silenceNs - now;
        if (left <= 0) {
            // The port's event of bytes received may come late (a busy machine, a port that
            // is only looked at now and then): the port's queue is looked at before the line
            // is taken for quiet, and a byte in it starts the wait again.
            const int queued = port_.InputCount();
            if (queued == 0)
                return Quiet::Yes;
            DropStray(queued);
            lastActivityNs_ = clock_.nsecsElapsed();
            continue;
        }
        if (now >= deadline) {
            noiseBytes = strayBytes_ - strayBefore;
            return Quiet::Noisy;
        }
        // A plain pause keeps the silence close to its length (a timer may fire a whole
        // millisecond late); bytes that came meanwhile are read (and dropped) by the handler
        // and restart the wait.
        std::this_thread::sleep_for(std::chrono::nanoseconds(std::min(left, deadline - now)));
    }
}

void TTransaction::TraceFrame(bool sent, const uint8_t *bytes, int count, TTraceNote note, qint64 bytesAfter)
{
    if (!options_.Trace)
        return;
    TTraceFrame frame;
    frame.Ms = double(clock_.nsecsElapsed()) / 1e6;
    frame.Sent = sent;
    frame.Bytes = QByteArray(reinterpret_cast<const char *>(bytes), count);
    frame.Note = note;
    frame.BytesAfter = bytesAfter;
    options_.Trace(frame);
}

TExchangeResult TTransaction::Exchange(const uint8_t *frame, int size)
{
    TExchangeResult result;
    result.Expected = ExpectedAnswerLength(frame, size);
    lastAttempts_ = 0;
    for (int attempt = 0; attempt <= std::max(options_.Retries, 0); ++attempt) {
        // Until the next request leaves, the outcome is that of the last one sent.
        result.LastSent = result.Outcome;
        switch (WaitForSilence(result.NoiseBytes)) {
        case Quiet::Yes:
            break;
        case Quiet::Noisy:
            result.Outcome = TExchangeOutcome::NoisyLine;
            return result;
        case Quiet::Interrupted:
            result.Outcome = TExchangeOutcome::Interrupted;
            return result;
        }
        answer_.Begin(frame, size);
        lastAttempts_ = ++result.Attempts;
        TraceFrame(true, frame, size);
        SendAndCollect(frame, size);
        if (TakeAnswer(result))
            return result;
    }
    return result;
}

void TTransaction::SendAndCollect(const uint8_t *frame, int size)
{
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    timeout.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    collecting_ = true;
    const qint64 writeNs = clock_.nsecsElapsed();
    try {
        port_.Write(frame, size);  // returns once the bytes have left the port
    } catch (...) {
        collecting_ = false;
        throw;
    }
    // The last byte is on the line no sooner than the frame's line time after the first:
    // a port that took the bytes at once (a pseudo-terminal) leaves that time to the line,
    // and the time-out runs from its end.
    const qint64 writtenNs = clock_.nsecsElapsed();
    const qint64 lineEndNs = std::max(writtenNs, writeNs + qint64(std::ceil(size * LineByteMs * 1e6)));
    lastActivityNs_ = lineEndNs;
    if (answer_.Current() == TAnswerCollector::Verdict::Pending && !interrupted_ && !portError_) {
        loop_ = &loop;
        timeout.start(int(std::max(options_.TimeoutMs, 0) + (lineEndNs - writtenNs + 999'999) / 1'000'000));
        loop.exec();
        loop_ = nullptr;
    }
    collecting_ = false;
    RaisePortError();
}

bool TTransaction::TakeAnswer(TExchangeResult &result)
{
    using Verdict = TAnswerCollector::Verdict;
    const Verdict verdict = answer_.Current();
    const int held = answer_.Held();
    const int length = verdict == Verdict::Pending ? held : answer_.Length();
    result.Answer = QByteArray(reinterpret_cast<const char *>(answer_.Bytes()), length);
    result.Received = answer_.Received();
    const qint64 after = std::max<qint64>(answer_.Received() - length, 0);
    if (verdict == Verdict::Pending) {
        TraceFrame(false, answer_.Bytes(), held,
                   interrupted_ ? TTraceNote::Interrupted : held ? TTraceNote::IncompleteTimeout : TTraceNote::Timeout);
        if (interrupted_) {
            result.Outcome = result.LastSent = TExchangeOutcome::Interrupted;
            return true;
        }
        result.Outcome = TExchangeOutcome::NoAnswer;
        return false;
    }
    switch (verdict) {
    case Verdict::Exception:
        TraceFrame(false, answer_.Bytes(), length, TTraceNote::Exception, after);
        result.Outcome = TExchangeOutcome::Exception;
        result.ExceptionCode = answer_.ExceptionCode();
        return true;
    case Verdict::Answer:
        TraceFrame(false, answer_.Bytes(), length, TTraceNote::None, after);
        result.Outcome = TExchangeOutcome::Answer;
        return true;
    case Verdict::BadCrc:
        TraceFrame(false, answer_.Bytes(), length, TTraceNote::BadCrc, after);
        result.Outcome = TExchangeOutcome::BadCrc;
        break;
    case Verdict::WrongAnswer:
    case Verdict::Pending:
        TraceFrame(false, answer_.Bytes(), length, TTraceNote::DoesNotFit, after);
        result.Outcome = TExchangeOutcome::WrongAnswer;
        break;
    }
    if (interrupted_) {
        result.LastSent = result.Outcome;
        result.Outcome = TExchangeOutcome::Interrupted;
        return true;
    }
    return false;
}
