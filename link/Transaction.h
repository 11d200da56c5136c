#pragma once
// One request and its answer at a time over a port that stays open for a whole run: the
// exchange engine of the command-line companion. It sends a frame, judges the bytes that
// come back against the request (TAnswerCollector: completeness, CRC, exception reply,
// address, function, length, echo), acts the moment the answer is complete, and sends
// again after a time-out or a bad answer. Before every frame, the first after the port
// opens included, the line has been quiet for at least 3.5 character times. Runs on a
// thread with an event loop (the port hands its received-byte events over through it).

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <array>
#include <cstdint>
#include <exception>
#include <functional>

class QEventLoop;
class TCustomComPort;

// One byte on the line: 11 bits (8N2) at 9600 baud.
inline constexpr double LineByteMs = 11 * 1000.0 / 9600;
// 3.5 characters.
inline constexpr double DefaultSilenceMs = 3.5 * LineByteMs;
// What a time-out allows the device between the quiet that ends a request and the first
// byte of its answer, beyond that quiet.
inline constexpr int TurnaroundMarginMs = 20;

// What the trace says of one frame beyond its bytes.
enum class TTraceNote {
    None,
    Stray,              // bytes that came while nothing was awaited
    Interrupted,        // the exchange was interrupted while the answer was awaited
    Timeout,            // nothing came in time
    IncompleteTimeout,  // part of an answer came in time
    Exception,          // an exception reply
    BadCrc,             // complete, with a wrong CRC
    DoesNotFit,         // a good CRC, but not an answer to the request
};

// One frame of the trace: a request sent, or what came.
struct TTraceFrame {
    double Ms = 0;           // since the transaction was made
    bool Sent = false;       // a request (else what came)
    QByteArray Bytes;        // the frame as sent, or the answer proper (what came so far)
    TTraceNote Note = TTraceNote::None;
    qint64 BytesAfter = 0;   // bytes that came after the answer proper
};

struct TTransactionOptions {
    // From the request's last byte on the line to the answer's: a port that takes the bytes
    // faster than the line carries them (a pseudo-terminal) does not shorten it.
    int TimeoutMs = 1000;
    int Retries = 2;       // further attempts after a time-out or a bad answer
    double SilenceMs = DefaultSilenceMs;
    // Called with each frame sent and each that came; empty: no trace.
    std::function<void(const TTraceFrame &)> Trace;
};

enum class TExchangeOutcome {
    Answer,       // a complete answer with a good CRC that fits the request
    Exception,    // an exception reply: function | 0x80, the code, the CRC
    NoAnswer,     // nothing complete in time
    BadCrc,       // complete, but the CRC is wrong
    WrongAnswer,  // good CRC, but another address, function or length than asked for
    NoisyLine,    // the line never fell quiet within the time-out: the request was not sent
    Interrupted,  // Interrupt() ended the exchange
};

struct TExchangeResult {
    TExchangeOutcome Outcome = TExchangeOutcome::NoAnswer;
    QByteArray Answer;  // the answer (or exception reply) as received, CRC included
    uint8_t ExceptionCode = 0;
    int Attempts = 0;   // requests sent: 0 when the request never left
    qint64 NoiseBytes = 0;  // NoisyLine: bytes that kept the line busy
    // NoisyLine or Interrupted after a request was sent: what the last one sent got
    // (Interrupted: the answer was still awaited).
    TExchangeOutcome LastSent = TExchangeOutcome::NoAnswer;
    qint64 Received = 0;  // bytes that came after the last request sent
    int Expected = -1;    // the length of the answer the request asks for; -1: unknown

    bool Ok() const { return Outcome == TExchangeOutcome::Answer; }
    bool Sent() const { return Attempts > 0; }
};

// Bytes as "0A 03 00 00".
QString HexBytes(const uint8_t *bytes, int count);

// Bytes of the answer a request asks for (a read: its data and 5 more; a write or a coil:
// the 8-byte echo), or -1 for a request the engine does not know.
int ExpectedAnswerLength(const uint8_t *request, int size);
// The time the answer to request takes on the line, in whole ms.
int AnswerLineTimeMs(const QByteArray &request);
// The least time-out that can work for request, in whole ms: the quiet that ends the
// request, the turnaround margin and the answer's line time.
int LeastAnswerTimeoutMs(const QByteArray &request);

