#include "ProverWindow.h"

#include "Messages.h"
#include "ParameterTree.h"
#include "RunChart.h"
#include "RunMemory.h"
#include "ValueText.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace ProverRun;

namespace {

// The configuration's tree leaves of a channel (the device's channel 1 or 2): the first of
// its six ("Число детекторов" … "К-фактор (Кф2)").
int FirstConfigNode(int channel)
{
    return channel == 2 ? 9 : 2;
}

QDoubleSpinBox *VolumeBox(QWidget *parent, const QString &name, const QString &zeroText = QString())
{
    auto *box = new QDoubleSpinBox(parent);
    box->setObjectName(name);
    box->setDecimals(Decimals::Volume);
    box->setRange(0, 1e9);
    box->setGroupSeparatorShown(false);
    if (!zeroText.isEmpty())
        box->setSpecialValueText(zeroText);
    return box;
}

QLineEdit *Field(QWidget *parent, const QString &name)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    return edit;
}

QComboBox *Choice(QWidget *parent, const QString &name, const QStringList &items)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(name);
    box->addItems(items);
    return box;
}

QPushButton *Button(QWidget *parent, const QString &name, const QString &text)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

QString OfferedRecord(const QString &recordFolder, const QString &lastProcessed)
{
    QFileInfo best;
    if (!recordFolder.isEmpty()) {
        const QFileInfoList records = QDir(recordFolder).entryInfoList({QStringLiteral("ТПР по ТПУ*.csv")}, QDir::Files,
                                                                        QDir::Time);
        if (!records.isEmpty())
            best = records.front();
    }
    const QFileInfo last(lastProcessed);
    if (!lastProcessed.isEmpty() && last.isFile() && (!best.exists() || last.lastModified() > best.lastModified()))
        best = last;
    return best.exists() ? best.absoluteFilePath() : QString();
}

