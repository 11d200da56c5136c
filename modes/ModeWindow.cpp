#include "ModeWindow.h"

#include "Globals.h"
#include "FileMessages.h"
#include "Messages.h"
#include "ModeMap.h"
#include "ModeRecordWriter.h"
#include "PortMessages.h"
#include "Receive.h"
#include "ScreenFit.h"
#include "SteadyButtons.h"
#include "modbus.h"

#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QThread>
#include <QTimer>


const TStatusTexts ModeStatusTexts{QStringLiteral("Включен"), QStringLiteral("Стоп"),
                                   QStringLiteral("Отключен"), QStringLiteral("Старт")};
const TStatusTexts GeneratorStatusTexts{QStringLiteral("Состояние - Включен"), QStringLiteral("Выключить"),
                                        QStringLiteral("Состояние - Отключен"), QStringLiteral("Включить")};

const QString BusyPortText =
    QStringLiteral("Порт занят! Закройте окно, выберите другой порт и вновь запустите режим.");

namespace {

// Clears a flag when a tick ends, also when an exception leaves it.
struct TickScope {
    bool &flag;
    explicit TickScope(bool &f) : flag(f) { flag = true; }
    ~TickScope() { flag = false; }
};

}  // namespace

TModeWindow::TModeWindow(QWidget *parent, TModeState state, TCycleVariant variant, const TStatusTexts &texts,
                         TSendFailure failure)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      cycle_(state, variant),
      texts_(texts),
      failure_(failure)
{
    setModal(true);

    ComPort1 = new TComPort(this);
    ComPort1->OnRxChar = [this](QObject *sender, int count) { ComPort1RxChar(sender, count); };

    Timer1 = new QTimer(this);
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(Timer1Interval);
    connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(); }); });

    TimerWaitAnswer = new QTimer(this);
    TimerWaitAnswer->setTimerType(Qt::PreciseTimer);
    TimerWaitAnswer->setInterval(WaitAnswerInterval);
    connect(TimerWaitAnswer, &QTimer::timeout, this, [this] { Guarded([this] { TimerWaitAnswerTimer(); }); });
}

TModeWindow::~TModeWindow()
{
    Timer1->stop();
    TimerWaitAnswer->stop();
    ComPort1->OnRxChar = nullptr;
    try {
        ComPort1->Close();
    } catch (...) {
        // The port is released even when its purge fails; nothing to report on the way out.
    }
    delete ComPort1;
    ComPort1 = nullptr;
}

void TModeWindow::FormCreate()
{
    KeepDefaultButtonsSteady(this);
    if (Button1)
        connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
    if (Button2)
        connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(); }); });
    cycle_.Reset();
}

void TModeWindow::StartPolling()
{
    if (!Timer1->isActive())
        Timer1->start();
}

void TModeWindow::Timer1Timer()
{
    if (inTick_)
        return;  // a nested event loop inside a tick must not start another one
    TickScope scope(inTick_);

    if (cycle_.ChooseRequest())
        SendRequest();

    switch (cycle_.TakeAnswer()) {
    case TAnswerStep::Values:
        ShowValues();
        Record(true);
        break;
    case TAnswerStep::Status:
        StatusStep();
        Record(false);
        break;
    case TAnswerStep::CommandDone:
    case TAnswerStep::None:
        break;
    }
}

void TModeWindow::SendRequest()
{
    if (failure_ == TSendFailure::Caught) {
        SendFrame();
        return;
    }
    try {
        SendFrame();
    } catch (...) {
        // The report is shown from inside the tick, so no tick sends while it is on
        // screen. Once it is dismissed the next attempt waits a whole answer time-out,
        // which leaves the user time to reach the exit button.
        ReportException(std::current_exception());
        cycle_.MarkAwaited();
        TimerWaitAnswer->start();
    }
}

void TModeWindow::SendFrame()
{
    ClosePort();

    const std::optional<TRequestFields> fields = RequestFor(cycle_.State().RequestKind);
    if (!fields)
        return;
    const std::array<uint8_t, 8> frame = BuildShortRequest(fields->Function, fields->First, fields->Second);

    TimerWaitAnswer->start();
    ClearReceiveBuffer();
    QThread::msleep(PauseBeforeSend);
    cycle_.MarkAwaited();

    if (failure_ == TSendFailure::Propagate) {
        OpenPortAndWrite(frame.data(), int(frame.size()));
        return;
    }
    try {
        OpenPortAndWrite(frame.data(), int(frame.size()));
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        // Stop both timers before the box: its loop would let them fire and send again.
        TimerWaitAnswer->stop();
        Timer1->stop();
        try {
            ClosePort();
        } catch (...) {
        }
        cycle_.SendFailed();
        // The fixed text, and under it why the port could not be used.
        ShowWarning(this, WithFailureCause(BusyPortText, failure, ComPort1->Port()));
    }
}

