// The command-line companion's exchange engine: the bytes that come back after a request,
// split into arrivals, judged by TAnswerCollector (completeness by the answer's own first
// bytes, CRC, exception reply, address, function, length, echo), and the texts a failed
// exchange and the trace make of them.
//
// Input: byte 0 picks the request (bits 0..2) and, with bit 3, asks it of slave 11 instead
// of 10; the rest is a series of arrivals (FuzzSupport.h). A new-request flag starts on the
// answer to the same request again.

#include "FuzzSupport.h"

#include "ExchangeResults.h"
#include "Transaction.h"
#include "modbus.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Verdict = TAnswerCollector::Verdict;

struct TRequest {
    std::vector<uint8_t> Frame;
    int AnswerLength;  // what the device answers with: by the protocol, not by the engine
};

TRequest MakeRequest(uint8_t pick)
{
    auto shortRequest = [](uint8_t function, uint16_t first, uint16_t second, int answer) {
        const auto frame = BuildShortRequest(function, first, second);
        return TRequest{std::vector<uint8_t>(frame.begin(), frame.end()), answer};
    };
    switch (pick & 7) {
    case 0: return shortRequest(3, 0, 38, 81);       // configuration block 1
    case 1: return shortRequest(3, 38, 15, 35);      // configuration block 2
    case 2: return shortRequest(1, 0, 10, 7);        // mode status
    case 3: return shortRequest(4, 100, 40, 85);     // mode values
    case 4: return shortRequest(5, 4, 0xFF00, 8);    // mode command
    case 5: {
        std::array<uint8_t, 106> registers{};
        for (size_t i = 0; i < registers.size(); ++i)
            registers[i] = uint8_t(i * 7);
        const auto frame = BuildConfigWriteRequest(registers);
        return TRequest{std::vector<uint8_t>(frame.begin(), frame.end()), 8};
    }
    case 6: return shortRequest(1, 0, 255, 37);      // the most coils a status asks for
    default: return shortRequest(8, 0, 0, -1);       // a function the engine does not know
    }
}

// The verdict the bytes held must give, worked out apart from the engine.
Verdict Expected(const TRequest &request, const uint8_t *held, int count, int &length)
{
    length = 0;
    const uint8_t address = request.Frame[0];
    const uint8_t function = request.Frame[1];
    if (count < 2)
        return Verdict::Pending;
    const bool exception = held[1] == (function | 0x80);
    if (exception)
        length = 5;
    else if (held[1] == 5 || held[1] == 6 || held[1] == 15 || held[1] == 16)
        length = 8;
    else if (count >= 3)
        length = held[2] + 5;
    if (length == 0 || count < length)
        return Verdict::Pending;
    const uint16_t crc = fuzz::BitwiseCrc(held, size_t(length - 2));
    if (held[length - 2] != (crc >> 8) || held[length - 1] != (crc & 0xFF))
        return Verdict::BadCrc;
    if (held[0] != address)
        return Verdict::WrongAnswer;
    if (exception)
        return Verdict::Exception;
    if (held[1] != function || (request.AnswerLength >= 0 && length != request.AnswerLength))
        return Verdict::WrongAnswer;
    if (length == 8 && std::memcmp(held, request.Frame.data(), 6) != 0)
        return Verdict::WrongAnswer;
    return Verdict::Answer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    TRequest request = MakeRequest(data[0]);
    if (data[0] & 8) {
        // Slave 11: the same request with its own CRC.
        request.Frame[0] = 11;
        const int body = int(request.Frame.size()) - 2;
        const uint16_t crc = ModbusCrc16(request.Frame.data(), uint16_t(body));
        request.Frame[size_t(body)] = uint8_t(crc >> 8);
        request.Frame[size_t(body + 1)] = uint8_t(crc & 0xFF);
    }
    const int requestSize = int(request.Frame.size());
    fuzz::Check(ExpectedAnswerLength(request.Frame.data(), requestSize) == request.AnswerLength);

    TAnswerCollector collector;
    collector.Begin(request.Frame.data(), requestSize);
    std::vector<uint8_t> line;  // every byte since the request
    Verdict reached = Verdict::Pending;
    int reachedLength = 0;

    fuzz::EventReader reader(data + 1, size - 1);
    fuzz::Event event;
    while (reader.Next(event)) {
        if (event.NewRequest) {
            collector.Begin(request.Frame.data(), requestSize);
            line.clear();
            reached = Verdict::Pending;
        }
        const Verdict verdict = collector.Add(event.Data, event.Count);
        line.insert(line.end(), event.Data, event.Data + event.Count);

        fuzz::Check(verdict == collector.Current());
        fuzz::Check(collector.Received() == qint64(line.size()));
        const int held = collector.Held();
        fuzz::Check(held == std::min<int>(int(line.size()), TAnswerCollector::Capacity));
        fuzz::Check(held == 0 || std::memcmp(collector.Bytes(), line.data(), size_t(held)) == 0);

        // Once reached, a verdict and the answer's length stay whatever comes after.
        if (reached != Verdict::Pending) {
            fuzz::Check(verdict == reached && collector.Length() == reachedLength);
            continue;
        }
        int length = 0;
        fuzz::Check(verdict == Expected(request, collector.Bytes(), held, length));
        if (verdict == Verdict::Pending)
            continue;
        fuzz::Check(collector.Length() == length && length >= 5 && length <= held);
        if (verdict == Verdict::Exception)
            fuzz::Check(collector.ExceptionCode() == collector.Bytes()[2]);
        reached = verdict;
        reachedLength = length;

        // The texts a failed exchange and the trace make of the answer.
        TExchangeResult result;
        result.Outcome = verdict == Verdict::BadCrc        ? TExchangeOutcome::BadCrc
                       : verdict == Verdict::WrongAnswer   ? TExchangeOutcome::WrongAnswer
                       : verdict == Verdict::Exception     ? TExchangeOutcome::Exception
                                                           : TExchangeOutcome::Answer;
        result.Answer = QByteArray(reinterpret_cast<const char *>(collector.Bytes()), length);
        result.ExceptionCode = collector.ExceptionCode();
        result.Attempts = 1;
        fuzz::Check(!ExchangeResultText(result, 1000).isEmpty());
        fuzz::Check(HexBytes(collector.Bytes(), held).size() == std::max(3 * held - 1, 0));
    }
    return 0;
}