TfmProverRun::TfmProverRun(QWidget *parent, const TProverContext &context, QSettings &settings)
    : QDialog(parent), context_(context), memory_(std::make_unique<TRunMemory>(settings))
{
    setObjectName(QStringLiteral("fmProverRun"));
    setWindowTitle(QStringLiteral("Обработка проходов"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setModal(true);
    BuildForm();

    filling_ = true;
    const QStringList profiles = memory_->ProfileNames();
    ProfileBox->addItems(profiles);
    const TLabFields lab = memory_->Lab();
    Organisation->setText(lab.Organisation);
    Laboratory->setText(lab.Laboratory);
    Accreditation->setText(lab.Accreditation);
    const TTestFields test = memory_->Test();
    TransducerType->setText(test.TransducerType);
    TransducerSerial->setText(test.TransducerSerial);
    Operator->setText(test.Operator);
    filling_ = false;
    if (const QString last = memory_->LastProfile(); profiles.contains(last)) {
        ProfileBox->setCurrentText(last);
        LoadProfile(last);
    } else if (!profiles.isEmpty()) {
        LoadProfile(profiles.front());
    }
    ApplyConfigBuild();
    Reprocess();
}

TfmProverRun::~TfmProverRun()
{
    StopReading();
}

void TfmProverRun::BuildForm()
{
    auto *top = new QVBoxLayout(this);
    auto *head = new QHBoxLayout;
    RecordLabel = new QLabel(this);
    RecordLabel->setObjectName(QStringLiteral("RecordLabel"));
    RecordLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    OpenButton = Button(this, QStringLiteral("OpenButton"), QStringLiteral("Открыть запись…"));
    head->addWidget(RecordLabel, 1);
    head->addWidget(StatusLabel);
    head->addWidget(OpenButton);
    top->addLayout(head);

    auto *split = new QSplitter(Qt::Horizontal, this);
    auto *left = new QWidget(split);
    auto *leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    Chart = new TRunChart(left);
    leftLayout->addWidget(Chart, 3);
    Table = new QTableWidget(left);
    Table->setObjectName(QStringLiteral("Table"));
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->verticalHeader()->hide();
    Table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    leftLayout->addWidget(Table, 3);
    ResultsLabel = new QLabel(left);
    ResultsLabel->setObjectName(QStringLiteral("ResultsLabel"));
    ResultsLabel->setTextFormat(Qt::RichText);
    ResultsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    leftLayout->addWidget(ResultsLabel);
    NotesLabel = new QLabel(left);
    NotesLabel->setObjectName(QStringLiteral("NotesLabel"));
    NotesLabel->setWordWrap(true);
    leftLayout->addWidget(NotesLabel);

    auto *scroll = new QScrollArea(split);
    scroll->setWidgetResizable(true);
    auto *side = new QWidget(scroll);
    auto *sideLayout = new QVBoxLayout(side);
    scroll->setWidget(side);

    auto *prover = new QGroupBox(QStringLiteral("Трубопоршневая установка"), side);
    auto *pf = new QFormLayout(prover);
    auto *profileRow = new QHBoxLayout;
    ProfileBox = new QComboBox(prover);
    ProfileBox->setObjectName(QStringLiteral("ProfileBox"));
    auto *saveProfile = Button(prover, QStringLiteral("SaveProfileButton"), QStringLiteral("Сохранить"));
    auto *removeProfile = Button(prover, QStringLiteral("RemoveProfileButton"), QStringLiteral("Удалить"));
    profileRow->addWidget(ProfileBox, 1);
    profileRow->addWidget(saveProfile);
    profileRow->addWidget(removeProfile);
    pf->addRow(QStringLiteral("Профиль"), profileRow);
    ProverName = Field(prover, QStringLiteral("ProverName"));
    ProverSerial = Field(prover, QStringLiteral("ProverSerial"));
    CertificateDate = Field(prover, QStringLiteral("CertificateDate"));
    pf->addRow(QStringLiteral("Наименование"), ProverName);
    pf->addRow(QStringLiteral("Заводской номер"), ProverSerial);
    pf->addRow(QStringLiteral("Дата свидетельства"), CertificateDate);
    UnitBox = Choice(prover, QStringLiteral("UnitBox"), {QStringLiteral("л"), QStringLiteral("м³")});
    pf->addRow(QStringLiteral("Единица вместимости"), UnitBox);
    Volume12 = VolumeBox(prover, QStringLiteral("Volume12"));
    Volume21 = VolumeBox(prover, QStringLiteral("Volume21"), QStringLiteral("как 1-2"));
    Volume34 = VolumeBox(prover, QStringLiteral("Volume34"));
    Volume43 = VolumeBox(prover, QStringLiteral("Volume43"), QStringLiteral("как 3-4"));
    pf->addRow(QStringLiteral("Вместимость 1-2"), Volume12);
    pf->addRow(QStringLiteral("Вместимость 2-1"), Volume21);
    pf->addRow(QStringLiteral("Вместимость 3-4"), Volume34);
    pf->addRow(QStringLiteral("Вместимость 4-3"), Volume43);
    Limit = new QDoubleSpinBox(prover);
    Limit->setObjectName(QStringLiteral("Limit"));
    Limit->setDecimals(Decimals::Percent);
    Limit->setRange(0, 100);
    Limit->setSingleStep(0.01);
    Limit->setValue(0.05);
    pf->addRow(QStringLiteral("Предел повторяемости, %"), Limit);
    LimitOfBox = Choice(prover, QStringLiteral("LimitOfBox"), {QStringLiteral("к размаху"), QStringLiteral("к СКО")});
    pf->addRow(QStringLiteral("Предел относится"), LimitOfBox);
    sideLayout->addWidget(prover);

    auto *build = new QGroupBox(QStringLiteral("Канал и схема установки"), side);
    auto *bf = new QFormLayout(build);
    ChannelBox = Choice(build, QStringLiteral("ChannelBox"), {QStringLiteral("ТПР по ТПУ1"), QStringLiteral("ТПР по ТПУ2")});
    ChannelSource = new QLabel(build);
    ChannelSource->setObjectName(QStringLiteral("ChannelSource"));
    bf->addRow(QStringLiteral("Канал"), ChannelBox);
    bf->addRow(QString(), ChannelSource);
    DetectorsBox = Choice(build, QStringLiteral("DetectorsBox"), {CodeText(2, 0), CodeText(2, 1)});
    DirectionsBox = Choice(build, QStringLiteral("DirectionsBox"), {CodeText(5, 0), CodeText(5, 1)});
    SumMethodBox = Choice(build, QStringLiteral("SumMethodBox"), {CodeText(6, 0), CodeText(6, 1)});
    bf->addRow(QStringLiteral("Число детекторов"), DetectorsBox);
    bf->addRow(QStringLiteral("Тип ТПУ"), DirectionsBox);
    bf->addRow(QStringLiteral("Способ расчета суммы"), SumMethodBox);
    BuildSource = new QLabel(build);
    BuildSource->setObjectName(QStringLiteral("BuildSource"));
    BuildSource->setWordWrap(true);
    bf->addRow(QString(), BuildSource);
    UpdateBox = Choice(build, QStringLiteral("UpdateBox"),
                       {QStringLiteral("по записи"), QStringLiteral("при срабатывании детектора"),
                        QStringLiteral("во время движения шара")});
    bf->addRow(QStringLiteral("Обновление значений"), UpdateBox);
    sideLayout->addWidget(build);

    auto *protocol = new QGroupBox(QStringLiteral("Протокол"), side);
    auto *rf = new QFormLayout(protocol);
    Organisation = Field(protocol, QStringLiteral("Organisation"));
    Laboratory = Field(protocol, QStringLiteral("Laboratory"));
    Accreditation = Field(protocol, QStringLiteral("Accreditation"));
    TransducerType = Field(protocol, QStringLiteral("TransducerType"));
    TransducerSerial = Field(protocol, QStringLiteral("TransducerSerial"));
    Operator = Field(protocol, QStringLiteral("Operator"));
    rf->addRow(QStringLiteral("Организация"), Organisation);
    rf->addRow(QStringLiteral("Лаборатория"), Laboratory);
    rf->addRow(QStringLiteral("Аттестат аккредитации"), Accreditation);
    rf->addRow(QStringLiteral("Тип преобразователя"), TransducerType);
    rf->addRow(QStringLiteral("Зав. номер преобразователя"), TransducerSerial);
    rf->addRow(QStringLiteral("Оператор"), Operator);
    sideLayout->addWidget(protocol);
    sideLayout->addStretch(1);

    split->addWidget(left);
    split->addWidget(scroll);
    // The prover's fields whole, without a horizontal scroll bar.
    scroll->setMinimumWidth(side->sizeHint().width() + scroll->verticalScrollBar()->sizeHint().width() + 2 * scroll->frameWidth());
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    top->addWidget(split, 1);

    auto *buttons = new QHBoxLayout;
    SaveProtocolButton = Button(this, QStringLiteral("SaveProtocolButton"), QStringLiteral("Сохранить протокол…"));
    CopyButton = Button(this, QStringLiteral("CopyButton"), QStringLiteral("Копировать таблицу"));
    SaveExcelButton = Button(this, QStringLiteral("SaveExcelButton"), QStringLiteral("Сохранить таблицу для Excel…"));
    CloseButton = Button(this, QStringLiteral("CloseButton"), QStringLiteral("Закрыть"));
    buttons->addWidget(SaveProtocolButton);
    buttons->addWidget(CopyButton);
    buttons->addWidget(SaveExcelButton);
    buttons->addStretch(1);
    buttons->addWidget(CloseButton);
    top->addLayout(buttons);
    resize(1180, 760);

    const auto changed = [this] {
        if (!filling_)
            Reprocess();
    };
    for (QDoubleSpinBox *box : {Volume12, Volume21, Volume34, Volume43, Limit})
        connect(box, &QDoubleSpinBox::valueChanged, this, changed);
    for (QComboBox *box : {UnitBox, LimitOfBox})
        connect(box, &QComboBox::currentIndexChanged, this, changed);
    // Another build or update way numbers the measurements anew: none stays left out.
    connect(UpdateBox, &QComboBox::currentIndexChanged, this, [this] {
        if (filling_)
            return;
        settings_.Excluded.clear();
        Reprocess();
    });
    for (QComboBox *box : {DetectorsBox, DirectionsBox, SumMethodBox})
        connect(box, &QComboBox::currentIndexChanged, this, [this] {
            if (filling_)
                return;
            buildFromConfig_ = false;
            settings_.Excluded.clear();
            Reprocess();
        });
    connect(ChannelBox, &QComboBox::currentIndexChanged, this, [this] {
        if (filling_)
            return;
        ChannelSource->setText(QStringLiteral("выбран вручную"));
        settings_.Excluded.clear();
        ApplyConfigBuild();
        Reprocess();
    });
    connect(ProfileBox, &QComboBox::textActivated, this, [this](const QString &name) { LoadProfile(name); });
    connect(saveProfile, &QPushButton::clicked, this, [this] { SaveProfile(); });
    connect(removeProfile, &QPushButton::clicked, this, [this] { RemoveProfile(); });
    connect(Table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        if (filling_ || item->column() != 0)
            return;
        const int number = item->data(Qt::UserRole).toInt();
        if (item->checkState() == Qt::Checked)
            settings_.Excluded.erase(number);
        else
            settings_.Excluded.insert(number);
        // Reprocessed once the table's own handling of the click is over.
        QMetaObject::invokeMethod(this, [this] { Reprocess(); }, Qt::QueuedConnection);
    });
    connect(OpenButton, &QPushButton::clicked, this, [this] { Guarded([this] { OpenAsked(); }); });
    connect(SaveProtocolButton, &QPushButton::clicked, this, [this] { Guarded([this] { AskProtocol(); }); });
    connect(CopyButton, &QPushButton::clicked, this, [this] { Guarded([this] { CopyTable(); }); });
    connect(SaveExcelButton, &QPushButton::clicked, this, [this] { Guarded([this] { AskExcel(); }); });
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);
}

