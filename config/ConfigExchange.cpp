#include "ConfigExchange.h"

#include "CPort.h"
#include "Globals.h"
#include "Receive.h"
#include "modbus.h"

#include <QTimer>

#include <algorithm>
#include <stdexcept>

namespace {

constexpr int ReadTimerInterval = 100;
constexpr int AnswerTimeoutInterval = 1000;

}  // namespace

ConfigExchange::ConfigExchange(TCustomComPort &port, QTimer &readTimer, QTimer &waitTimer,
                               ConfigExchangeHooks hooks)
    : port_(port)
    , readTimer_(readTimer)
    , waitTimer_(waitTimer)
    , hooks_(std::move(hooks))
{
    readTimer_.setTimerType(Qt::PreciseTimer);
    readTimer_.setInterval(ReadTimerInterval);
    waitTimer_.setTimerType(Qt::PreciseTimer);
    waitTimer_.setInterval(AnswerTimeoutInterval);
}

void ConfigExchange::Enable(QTimer &timer)
{
    if (!timer.isActive())
        timer.start();
}

void ConfigExchange::Tell(TExchangeNotice notice, std::exception_ptr failure)
{
    if (hooks_.Tell)
        hooks_.Tell(notice, std::move(failure));
}

void ConfigExchange::SendOrGiveUp(const uint8_t *frame, int size)
{
    try {
        port_.Open();
        port_.Write(frame, size);
    } catch (const std::exception &e) {
        // Everything the failure changes is settled before the box opens: the window's
        // timers go on firing inside the box's own event loop.
        waitTimer_.stop();
        ExchangeState = ExchangeFailed;
        try {
            port_.Close();
        } catch (const std::exception &) {
            // the descriptor is released all the same; the box below says enough
        }
        // The window words it with why the port could not be used.
        Tell(TExchangeNotice::PortBusy, std::current_exception());
    }
}

void ConfigExchange::StartRead()
{
    port_.Close();
    ConfigBlock = 0;
    const auto frame = BuildShortRequest(3, 0, 38);
    ClearReceiveBuffer();
    ExchangeState = ExchangeReadSent;
    Enable(waitTimer_);
    Enable(readTimer_);
    SendOrGiveUp(frame.data(), int(frame.size()));
}

void ConfigExchange::RequestSecondBlock()
{
    port_.Close();
    ConfigBlock = 1;
    const auto frame = BuildShortRequest(3, 38, 15);
    ClearReceiveBuffer();
    ExchangeState = ExchangeReadSent;
    Enable(waitTimer_);
    Enable(readTimer_);
    // No handling here: a failure goes to the general error report, and the answer
    // time-out started above ends the read.
    port_.Open();
    port_.Write(frame.data(), int(frame.size()));
}

void ConfigExchange::StartWrite()
{
    port_.Close();
    ConfigBlock = 0;
    const auto frame = BuildConfigWriteRequest(PackConfigRegisters());
    ClearReceiveBuffer();
    ExchangeState = ExchangeWriteSent;
    Enable(waitTimer_);
    SendOrGiveUp(frame.data(), int(frame.size()));
}

void ConfigExchange::Received(int count)
{
    CollectReceivedBytes(port_, count);
    if (!MainAnswerComplete(ExchangeState))
        return;
    waitTimer_.stop();
    if (!AnswerCrcGood()) {
        ExchangeState = ExchangeFailed;
        return;
    }
    if (ExchangeState == ExchangeReadSent) {
        ExchangeState = ExchangeReadAnswered;
        answerLength_ = ReceiveLength;
    } else if (ExchangeState == ExchangeWriteSent) {
        ExchangeState = ExchangeIdle;
        if (hooks_.MarkRootSaved)
            hooks_.MarkRootSaved();
        Tell(TExchangeNotice::WriteDone);
    }
}

void ConfigExchange::ReadTimerTick()
{
    if (ExchangeState == ExchangeFailed) {
        readTimer_.stop();
        ExchangeState = ExchangeIdle;
        return;
    }
    if (ExchangeState != ExchangeReadAnswered)
        return;
    readTimer_.stop();
    waitTimer_.stop();
    ExchangeState = ExchangeIdle;
    // Length and CRC alone judge an answer; one whose length is not that of the awaited
    // block (a stray frame, a late answer to the other block) fills no field from bytes
    // it never carried, and the read ends as after a bad CRC.
    const int expected = ConfigBlock == 0 ? Block1AnswerLength : Block2AnswerLength;
    if (answerLength_ != expected)
        return;
    if (ConfigBlock == 0) {
        std::copy(ReceiveBuffer, ReceiveBuffer + Block1AnswerLength, block1_.begin());
        try {
            RequestSecondBlock();
        } catch (...) {
            if (!hooks_.ReportError)
                throw;
            hooks_.ReportError(std::current_exception());
        }
    } else {
        UnpackConfigBlock(block1_.data(), 1);
        UnpackConfigBlock(ReceiveBuffer, 2);
        if (hooks_.MarkRootSaved)
            hooks_.MarkRootSaved();
        if (hooks_.ShowRoot)
            hooks_.ShowRoot();
        if (hooks_.ReadDone)
            hooks_.ReadDone();
    }
}

void ConfigExchange::AnswerTimeout()
{
    waitTimer_.stop();
    ExchangeState = ExchangeFailed;
    Tell(TExchangeNotice::NoLink);
}
