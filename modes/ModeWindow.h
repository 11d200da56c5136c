#pragma once
// The shell of every mode window: its own port, the 200 ms polling timer, the 2000 ms
// answer time-out, the receive handler, the start/stop and exit buttons, and the
// exchange cycle that drives them. A mode window derives from TModeWindow, builds its
// form, hands in its unit's three state variables and fills in the hooks: the frame of
// each request kind, the status bit, and (with a values request) ShowValues.
//
// A window's constructor passes its unit's {AnswerState, RequestKind, CommandValue}, the
// cycle variant (ThreeRequest with a values request, StatusOnly without), its status
// texts and, for the one window that does not catch port failures, TSendFailure::Propagate;
// it then builds its widgets, assigns lbRezim, Button1 (or leaves it null) and Button2,
// and calls FormCreate() last. A status step with more to do overrides StatusStep() and
// calls TModeWindow::StatusStep() first.

#include "CPort.h"
#include "ExchangeCycle.h"

#include <QDialog>
#include <QPushButton>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class QLabel;
class QTimer;
class TModeRecordWriter;
struct TModeMap;

// A push button with the integer tag the start/stop logic keeps on it.
class TTagButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;
    int Tag = 0;
};

// Texts of the status step: label and start/stop caption with the mode on and off.
struct TStatusTexts {
    QString LabelOn;
    QString ButtonOn;  // the action that switches the mode off
    QString LabelOff;
    QString ButtonOff; // the action that switches the mode on
};

extern const TStatusTexts ModeStatusTexts;       // "Включен"/"Стоп", "Отключен"/"Старт"
extern const TStatusTexts GeneratorStatusTexts;  // "Состояние - Включен"/"Выключить", ...

// How SendRequest treats a port that cannot be opened or written.
enum class TSendFailure {
    Caught,     // timers stopped, the busy-port warning, polling stays stopped
    Propagate,  // any failure of the send goes to the general error report, timers run
                // on; the next attempt comes a whole answer time-out after it is dismissed
};

extern const QString BusyPortText;

constexpr int Timer1Interval = 200;
constexpr int WaitAnswerInterval = 2000;
constexpr int PauseBeforeSend = 100;

class TModeWindow : public QDialog {
    Q_OBJECT
public:
    TModeWindow(QWidget *parent, TModeState state, TCycleVariant variant, const TStatusTexts &texts,
                TSendFailure failure = TSendFailure::Caught);
    ~TModeWindow() override;  // stops the timers and closes the port before the widgets go

    // Designer components. The derived form creates lbRezim, Button1 (may stay null:
    // no start/stop button) and Button2, then calls FormCreate().
    TComPort *ComPort1 = nullptr;
    QTimer *Timer1 = nullptr;
    QTimer *TimerWaitAnswer = nullptr;
    QLabel *lbRezim = nullptr;
    TTagButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;

    void StartPolling();
    void SendRequest();

    void FormCreate();
    void Timer1Timer();
    void TimerWaitAnswerTimer();
    void ComPort1RxChar(QObject *Sender, int Count);
    void Button1Click();
    void Button2Click();

    TExchangeCycle &Cycle() { return cycle_; }
    const TExchangeCycle &Cycle() const { return cycle_; }

    void reject() override;  // Esc does not close a mode window

    // Keeps a record of the run in a CSV file of its own in folder, named after the mode
    // (modeName) and the time, while the window polls: one row per values answer (per
    // status answer without a values request), the caption showing the file. False, after
    // a message, when the file cannot be made; the window then polls without a record. A
    // failure to write ends the record with a message, and polling goes on.
    bool StartRecording(const QString &folder, const QString &modeName);
    // The record's file; empty when none is kept.
    QString RecordPath() const;

protected:
    // The request of a kind, or nothing for a kind the window does not send.
    virtual std::optional<TRequestFields> RequestFor(int32_t requestKind) const = 0;
    // Whether the mode's bit is set in the status answer in ReceiveBuffer.
    virtual bool StatusBitSet() const = 0;
    // The status step: shows the mode's state from the status answer.
    virtual void StatusStep();
    // The values step: decodes the values answer in ReceiveBuffer.
    virtual void ShowValues() {}
    // The mode whose answers the window takes, for its record; none: no record is kept.
    virtual const TModeMap *Map() const { return nullptr; }
    // The S2 base the window shows its S2 row relative to, which lives longer than the
    // window; the record then writes S2 against the same base. Null: the record keeps its own.
    virtual uint32_t *SharedS2Base() { return nullptr; }

    // Shows the mode on or off in lbRezim and Button1 and sets the button's tag.
    void ShowModeState(bool on);

    // Port access of the sender and the receive handler.
    virtual void ClosePort();
    virtual void OpenPortAndWrite(const uint8_t *frame, int count);
    // Moves count received bytes into ReceiveBuffer.
    virtual void CollectAnswerBytes(int count);

    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // Closes the port, then opens it and writes the request of the current kind.
    void SendFrame();
    // The answer just processed goes into the record.
    void Record(bool values);
    // The caption with the record's file while one is kept, without it otherwise.
    void ShowRecordInCaption();

    TExchangeCycle cycle_;
    TStatusTexts texts_;
    TSendFailure failure_;
    bool exitRequested_ = false;
    bool inTick_ = false;
    std::unique_ptr<TModeRecordWriter> recorder_;
    QString recordSuffix_;  // what the caption carries for the record
};

// The main window's steps to run a mode: close the main port, give the window the main
// port's name, start polling, show the window modally. The caller frees the window.
int RunModeWindow(TModeWindow &window, TCustomComPort &mainPort);