// ---- reading ----

void TfmProverRun::Open(const QString &path)
{
    StopReading();
    path_ = path;
    haveRecord_ = false;
    record_ = TRecord();
    settings_.Excluded.clear();
    reading_ = true;
    RecordLabel->setText(QStringLiteral("Запись: ") + QDir::toNativeSeparators(path));
    StatusLabel->setText(QStringLiteral("Чтение записи…"));
    Reprocess();

    const quint64 generation = ++generation_;
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    reader_ = std::thread([this, path, generation, cancel = cancel_] {
        auto record = std::make_shared<TRecord>();
        const TRefusal refusal = ReadRecordFile(path, *record, cancel.get());
        if (cancel->load())
            return;
        QMetaObject::invokeMethod(this, [this, generation, record, refusal] { RecordRead(generation, record, refusal); },
                                  Qt::QueuedConnection);
    });
}

void TfmProverRun::StopReading()
{
    ++generation_;  // a result already on its way is not taken
    if (cancel_)
        cancel_->store(true);
    if (reader_.joinable())
        reader_.join();
    reading_ = false;
}

void TfmProverRun::RecordRead(quint64 generation, std::shared_ptr<TRecord> record, TRefusal refusal)
{
    if (generation != generation_)
        return;
    if (reader_.joinable())
        reader_.join();
    reading_ = false;
    const QString name = QFileInfo(path_).fileName();
    if (refusal.Refused()) {
        StatusLabel->setText(QStringLiteral("Запись не обработана"));
        Reprocess();
        ShowWarning(this, RefusalText(refusal, name));
        return;
    }
    record_ = std::move(*record);
    haveRecord_ = true;
    memory_->SetLastRecord(path_);
    StatusLabel->setText(QStringLiteral("Строк: %1").arg(record_.Rows.size()));
    filling_ = true;
    const int channel = ChannelFromFileName(path_);
    if (channel == 1 || channel == 2) {
        ChannelBox->setCurrentIndex(channel - 1);
        ChannelSource->setText(QStringLiteral("по имени файла записи"));
    } else {
        ChannelSource->setText(QStringLiteral("имя файла канал не называет: выберите"));
    }
    filling_ = false;
    ApplyConfigBuild();
    Reprocess();
}

