#pragma once
// The main window's configuration exchange: the two-block read of registers 0..52 and
// the one-request write of all 53, driven by the window's port, its 100 ms read timer,
// its 1000 ms answer time-out and its receive event. State lives in Globals
// (ExchangeState, ConfigBlock, ReceiveBuffer); what the exchange shows goes through hooks,
// so the class runs without a window.

#include <QString>

#include <array>
#include <cstdint>
#include <exception>
#include <functional>

class QTimer;
class TCustomComPort;

// What the exchange tells the user, each in a modal box with an OK button; the window
// words it.
enum class TExchangeNotice {
    PortBusy,   // warning: the port could not be opened or written (with the failure)
    NoLink,     // warning: no answer within the time-out
    WriteDone,  // information: the device has taken the configuration
};

// Answer lengths of the two read blocks (function 3, 38 and 15 registers).
inline constexpr int Block1AnswerLength = 2 * 38 + 5;
inline constexpr int Block2AnswerLength = 2 * 15 + 5;

struct ConfigExchangeHooks {
    // What to tell; failure for PortBusy (empty otherwise).
    std::function<void(TExchangeNotice, std::exception_ptr failure)> Tell;
    std::function<void(std::exception_ptr)> ReportError;   // the general error report
    std::function<void()> MarkRootSaved;                   // root text without the asterisk
    std::function<void()> ShowRoot;                        // rebuilds the grid for the root
    std::function<void()> ReadDone;                        // a read has filled the whole record
};

class ConfigExchange {
public:
    // The timers' intervals and precision are set here; the caller connects their
    // time-outs and the port's receive event to the handlers below.
    ConfigExchange(TCustomComPort &port, QTimer &readTimer, QTimer &waitTimer, ConfigExchangeHooks hooks);

    void StartRead();                 // "Считать конфигурацию из прибора"
    void StartWrite();                // "Загрузить конфигурацию в прибор"
    void Received(int count);         // receive event with count bytes waiting
    void ReadTimerTick();             // every 100 ms while the read timer runs
    void AnswerTimeout();             // the answer time-out has run out
    void RequestSecondBlock();        // sends the request for registers 38..52

private:
    // Enabling a running timer leaves its rhythm alone.
    static void Enable(QTimer &timer);
    // Opens the port and writes frame; on failure ends the exchange with the busy message.
    void SendOrGiveUp(const uint8_t *frame, int size);
    void Tell(TExchangeNotice notice, std::exception_ptr failure = {});

    TCustomComPort &port_;
    QTimer &readTimer_;
    QTimer &waitTimer_;
    ConfigExchangeHooks hooks_;
    // Length of the buffer when its read answer was judged complete and good.
    int answerLength_ = 0;
    // The first block's answer, kept until the second one has come whole: a read changes
    // the record only with both, so a read that fails half-way leaves it as it was.
    std::array<uint8_t, Block1AnswerLength> block1_{};
};