// What the bytes received so far make of the answer to one request. The answer's length
// follows from its first bytes (5 for an exception reply, 8 for an echo, the byte count
// and 5 for a read); bytes after that length are noise and do not change the verdict,
// and once the verdict is reached no later byte changes it.
class TAnswerCollector {
public:
    enum class Verdict { Pending, Answer, Exception, BadCrc, WrongAnswer };
    // The longest answer a frame can describe: 255 data bytes, address, function, count, CRC.
    static constexpr int Capacity = 260;

    // Starts on the answer to request (a whole frame with its CRC): nothing held.
    void Begin(const uint8_t *request, int size);
    // Takes bytes that arrived; bytes beyond Capacity are counted, not kept.
    Verdict Add(const uint8_t *bytes, int count);
    Verdict Current() const { return verdict_; }

    const uint8_t *Bytes() const { return held_.data(); }
    int Held() const;                // bytes kept
    qint64 Received() const { return received_; }
    int Length() const { return length_; }  // the answer's length once judged, else 0
    uint8_t ExceptionCode() const { return verdict_ == Verdict::Exception ? held_[2] : 0; }

private:
    Verdict Judge();

    std::array<uint8_t, 8> request_{};  // the request's first bytes (the echo compares 6)
    int requestSize_ = 0;
    int expected_ = -1;
    std::array<uint8_t, Capacity> held_{};
    qint64 received_ = 0;
    int length_ = 0;
    Verdict verdict_ = Verdict::Pending;
};

class TTransaction {
public:
    // The port keeps its settings; the transaction takes over its received-byte handler.
    TTransaction(TCustomComPort &port, TTransactionOptions options);
    ~TTransaction();  // closes the port
    TTransaction(const TTransaction &) = delete;
    TTransaction &operator=(const TTransaction &) = delete;

    // Opens the port (EComPort when it cannot be opened).
    void Open();
    void Close();

    // Sends frame (a whole request with its CRC) and waits for its answer, sending again
    // up to Retries times. An exception reply is an answer too: it is not sent again.
    // A failure of the port (EComPort) is raised, also one met while bytes were received.
    TExchangeResult Exchange(const uint8_t *frame, int size);
    TExchangeResult Exchange(const QByteArray &frame)
    {
        return Exchange(reinterpret_cast<const uint8_t *>(frame.constData()), int(frame.size()));
    }

    // Requests the last Exchange sent, one that raised a failure of the port included (a
    // request whose writing failed counts: part of it may have left).
    int LastAttempts() const { return lastAttempts_; }

    // Ends the exchange in progress at once (its outcome: Interrupted) and every one that
    // starts until Resume(). Called on the transaction's thread, from an event handler.
    void Interrupt();
    void Resume();
    bool Interrupted() const { return interrupted_; }

    const TTransactionOptions &Options() const { return options_; }

private:
    enum class Quiet { Yes, Noisy, Interrupted };
    void Received(int count);
    void DropStray(int count);
    Quiet WaitForSilence(qint64 &noiseBytes);
    // Writes the request and collects its answer until it is whole, the time-out (counted
    // from the request's end on the line) passes, or the exchange is interrupted.
    void SendAndCollect(const uint8_t *frame, int size);
    // Puts what came into result and traces it; true when the exchange ends with it (an
    // answer, an exception, an interruption), false when the request is to be sent again.
    bool TakeAnswer(TExchangeResult &result);
    void RaisePortError();
    void TraceFrame(bool sent, const uint8_t *bytes, int count, TTraceNote note = TTraceNote::None,
                    qint64 bytesAfter = 0);

    TCustomComPort &port_;
    TTransactionOptions options_;
    QElapsedTimer clock_;
    qint64 lastActivityNs_ = 0;
    qint64 strayBytes_ = 0;
    bool collecting_ = false;
    bool interrupted_ = false;
    int lastAttempts_ = 0;
    std::exception_ptr portError_;
    TAnswerCollector answer_;
    QEventLoop *loop_ = nullptr;
};
