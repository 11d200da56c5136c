#pragma once
// One request and its answer at a time over a port that stays open for a whole run: the
// exchange engine of the command-line companion. It sends a frame, collects the answer
// into the shared answer buffer by the same completeness and CRC rules as the windows
// (modbus), acts the moment the answer is complete, tells an exception reply apart, and
// sends again after a time-out or a bad answer. Between frames the line stays silent for
// at least 3.5 character times. Runs on a thread with an event loop (the port hands its
// received-byte events over through it).

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <functional>

class QEventLoop;
class TCustomComPort;

// 3.5 characters of 11 bits (8N2) at 9600 baud.
inline constexpr double DefaultSilenceMs = 3.5 * 11 * 1000.0 / 9600;

struct TTransactionOptions {
    int TimeoutMs = 1000;  // from the request's last byte to the answer's
    int Retries = 2;       // further attempts after a time-out or a bad answer
    double SilenceMs = DefaultSilenceMs;
    // Called with each trace line ("   12.3 ms -> 0A 03 ..."); empty: no trace.
    std::function<void(const QString &)> Trace;
};

enum class TExchangeOutcome {
    Answer,       // a complete answer with a good CRC that fits the request
    Exception,    // an exception reply: function | 0x80, the code, the CRC
    NoAnswer,     // nothing complete in time
    BadCrc,       // complete, but the CRC is wrong
    WrongAnswer,  // good CRC, but another address, function or length than asked for
};

struct TExchangeResult {
    TExchangeOutcome Outcome = TExchangeOutcome::NoAnswer;
    QByteArray Answer;  // the answer (or exception reply) as received, CRC included
    uint8_t ExceptionCode = 0;
    int Attempts = 0;

    bool Ok() const { return Outcome == TExchangeOutcome::Answer; }
    // What went wrong, for a message: "no answer in 1000 ms (3 attempts)", "exception 2
    // (illegal data address)".
    QString Describe(int timeoutMs) const;
};

// The name of a Modbus exception code ("illegal data address").
QString ModbusExceptionName(uint8_t code);
// Bytes as "0A 03 00 00".
QString HexBytes(const uint8_t *bytes, int count);

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
    TExchangeResult Exchange(const uint8_t *frame, int size);
    TExchangeResult Exchange(const QByteArray &frame)
    {
        return Exchange(reinterpret_cast<const uint8_t *>(frame.constData()), int(frame.size()));
    }

    const TTransactionOptions &Options() const { return options_; }

private:
    enum class Verdict { Pending, Complete, Exception };
    void Received(int count);
    Verdict Judge() const;
    void WaitForSilence();
    void TraceFrame(const char *direction, const uint8_t *bytes, int count, const QString &note = {});
    TExchangeOutcome Check(const uint8_t *frame, int size) const;

    TCustomComPort &port_;
    TTransactionOptions options_;
    QElapsedTimer clock_;
    qint64 lastActivityNs_ = 0;
    bool collecting_ = false;
    uint8_t function_ = 0;
    QEventLoop *loop_ = nullptr;
};
