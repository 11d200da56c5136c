#pragma once
// The exchange cycle of the mode windows as a plain state machine: which request a
// timer tick sends, what a tick does with an answer in hand, how a click queues a
// command. The window shell (ModeWindow) feeds it ticks, answers and time-outs; the
// three state variables live in each mode unit and are handed in by reference.

#include <cstdint>

// AnswerState
constexpr int32_t AnswerGood = 0;     // a complete answer with a good CRC waits in ReceiveBuffer
constexpr int32_t AnswerReady = 1;    // ready to send the next request
constexpr int32_t AnswerAwaited = 2;  // a request is out, its answer is awaited

// RequestKind
constexpr int32_t RequestValues = 0;   // read input registers
constexpr int32_t RequestStatus = 1;   // read coils
constexpr int32_t RequestCommand = 2;  // write single coil

// CommandValue
constexpr uint8_t NoCommand = 170;
constexpr uint8_t CommandOn = 255;
constexpr uint8_t CommandOff = 0;

// The three variables a mode unit keeps for its window.
struct TModeState {
    int32_t &AnswerState;
    int32_t &RequestKind;
    uint8_t &CommandValue;
};

enum class TCycleVariant {
    ThreeRequest,  // status and values requests alternate
    StatusOnly,    // generator and TC windows: status requests only
};

// What a tick does with an answer in hand.
enum class TAnswerStep { None, Values, Status, CommandDone };

// The fields of an 8-byte request (address and CRC are added by the frame builder).
struct TRequestFields {
    uint8_t Function;
    uint16_t First;
    uint16_t Second;
    bool operator==(const TRequestFields &) const = default;
};

TRequestFields StatusRequestFields(uint16_t coilCount);                     // function 1 from coil 0
TRequestFields ValuesRequestFields(uint16_t firstRegister, uint16_t count);  // function 4
TRequestFields CommandRequestFields(uint16_t coil, uint8_t commandValue);    // function 5, value in the high byte

class TExchangeCycle {
public:
    TExchangeCycle(TModeState state, TCycleVariant variant);

    TCycleVariant Variant() const { return variant_; }
    const TModeState &State() const { return state_; }

    // Start values of a freshly created window.
    void Reset();

    // The sending half of a tick: false while an answer is awaited or one is in hand;
    // when ready, sets RequestKind to the request to send now and returns true.
    bool ChooseRequest();
    // The request is about to go out (set just before the port is opened).
    void MarkAwaited();
    // The port could not be opened or written and the window caught it.
    void SendFailed();

    // The receive handler found a complete answer.
    void AnswerComplete(bool crcGood);
    // No complete answer in time.
    void TimedOut();

    // The processing half of a tick: with an answer in hand, says what to do with it,
    // clears a command that its echo confirmed (unless a later click replaced it), and
    // makes the cycle ready again.
    TAnswerStep TakeAnswer();

    // Start/stop click: queues the command opposite to the shown state; returns the
    // button's new tag. A later click replaces a pending command.
    int Click(int tag);

private:
    TModeState state_;
    TCycleVariant variant_;
    uint8_t commandSent_ = NoCommand;  // the value of the last command request
};