void TfmProverRun::done(int result)
{
    StopReading();
    Remember();
    QDialog::done(result);
}

// ---- the prover's build and profiles ----

void TfmProverRun::ApplyConfigBuild()
{
    const int first = FirstConfigNode(ChannelBox->currentIndex() + 1);
    const TDeviceConfig &c = context_.Config;
    const bool second = ChannelBox->currentIndex() == 1;
    const int detectors = second ? c.Tpu2DetectorCount : c.Tpu1DetectorCount;
    const int type = second ? c.Tpu2TpuType : c.Tpu1TpuType;
    const int sum = second ? c.Tpu2SumMethod : c.Tpu1SumMethod;
    const bool inLists = detectors < CodeCount(first) && type < CodeCount(first + 3) && sum < CodeCount(first + 4);
    filling_ = true;
    if (context_.ConfigKnown && inLists) {
        DetectorsBox->setCurrentIndex(detectors);
        DirectionsBox->setCurrentIndex(type);
        SumMethodBox->setCurrentIndex(sum);
        buildFromConfig_ = true;
    } else {
        buildFromConfig_ = false;
    }
    filling_ = false;
    if (context_.ConfigKnown && !inLists)
        BuildSource->setText(QStringLiteral("В конфигурации канала код вне списка: схема выбрана вручную."));
}