void TModeWindow::TimerWaitAnswerTimer()
{
    TimerWaitAnswer->stop();
    cycle_.TimedOut();
}

void TModeWindow::ComPort1RxChar(QObject *, int Count)
{
    CollectAnswerBytes(Count);
    if (!ModeAnswerComplete())
        return;
    TimerWaitAnswer->stop();
    cycle_.AnswerComplete(AnswerCrcGood());
}

void TModeWindow::Button1Click()
{
    if (Button1)
        Button1->Tag = cycle_.Click(Button1->Tag);
}

void TModeWindow::Button2Click()
{
    exitRequested_ = true;
    done(1);
}

void TModeWindow::reject()
{
}

void TModeWindow::closeEvent(QCloseEvent *event)
{
    if (exitRequested_)
        QDialog::closeEvent(event);
    else
        event->ignore();
}

void TModeWindow::StatusStep()
{
    ShowModeState(StatusBitSet());
}

void TModeWindow::ShowModeState(bool on)
{
    if (lbRezim) {
        lbRezim->setText(on ? texts_.LabelOn : texts_.LabelOff);
        lbRezim->adjustSize();
    }
    if (Button1) {
        Button1->setText(on ? texts_.ButtonOn : texts_.ButtonOff);
        Button1->Tag = on ? 1 : 0;
    }
}

bool TModeWindow::StartRecording(const QString &folder, const QString &modeName)
{
    const TModeMap *map = Map();
    if (!map)
        return false;
    auto recorder = std::make_unique<TModeRecordWriter>(*map, SharedS2Base());
    const TFileFailure failure = recorder->Start(folder, modeName, QDateTime::currentDateTime());
    if (failure.Failed()) {
        ShowWarning(parentWidget(), QStringLiteral("Запись показаний не начата: файл не создан.\n\nФайл: %1\nПричина: %2."
                                                   "\n\nОкно режима откроется без записи.")
                                        .arg(QDir::toNativeSeparators(recorder->Path()), FileCauseMessage(failure)));
        return false;
    }
    recorder_ = std::move(recorder);
    ShowRecordInCaption();
    return true;
}

QString TModeWindow::RecordPath() const
{
    return recorder_ ? recorder_->Path() : QString();
}

void TModeWindow::Record(bool values)
{
    if (!recorder_)
        return;
    const QByteArray answer(reinterpret_cast<const char *>(ReceiveBuffer), ModeAnswerLength());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const TFileFailure failure = values ? recorder_->TakeValues(answer, now) : recorder_->TakeStatus(answer, now);
    if (!failure.Failed())
        return;
    const QString path = recorder_->Path();
    recorder_.reset();
    ShowRecordInCaption();
    // Told once the tick is over, so that polling goes on while the message is read.
    QTimer::singleShot(0, this, [this, path, failure] {
        ShowWarning(this, QStringLiteral("Запись показаний прекращена: в файл не удалось записать строку.\n\n"
                                         "Файл: %1\nПричина: %2.\n\nЗаписанные строки сохранены в файле; "
                                         "опрос прибора продолжается.")
                              .arg(QDir::toNativeSeparators(path), FileCauseMessage(failure)));
    });
}

void TModeWindow::ShowRecordInCaption()
{
    QString title = windowTitle();
    if (!recordSuffix_.isEmpty() && title.endsWith(recordSuffix_))
        title.chop(recordSuffix_.size());
    recordSuffix_ = recorder_ ? QStringLiteral("  [запись: %1]").arg(recorder_->FileName()) : QString();
    setWindowTitle(title + recordSuffix_);
}

void TModeWindow::showEvent(QShowEvent *event)
{
    // A window may set its caption as it is shown; the record's file name follows it.
    if (recorder_ && !windowTitle().endsWith(recordSuffix_))
        ShowRecordInCaption();
    FitWindowToScreen(this);
    QDialog::showEvent(event);
}

void TModeWindow::ClosePort()
{
    ComPort1->Close();
}

void TModeWindow::OpenPortAndWrite(const uint8_t *frame, int count)
{
    ComPort1->Open();
    ComPort1->Write(frame, count);
}

void TModeWindow::CollectAnswerBytes(int count)
{
    CollectReceivedBytes(*ComPort1, count);
}

int RunModeWindow(TModeWindow &window, TCustomComPort &mainPort)
{
    mainPort.Close();
    window.ComPort1->SetPort(mainPort.Port());
    window.StartPolling();
    return window.exec();
}
