#pragma once
// The window "Обработка проходов": a TPR-by-TPU record read off the window's thread, its
// chart, the table of measurements with a check box each, the series' results, the
// prover's data (kept as named profiles), and the protocol and table exports. The
// arithmetic is the core's (ProverRun), the texts and files RunReport's; the window only
// shows them and takes the user's choices.

#include "Globals.h"
#include "ProverRun.h"
#include "RunReport.h"

#include <QDialog>

#include <atomic>
#include <memory>
#include <thread>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSettings;
class QTableWidget;
class QTableWidgetItem;
class TRunChart;
class TRunMemory;

// What the main window knows that the processing uses.
struct TProverContext {
    QString Port;             // the device's port chosen in the program
    bool ConfigKnown = false; // the configuration was read from the device or a file
    TDeviceConfig Config{};   // the program's configuration
    QString ConfigSource;     // where it came from, in words
};

// The newest TPR-by-TPU record in recordFolder or lastProcessed, whichever is later; empty
// when neither exists.
QString OfferedRecord(const QString &recordFolder, const QString &lastProcessed);

class TfmProverRun : public QDialog {
    Q_OBJECT
public:
    TfmProverRun(QWidget *parent, const TProverContext &context, QSettings &settings);
    ~TfmProverRun() override;

    // Starts reading the record at path; the window shows it when it has been read.
    void Open(const QString &path);
    bool Reading() const { return reading_; }
    const ProverRun::TRecord &Record() const { return record_; }
    const ProverRun::TResult &Result() const { return result_; }
    const ProverRun::TSettings &Settings() const { return settings_; }
    // The protocol of what the window shows now.
    TProtocol Protocol() const;

    // The handlers of the buttons (the file ones ask for their file, then call these).
    void CopyTable();
    bool SaveProtocolTo(const QString &path);
    bool SaveExcelTo(const QString &path);

    // Components, under their names.
    TRunChart *Chart;
    QTableWidget *Table;
    QLabel *RecordLabel;
    QLabel *StatusLabel;
    QLabel *ResultsLabel;
    QLabel *NotesLabel;
    QComboBox *ProfileBox;
    QLineEdit *ProverName, *ProverSerial, *CertificateDate;
    QComboBox *UnitBox;
    QDoubleSpinBox *Volume12, *Volume21, *Volume34, *Volume43;
    QDoubleSpinBox *Limit;
    QComboBox *LimitOfBox;
    QComboBox *ChannelBox;
    QLabel *ChannelSource;
    QComboBox *DetectorsBox, *DirectionsBox, *SumMethodBox;
    QLabel *BuildSource;
    QComboBox *UpdateBox;
    QLineEdit *Organisation, *Laboratory, *Accreditation;
    QLineEdit *TransducerType, *TransducerSerial, *Operator;
    QPushButton *OpenButton, *SaveProtocolButton, *CopyButton, *SaveExcelButton, *CloseButton;

public slots:
    void done(int result) override;

private:
    void BuildForm();
    void StopReading();
    void RecordRead(quint64 generation, std::shared_ptr<ProverRun::TRecord> record, ProverRun::TRefusal refusal);
    // Takes the form's values into settings_ and processes the record again.
    void Reprocess();
    void ShowResult();
    void ApplyConfigBuild();
    void LoadProfile(const QString &name);
    void SaveProfile();
    void RemoveProfile();
    void Remember();
    TProverProfile CurrentProfile() const;
    double KFactor2() const;
    void AskProtocol();
    void AskExcel();
    void OpenAsked();

    TProverContext context_;
    std::unique_ptr<TRunMemory> memory_;
    QString path_;
    ProverRun::TRecord record_;
    ProverRun::TSettings settings_;
    ProverRun::TResult result_;
    QString problem_;  // settings that give no K, in words
    bool haveRecord_ = false;
    bool reading_ = false;
    bool filling_ = false;        // the form is being filled by the program, not the user
    bool buildFromConfig_ = false;
    quint64 generation_ = 0;
    std::shared_ptr<std::atomic<bool>> cancel_;
    std::thread reader_;
};