TProverProfile TfmProverRun::CurrentProfile() const
{
    TProverProfile p;
    p.Name = ProverName->text().trimmed();
    p.Serial = ProverSerial->text().trimmed();
    p.CertificateDate = CertificateDate->text().trimmed();
    p.Volume12 = Volume12->value();
    p.Volume21 = Volume21->value();
    p.Volume34 = Volume34->value();
    p.Volume43 = Volume43->value();
    p.Unit = UnitBox->currentIndex() == 1 ? TVolumeUnit::CubicMetre : TVolumeUnit::Litre;
    p.LimitPercent = Limit->value();
    p.LimitOf = LimitOfBox->currentIndex() == 1 ? TLimitFigure::Sko : TLimitFigure::Range;
    return p;
}

void TfmProverRun::LoadProfile(const QString &name)
{
    TProverProfile p;
    if (!memory_->Profile(name, p))
        return;
    filling_ = true;
    ProfileBox->setCurrentText(name);
    ProverName->setText(p.Name);
    ProverSerial->setText(p.Serial);
    CertificateDate->setText(p.CertificateDate);
    UnitBox->setCurrentIndex(p.Unit == TVolumeUnit::CubicMetre ? 1 : 0);
    Volume12->setValue(p.Volume12);
    Volume21->setValue(p.Volume21);
    Volume34->setValue(p.Volume34);
    Volume43->setValue(p.Volume43);
    Limit->setValue(p.LimitPercent);
    LimitOfBox->setCurrentIndex(p.LimitOf == TLimitFigure::Sko ? 1 : 0);
    filling_ = false;
    memory_->SetLastProfile(name);
    Reprocess();
}

void TfmProverRun::SaveProfile()
{
    const TProverProfile p = CurrentProfile();
    if (!memory_->SaveProfile(p)) {
        ShowWarning(this, QStringLiteral("Профиль не сохранен: задайте наименование установки."));
        return;
    }
    memory_->SetLastProfile(p.Name);
    filling_ = true;
    ProfileBox->clear();
    ProfileBox->addItems(memory_->ProfileNames());
    ProfileBox->setCurrentText(p.Name);
    filling_ = false;
}

void TfmProverRun::RemoveProfile()
{
    const QString name = ProfileBox->currentText();
    if (name.isEmpty())
        return;
    memory_->RemoveProfile(name);
    ProfileBox->removeItem(ProfileBox->currentIndex());
}

void TfmProverRun::Remember()
{
    memory_->SetLab({Organisation->text().trimmed(), Laboratory->text().trimmed(), Accreditation->text().trimmed()});
    memory_->SetTest({TransducerType->text().trimmed(), TransducerSerial->text().trimmed(), Operator->text().trimmed()});
}

double TfmProverRun::KFactor2() const
{
    if (!context_.ConfigKnown)
        return NAN;
    return ChannelBox->currentIndex() == 1 ? context_.Config.Tpu2KFactor2 : context_.Config.Tpu1KFactor2;
}

