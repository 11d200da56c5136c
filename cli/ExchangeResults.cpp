#include "ExchangeResults.h"

#include <QStringList>

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

QString ExchangeResultText(const TExchangeResult &result, int timeoutMs, const QString &interruptedBy)
{
    const QString attempts = result.Attempts == 1 ? QStringLiteral("1 attempt") : QStringLiteral("%1 attempts").arg(result.Attempts);
    const QString interrupted = interruptedBy.isEmpty() ? QStringLiteral("interrupted") : QStringLiteral("interrupted by ") + interruptedBy;
    // What the last request sent got, for an exchange that ended before the next was sent.
    const auto lastSent = [&] {
        TExchangeResult last = result;
        const bool sentOutcome = result.LastSent != TExchangeOutcome::NoisyLine && result.LastSent != TExchangeOutcome::Interrupted;
        last.Outcome = sentOutcome ? result.LastSent : TExchangeOutcome::NoAnswer;
        return ExchangeResultText(last, timeoutMs);
    };
    switch (result.Outcome) {
    case TExchangeOutcome::Answer:
        return QStringLiteral("answer");
    case TExchangeOutcome::Exception:
        return QStringLiteral("the device answered with exception %1 (%2)")
            .arg(result.ExceptionCode)
            .arg(ModbusExceptionName(result.ExceptionCode));
    case TExchangeOutcome::NoAnswer: {
        if (result.Received <= 0)
            return QStringLiteral("no answer within %1 ms (%2)").arg(timeoutMs).arg(attempts);
        const QString when = result.Attempts > 1 ? QStringLiteral("the last time ") : QString();
        const QString came = result.Expected > result.Received
            ? QStringLiteral("%1%2 of the answer's %3 bytes came").arg(when).arg(result.Received).arg(result.Expected)
            : QStringLiteral("%1%2 bytes came that made no answer").arg(when).arg(result.Received);
        return QStringLiteral("no complete answer within %1 ms (%2; %3)").arg(timeoutMs).arg(attempts, came);
    }
    case TExchangeOutcome::BadCrc:
        return QStringLiteral("answers with a bad CRC (%1)").arg(attempts);
    case TExchangeOutcome::WrongAnswer:
        return QStringLiteral("answers that do not fit the request (%1): %2")
            .arg(attempts, HexBytes(reinterpret_cast<const uint8_t *>(result.Answer.constData()), int(result.Answer.size())));
    case TExchangeOutcome::NoisyLine: {
        const QString noisy = QStringLiteral("the line is never quiet: %1 bytes came within %2 ms").arg(result.NoiseBytes).arg(timeoutMs);
        if (!result.Sent())
            return noisy + QStringLiteral(", so the request was not sent");
        return QStringLiteral("%1; then %2, so the request was not sent again").arg(lastSent(), noisy);
    }
    case TExchangeOutcome::Interrupted:
        if (!result.Sent())
            return interrupted + QStringLiteral(" before the request was sent");
        if (result.LastSent == TExchangeOutcome::Interrupted)
            return QStringLiteral("%1 while the answer was awaited (the request was sent, %2)").arg(interrupted, attempts);
        return QStringLiteral("%1; then %2 before the request was sent again").arg(lastSent(), interrupted);
    }
    return {};
}

QString TraceFrameText(const TTraceFrame &frame)
{
    QString line = QStringLiteral("%1 ms %2 %3")
                       .arg(frame.Ms, 10, 'f', 1)
                       .arg(QLatin1String(frame.Sent ? "->" : "<-"),
                            HexBytes(reinterpret_cast<const uint8_t *>(frame.Bytes.constData()), int(frame.Bytes.size())));
    QStringList notes;
    switch (frame.Note) {
    case TTraceNote::None:
        break;
    case TTraceNote::Stray:
        notes << QStringLiteral("stray");
        break;
    case TTraceNote::Interrupted:
        notes << QStringLiteral("interrupted");
        break;
    case TTraceNote::Timeout:
        notes << QStringLiteral("time-out");
        break;
    case TTraceNote::IncompleteTimeout:
        notes << QStringLiteral("incomplete, time-out");
        break;
    case TTraceNote::Exception:
        notes << QStringLiteral("exception");
        break;
    case TTraceNote::BadCrc:
        notes << QStringLiteral("bad CRC");
        break;
    case TTraceNote::DoesNotFit:
        notes << QStringLiteral("does not fit the request");
        break;
    }
    if (frame.BytesAfter > 0)
        notes << QStringLiteral("%1 more bytes after it").arg(frame.BytesAfter);
    if (!notes.isEmpty())
        line += QStringLiteral("  (%1)").arg(notes.join(QStringLiteral(", ")));
    return line;
}
