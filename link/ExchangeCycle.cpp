#include "ExchangeCycle.h"

TRequestFields StatusRequestFields(uint16_t coilCount)
{
    return {1, 0, coilCount};
}

TRequestFields ValuesRequestFields(uint16_t firstRegister, uint16_t count)
{
    return {4, firstRegister, count};
}

TRequestFields CommandRequestFields(uint16_t coil, uint8_t commandValue)
{
    return {5, coil, static_cast<uint16_t>(commandValue << 8)};
}

TExchangeCycle::TExchangeCycle(TModeState state, TCycleVariant variant)
    : state_(state), variant_(variant)
{
}

void TExchangeCycle::Reset()
{
    state_.AnswerState = AnswerReady;
    state_.RequestKind = variant_ == TCycleVariant::ThreeRequest ? RequestValues : RequestStatus;
    state_.CommandValue = NoCommand;
}

bool TExchangeCycle::ChooseRequest()
{
    if (state_.AnswerState != AnswerReady)
        return false;
    if (variant_ == TCycleVariant::ThreeRequest)
        state_.RequestKind = state_.RequestKind == RequestStatus ? RequestValues : RequestStatus;
    else
        state_.RequestKind = RequestStatus;
    if (state_.CommandValue != NoCommand) {
        state_.RequestKind = RequestCommand;
        commandSent_ = state_.CommandValue;
    }
    return true;
}

void TExchangeCycle::MarkAwaited()
{
    state_.AnswerState = AnswerAwaited;
}

void TExchangeCycle::SendFailed()
{
    state_.AnswerState = AnswerReady;
}

void TExchangeCycle::AnswerComplete(bool crcGood)
{
    state_.AnswerState = crcGood ? AnswerGood : AnswerReady;
}

void TExchangeCycle::TimedOut()
{
    state_.AnswerState = AnswerReady;
}

TAnswerStep TExchangeCycle::TakeAnswer()
{
    if (state_.AnswerState != AnswerGood)
        return TAnswerStep::None;
    TAnswerStep step = TAnswerStep::None;
    switch (state_.RequestKind) {
    case RequestValues:
        step = TAnswerStep::Values;
        break;
    case RequestStatus:
        step = TAnswerStep::Status;
        break;
    case RequestCommand:
        // The echo answers the value that was sent; a click since then has queued another
        // one, which goes out next.
        if (state_.CommandValue == commandSent_)
            state_.CommandValue = NoCommand;
        step = TAnswerStep::CommandDone;
        break;
    default:
        break;
    }
    state_.AnswerState = AnswerReady;
    return step;
}

int TExchangeCycle::Click(int tag)
{
    if (tag == 0) {
        state_.CommandValue = CommandOn;
        return 1;
    }
    state_.CommandValue = CommandOff;
    return 0;
}