// ---- processing and showing ----

void TfmProverRun::Reprocess()
{
    const TProverProfile p = CurrentProfile();
    settings_.Build.Detectors = DetectorsBox->currentIndex() == 1 ? 4 : 2;
    settings_.Build.Directions = DirectionsBox->currentIndex() == 1 ? TDirections::Two : TDirections::One;
    settings_.Build.SumMethod = SumMethodBox->currentIndex() == 1 ? TSumMethod::TwoPasses : TSumMethod::OnePass;
    settings_.Volume12 = p.Volume12;
    settings_.Volume21 = p.Volume21;
    settings_.Volume34 = p.Volume34;
    settings_.Volume43 = p.Volume43;
    settings_.Unit = p.Unit;
    settings_.LimitPercent = p.LimitPercent;
    settings_.LimitOf = p.LimitOf;
    settings_.Update = TUpdate(UpdateBox->currentIndex());
    const bool four = settings_.Build.Detectors == 4;
    Volume34->setEnabled(four);
    Volume43->setEnabled(four && settings_.Build.Directions == TDirections::Two);
    Volume21->setEnabled(settings_.Build.Directions == TDirections::Two);

    if (buildFromConfig_)
        BuildSource->setText(QStringLiteral("Схема — из конфигурации прибора (%1).").arg(context_.ConfigSource));
    else if (!BuildSource->text().startsWith(QStringLiteral("В конфигурации")) || !context_.ConfigKnown)
        BuildSource->setText(context_.ConfigKnown ? QStringLiteral("Схема выбрана вручную (отличается от конфигурации прибора).")
                                                  : QStringLiteral("Конфигурация прибора не считана: схема выбрана вручную."));

    // Without a volume the passes are still shown, with N, T and f.
    const QString problem = SettingsProblemText(CheckSettings(settings_));
    result_ = TResult();
    if (haveRecord_)
        result_ = Process(record_, settings_);
    QStringList notes;
    problem_ = problem;
    if (haveRecord_ && !problem.isEmpty())
        notes << problem;
    if (record_.DroppedLastLine > 0)
        notes << QStringLiteral("Последняя строка %1 без конца строки не учтена.").arg(record_.DroppedLastLine);
    for (const TCutPass &cut : result_.Cut)
        notes << QStringLiteral("Проход %1 не учтен (строка %2): %3.").arg(cut.Section).arg(cut.Line).arg(CutText(cut.Why));
    NotesLabel->setText(notes.join(QLatin1Char('\n')));
    if (haveRecord_)
        UpdateBox->setItemText(0, QStringLiteral("по записи: %1").arg(UpdateText(result_.UpdateSeen)));
    ShowResult();
}

void TfmProverRun::ShowResult()
{
    const QChar sign = QLocale().decimalPoint().front();
    filling_ = true;
    const QStringList head = MeasurementHead(settings_.Unit);
    Table->clear();
    Table->setColumnCount(int(head.size()) - 1);  // "Учтено" is the check box of the first column
    Table->setHorizontalHeaderLabels(head.mid(0, head.size() - 1));
    const std::vector<QStringList> rows = MeasurementRows(result_, sign);
    Table->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r) {
        const TMeasurement &m = result_.Measurements[size_t(r)];
        for (int c = 0; c < Table->columnCount(); ++c) {
            auto *item = new QTableWidgetItem(rows[size_t(r)][c]);
            Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
            if (c == 0) {
                flags |= Qt::ItemIsUserCheckable;
                item->setCheckState(m.Included ? Qt::Checked : Qt::Unchecked);
                item->setData(Qt::UserRole, m.Number);
            }
            item->setFlags(flags);
            item->setTextAlignment(NumberColumn(c) ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignCenter);
            if (!m.Included)
                item->setForeground(QColor(140, 140, 140));
            Table->setItem(r, c, item);
        }
    }
    filling_ = false;

    QString html;
    for (const TSeries &series : result_.Series) {
        html += QStringLiteral("<b>%1</b><table cellspacing='0' cellpadding='1'>").arg(SeriesTitle(result_, series.Series).toHtmlEscaped());
        for (const TSeriesLine &l : SeriesLines(series, settings_, KFactor2(), sign))
            html += QStringLiteral("<tr><td>%1:&nbsp;</td><td align='right'>%2</td></tr>").arg(l.Name.toHtmlEscaped(), l.Value.toHtmlEscaped());
        html += QStringLiteral("</table>");
    }
    ResultsLabel->setText(html);
    Chart->SetRun(&record_, &result_);
    const bool any = haveRecord_ && !result_.Measurements.empty() && problem_.isEmpty();
    SaveProtocolButton->setEnabled(any);
    CopyButton->setEnabled(any);
    SaveExcelButton->setEnabled(any);
}

// ---- the outputs ----

TProtocol TfmProverRun::Protocol() const
{
    TProtocol pr;
    pr.Lab = {Organisation->text().trimmed(), Laboratory->text().trimmed(), Accreditation->text().trimmed()};
    pr.Test = {TransducerType->text().trimmed(), TransducerSerial->text().trimmed(), Operator->text().trimmed()};
    pr.Prover = CurrentProfile();
    pr.Made = QDateTime::currentDateTime();
    pr.Port = context_.Port;
    pr.RecordFile = QFileInfo(path_).fileName();
    pr.RecordStart = record_.Start;
    pr.Channel = ChannelBox->currentIndex() + 1;
    pr.Settings = settings_;
    pr.BuildSource = BuildSource->text();
    if (context_.ConfigKnown) {
        const int first = FirstConfigNode(pr.Channel);
        for (int i = first; i < first + 6; ++i)
            pr.ChannelConfig.append({QString::fromUtf8(TreeNodes()[i].Text), NodeValueTextOf(context_.Config, i)});
    } else {
        pr.ChannelConfig.append({QStringLiteral("Конфигурация прибора"), QStringLiteral("не считана")});
    }
    pr.KFactor2 = KFactor2();
    pr.Result = result_;
    return pr;
}

void TfmProverRun::CopyTable()
{
    QApplication::clipboard()->setText(ClipboardTable(result_, settings_.Unit, QLocale().decimalPoint().front()));
}

bool TfmProverRun::SaveProtocolTo(const QString &path)
{
    QString error;
    const QImage chart = RunChartImage(record_, result_, ProtocolChartSize());
    if (!WriteProtocolPdf(path, Protocol(), chart, &error)) {
        ShowWarning(this, QStringLiteral("Протокол не сохранен в файл\n%1\n%2").arg(QDir::toNativeSeparators(path), error));
        return false;
    }
    return true;
}

bool TfmProverRun::SaveExcelTo(const QString &path)
{
    QSaveFile file(path);
    const QByteArray bytes = ExcelCsv(result_, settings_, KFactor2());
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        ShowWarning(this, QStringLiteral("Таблица не сохранена в файл\n%1\n%2").arg(QDir::toNativeSeparators(path), file.errorString()));
        return false;
    }
    return true;
}

namespace {

QString SuggestedName(const QString &record, const QString &suffix)
{
    const QFileInfo info(record);
    return info.dir().filePath(info.completeBaseName() + suffix);
}

}  // namespace

void TfmProverRun::AskProtocol()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить протокол"),
                                                      SuggestedName(path_, QStringLiteral(" протокол.pdf")),
                                                      QStringLiteral("Документ PDF (*.pdf)"));
    if (!path.isEmpty())
        SaveProtocolTo(path);
}

void TfmProverRun::AskExcel()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить таблицу для Excel"),
                                                      SuggestedName(path_, QStringLiteral(" таблица.csv")),
                                                      QStringLiteral("Таблица CSV (*.csv)"));
    if (!path.isEmpty())
        SaveExcelTo(path);
}

void TfmProverRun::OpenAsked()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Запись режима ТПР по ТПУ"),
                                                      path_.isEmpty() ? memory_->LastRecord() : path_,
                                                      QStringLiteral("Записи показаний (*.csv);;Все файлы (*)"));
    if (!path.isEmpty())
        Open(path);
}
