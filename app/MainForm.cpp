#include "MainForm.h"

#include "About.h"
#include "CPortCtl.h"
#include "ConfigExchange.h"
#include "ConfigFileCommands.h"
#include "FileAccess.h"
#include "FileMessages.h"
#include "Globals.h"
#include "Messages.h"
#include "ModeLauncher.h"
#include "ModeRecordWriter.h"
#include "ParameterEdit.h"
#include "ParameterTree.h"
#include "PortMessages.h"
#include "ProverWindow.h"
#include "RunMemory.h"
#include "ScreenFit.h"
#include "UserGuide.h"
#include "ValueText.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QPointer>
#include <QScreen>
#include <QSettings>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>

namespace {

constexpr int IndexRole = Qt::UserRole + 1;
const QString PortKey = QStringLiteral("port");
const QString RecordFolderKey = QStringLiteral("recordFolder");

QTableWidgetItem *GridCell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

}  // namespace

QSettings ProgramSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Karven"), QStringLiteral("karven12t"));
}

QFont FormFont()
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(8);
    return f;
}

TForm1::TForm1(QWidget *parent)
    : QMainWindow(parent)
    , EditParameterFn(&EditParameter)
    , ProgramFolder(QCoreApplication::applicationDirPath())
    , OpenUrlFn([this](const QUrl &url, std::function<void()> failed) { return OpenWithSystem(this, url, std::move(failed)); })
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Карвен-12Т   \"ТОРВИК-3\""));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setFont(FormFont());

    Client = new QWidget(this);
    Client->setObjectName(QStringLiteral("Client"));
    Client->setFixedSize(ClientWidth, ClientHeight);
    setCentralWidget(Client);

    TreeView1 = new QTreeWidget(Client);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setGeometry(8, 8, 265, 609);
    TreeView1->setHeaderHidden(true);
    TreeView1->setColumnCount(1);
    TreeView1->setIndentation(19);
    // Long texts are scrolled to horizontally, never cut short.
    TreeView1->setTextElideMode(Qt::ElideNone);
    TreeView1->header()->setStretchLastSection(false);
    TreeView1->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    TreeView1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    TreeView1->setContextMenuPolicy(Qt::DefaultContextMenu);
    TreeView1->installEventFilter(this);
    TreeView1->viewport()->installEventFilter(this);

    StringGrid1 = new QTableWidget(Client);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    StringGrid1->setGeometry(288, 8, 521, 609);
    StringGrid1->setColumnCount(2);
    StringGrid1->setHorizontalHeaderLabels({QString(), QString()});
    StringGrid1->setRowCount(1);
    StringGrid1->verticalHeader()->hide();
    StringGrid1->verticalHeader()->setMinimumSectionSize(1);
    StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid1->verticalHeader()->setDefaultSectionSize(20);
    StringGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    StringGrid1->horizontalHeader()->setStretchLastSection(false);
    StringGrid1->horizontalHeader()->setHighlightSections(false);
    StringGrid1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    StringGrid1->horizontalHeader()->setFixedHeight(20);
    StringGrid1->setColumnWidth(0, 250);
    StringGrid1->setColumnWidth(1, 242);
    StringGrid1->setShowGrid(true);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    StringGrid1->setWordWrap(false);

    Label1 = new QLabel(QStringLiteral("Номер порта"), Client);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(8, 624);
    Label1->adjustSize();

    ComPort1 = new TComPort(this);
    ComPort1->setObjectName(QStringLiteral("ComPort1"));
    ComPort1->BaudRate = br9600;
    ComPort1->DataBits = dbEight;
    ComPort1->StopBits = sbTwoStopBits;
    ComPort1->Parity.Bits = prNone;
    ComPort1->OnRxChar = [this](QObject *sender, int count) {
        Guarded([&] { ComPort1RxChar(sender, count); });
    };

    ComComboBox1 = new TComComboBox(Client);
    ComComboBox1->setObjectName(QStringLiteral("ComComboBox1"));
    ComComboBox1->setGeometry(8, 640, 145, 21);
    ComComboBox1->SetComPort(ComPort1);
    // The port chosen is the one the next run starts with.
    connect(ComComboBox1, &QComboBox::activated, this, [this] { ProgramSettings().setValue(PortKey, ComPort1->Port()); });

    Button1 = new QPushButton(QStringLiteral("Выход"), Client);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(736, 640, 75, 25);
    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });

    TimerReadCfgInPribor = new QTimer(this);
    TimerReadCfgInPribor->setObjectName(QStringLiteral("TimerReadCfgInPribor"));
    TimerReadCfgInPribor->setInterval(100);
    connect(TimerReadCfgInPribor, &QTimer::timeout, this,
            [this] { Guarded([this] { TimerReadCfgInPriborTimer(); }); });

    TimerWaitAnswer = new QTimer(this);
    TimerWaitAnswer->setObjectName(QStringLiteral("TimerWaitAnswer"));
    TimerWaitAnswer->setInterval(1000);
    connect(TimerWaitAnswer, &QTimer::timeout, this,
            [this] { Guarded([this] { TimerWaitAnswerTimer(); }); });

    fileCommands_ = std::make_unique<TConfigFileCommands>(this, [this] {
        nodes_[0]->setText(0, QString::fromUtf8(RootTextModified));
        ShowNode(NodeAt(0));
    });
    setAcceptDrops(true);

    BuildTree();
    BuildMenus();
    BuildHelpMenu();

    // The window is exactly the menu bar plus the fixed client area.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::BuildTree()
{
    QTreeWidgetItem *parents[3] = {};
    for (int i = 0; i < NodeCount; ++i) {
        const TreeNodeDef &def = TreeNodes()[i];
        QTreeWidgetItem *item = def.Level == 0 ? new QTreeWidgetItem(TreeView1)
                                               : new QTreeWidgetItem(parents[def.Level - 1]);
        item->setText(0, QString::fromUtf8(def.Text));
        item->setData(0, IndexRole, i);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        parents[def.Level] = item;
        nodes_[i] = item;
    }
    nodes_[0]->setExpanded(true);
    connect(TreeView1, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current, QTreeWidgetItem *) {
                Guarded([&] { TreeView1Change(current); });
            });
}

QAction *TForm1::AddMenuItem(QMenu *menu, const char *name, const QString &text,
                             void (TForm1::*handler)())
{
    QAction *action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
    return action;
}

void TForm1::BuildMenus()
{
    QMenuBar *bar = menuBar();
    bar->setFont(FormFont());

    N1 = bar->addMenu(QStringLiteral("Конфигурация"));
    N1->setObjectName(QStringLiteral("N1"));
    N6 = AddMenuItem(N1, "N6", QStringLiteral("Считать конфигурацию из прибора"), &TForm1::N6Click);
    N8 = AddMenuItem(N1, "N8", QStringLiteral("Загрузить конфигурацию в прибор"), &TForm1::N8Click);
    N1->addSeparator();
    SaveToFile = N1->addAction(QStringLiteral("Сохранить конфигурацию в файл…"));
    SaveToFile->setObjectName(QStringLiteral("SaveToFile"));
    SaveToFile->setShortcut(QKeySequence(QStringLiteral("Ctrl+S")));
    connect(SaveToFile, &QAction::triggered, this, [this] { Guarded([this] { fileCommands_->Save(); }); });
    OpenFromFile = N1->addAction(QStringLiteral("Открыть конфигурацию из файла…"));
    OpenFromFile->setObjectName(QStringLiteral("OpenFromFile"));
    OpenFromFile->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
    connect(OpenFromFile, &QAction::triggered, this, [this] { Guarded([this] { fileCommands_->Open(); }); });
    CompareWithFile = N1->addAction(QStringLiteral("Сравнить с файлом…"));
    CompareWithFile->setObjectName(QStringLiteral("CompareWithFile"));
    connect(CompareWithFile, &QAction::triggered, this, [this] { Guarded([this] { fileCommands_->Compare(); }); });

    N11 = bar->addMenu(QStringLiteral("Режим работы"));
    N11->setObjectName(QStringLiteral("N11"));
    N12 = AddMenuItem(N11, "N12", QStringLiteral("ТПР по ТПУ1"), &TForm1::N12Click);
    N22 = AddMenuItem(N11, "N22", QStringLiteral("ТПР по ТПУ2"), &TForm1::N22Click);
    N3 = AddMenuItem(N11, "N3", QStringLiteral("ТПР по ТПР"), &TForm1::N3Click);
    N14 = AddMenuItem(N11, "N14", QStringLiteral("Частотомер"), &TForm1::N14Click);
    N2 = AddMenuItem(N11, "N2", QStringLiteral("Пачка импульсов"), &TForm1::N2Click);
    TQ1 = AddMenuItem(N11, "TQ1", QStringLiteral("Режим TQ"), &TForm1::TQ1Click);
    N4 = AddMenuItem(N11, "N4", QStringLiteral("Имитация ТПУ"), &TForm1::N4Click);
    f1 = AddMenuItem(N11, "f1", QStringLiteral("Генератор f"), &TForm1::f1Click);
    T1 = AddMenuItem(N11, "T1", QStringLiteral("Генератор T"), &TForm1::T1Click);
    N5 = AddMenuItem(N11, "N5", QStringLiteral("Имитация ТС"), &TForm1::N5Click);
    N11->addSeparator();
    RecordReadings = N11->addAction(QStringLiteral("Записывать показания в файл"));
    RecordReadings->setObjectName(QStringLiteral("RecordReadings"));
    RecordReadings->setCheckable(true);
    connect(RecordReadings, &QAction::triggered, this,
            [this](bool checked) { Guarded([&] { RecordReadingsClick(checked); }); });
    ProcessRecord = AddMenuItem(N11, "ProcessRecord", QStringLiteral("Обработка записи ТПР по ТПУ…"),
                                &TForm1::ProcessRecordClick);

    // A top-level item that acts at once, without a drop-down.
    N10 = bar->addAction(QStringLiteral("О программе"));
    N10->setObjectName(QStringLiteral("N10"));
    connect(N10, &QAction::triggered, this, [this] { Guarded([this] { N10Click(); }); });

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    N13 = AddMenuItem(PopupMenu1, "N13", QStringLiteral("Изменить параметр"), &TForm1::N13Click);
}

void TForm1::BuildHelpMenu()
{
    // Before "О программе", which stays a top-level item of its own.
    Help1 = new QMenu(QStringLiteral("Справка"), menuBar());
    Help1->setObjectName(QStringLiteral("Help1"));
    menuBar()->insertMenu(N10, Help1);
    UserGuide1 = AddMenuItem(Help1, "UserGuide1", QStringLiteral("Руководство пользователя"),
                             &TForm1::UserGuide1Click);
    UserGuide1->setShortcut(Qt::Key_F1);
}

void TForm1::FormCreate()
{
    try {
        ComComboBox1->SetComProperty(cpPort);
    } catch (...) {
        // Without a port list the program cannot work: report and end.
        ReportException(std::current_exception());
        createdOk_ = false;
        return;
    }
    // The port and record folder of the last run; a port that is gone leaves the start port.
    const QSettings settings = ProgramSettings();
    const QString port = settings.value(PortKey).toString();
    if (!port.isEmpty() && ComComboBox1->findText(port, Qt::MatchFixedString) >= 0) {
        ComPort1->SetPort(port);
        ComComboBox1->SetComPort(ComPort1);
    }
    recordFolder_ = settings.value(RecordFolderKey).toString();
}

void TForm1::showEvent(QShowEvent *event)
{
    FitWindowToScreen(this);
    QMainWindow::showEvent(event);
    if (centred_)
        return;
    centred_ = true;
    if (QScreen *s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

QTreeWidgetItem *TForm1::NodeAt(int index) const
{
    return index >= 0 && index < NodeCount ? nodes_[index] : nullptr;
}

int TForm1::AbsoluteIndex(const QTreeWidgetItem *node) const
{
    return node ? node->data(0, IndexRole).toInt() : -1;
}

// ---- The grid ----

int TForm1::GridRowCount() const
{
    return StringGrid1->rowCount() + 1;  // the header row is the grid's row 0
}

void TForm1::ShowNode(QTreeWidgetItem *node)
{
    StringGrid1->setRowCount(0);
    if (!node)
        return;
    if (node->childCount() > 0)
        ListSubtree(node->child(0));
    else
        ShowParameter(node);
}

void TForm1::ListSubtree(QTreeWidgetItem *node)
{
    QTreeWidgetItem *parent = node->parent();
    const int first = parent ? parent->indexOfChild(node) : TreeView1->indexOfTopLevelItem(node);
    const int count = parent ? parent->childCount() : TreeView1->topLevelItemCount();
    for (int i = first; i < count; ++i) {
        QTreeWidgetItem *sibling = parent ? parent->child(i) : TreeView1->topLevelItem(i);
        if (sibling->childCount() > 0) {
            AddGridRow(sibling->text(0), QString());
            ListSubtree(sibling->child(0));
        } else {
            ShowParameter(sibling);
        }
    }
}

void TForm1::ShowParameter(QTreeWidgetItem *node)
{
    AddGridRow(node->text(0), QLatin1Char(' ') + NodeValueText(AbsoluteIndex(node)));
}

void TForm1::AddGridRow(const QString &name, const QString &value)
{
    const int row = StringGrid1->rowCount();
    StringGrid1->setRowCount(row + 1);
    if (row == 0)
        StringGrid1->setHorizontalHeaderLabels({QStringLiteral("Параметр"), QStringLiteral("Значение")});
    StringGrid1->setItem(row, 0, GridCell(name));
    StringGrid1->setItem(row, 1, GridCell(value));
}

void TForm1::TreeView1Change(QTreeWidgetItem *node)
{
    ShowNode(node);
}

// ---- Parameter editing ----

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    const bool onViewport = watched == TreeView1->viewport();
    if (onViewport
        && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const QPoint pos = mouse->position().toPoint();
        const bool onNode = TreeView1->itemAt(pos) != nullptr;
        Guarded([&] { TreeView1MouseDown(mouse->button(), pos); });
        // The tree's own handling runs for the left button on a node (selection, expanding);
        // other presses select nothing beyond what TreeView1MouseDown did.
        return !(onNode && mouse->button() == Qt::LeftButton);
    }
    if ((onViewport || watched == TreeView1) && event->type() == QEvent::ContextMenu) {
        auto *menuEvent = static_cast<QContextMenuEvent *>(event);
        Guarded([&] { TreeView1ContextPopup(*menuEvent); });
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

namespace {

// The node whose row holds pos (viewport coordinates), anywhere across the tree's width:
// column 0 is only as wide as the widest text shown, and the blank part of a row right of
// it belongs to the row all the same. Null below the last node.
QTreeWidgetItem *NodeOnRow(const QTreeWidget &tree, const QPoint &pos)
{
    const QHeaderView *header = tree.header();
    const int left = header->sectionViewportPosition(0);
    const int right = left + std::max(header->sectionSize(0), 1) - 1;
    return tree.itemAt(QPoint(std::clamp(pos.x(), left, right), pos.y()));
}

}  // namespace

void TForm1::TreeView1MouseDown(Qt::MouseButton button, const QPoint &pos)
{
    QTreeWidgetItem *node = NodeOnRow(*TreeView1, pos);
    AutoPopup = false;
    if (!node || button != Qt::RightButton)
        return;
    TreeView1->setCurrentItem(node);
    if (node->childCount() > 0)
        return;
    EditedNodeIndex = AbsoluteIndex(node);
    AutoPopup = true;
    PopupMenu1->popup(TreeView1->viewport()->mapToGlobal(pos));
}

void TForm1::TreeView1ContextPopup(const QContextMenuEvent &event)
{
    // The mouse's own context-menu request has been served by TreeView1MouseDown.
    if (event.reason() != QContextMenuEvent::Keyboard || !AutoPopup)
        return;
    // From the keyboard the menu edits the node selected now, and only a leaf.
    QTreeWidgetItem *node = TreeView1->currentItem();
    if (!node || node->childCount() > 0)
        return;
    EditedNodeIndex = AbsoluteIndex(node);
    TreeView1->scrollToItem(node);
    const QRect r = TreeView1->visualItemRect(node);
    PopupMenu1->popup(TreeView1->viewport()->mapToGlobal(QPoint(r.left() + 8, r.bottom())));
}

void TForm1::N13Click()
{
    const int index = EditedNodeIndex;
    if (!EditParameterFn || !EditParameterFn(this, index))
        return;  // nothing chosen: record, root and grid stay as they were
    nodes_[0]->setText(0, QString::fromUtf8(RootTextModified));
    ShowNode(NodeAt(index));
    fileCommands_->ChangedByHand();
}

// ---- Configuration exchange (wired by the configuration read and write) ----

ConfigExchange &TForm1::Exchange()
{
    if (!exchange_) {
        ConfigExchangeHooks hooks;
        hooks.Tell = [this](TExchangeNotice notice, std::exception_ptr failure) {
            const QString text = ExchangeNoticeText(notice, failure, ComPort1->Port());
            if (notice == TExchangeNotice::WriteDone)
                ::ShowInformation(this, text);
            else
                ::ShowWarning(this, text);
        };
        hooks.ReportError = &ReportException;
        hooks.MarkRootSaved = [this] {
            nodes_[0]->setText(0, QString::fromUtf8(RootTextSaved));
            fileCommands_->MarkSaved();
        };
        hooks.ShowRoot = [this] { ShowNode(NodeAt(0)); };
        hooks.ReadDone = [this] { fileCommands_->ReadFromDevice(ComPort1->Port()); };
        exchange_ = std::make_unique<ConfigExchange>(*ComPort1, *TimerReadCfgInPribor, *TimerWaitAnswer,
                                                     std::move(hooks));
    }
    return *exchange_;
}

void TForm1::N6Click() { Exchange().StartRead(); }
void TForm1::N8Click() { Exchange().StartWrite(); }
void TForm1::ComPort1RxChar(QObject *, int count) { Exchange().Received(count); }
void TForm1::TimerReadCfgInPriborTimer() { Exchange().ReadTimerTick(); }
void TForm1::TimerWaitAnswerTimer() { Exchange().AnswerTimeout(); }
void TForm1::RequestSecondBlock() { Exchange().RequestSecondBlock(); }

// ---- Mode windows (each opens its own modal window) ----

void TForm1::N12Click() { OpenMode(TModeId::TprTpu1, N12); }
void TForm1::N22Click() { OpenMode(TModeId::TprTpu2, N22); }
void TForm1::N3Click() { OpenMode(TModeId::TprTpr, N3); }
void TForm1::N14Click() { OpenMode(TModeId::FreqCounter, N14); }
void TForm1::N2Click() { OpenMode(TModeId::PackPulses, N2); }
void TForm1::TQ1Click() { OpenMode(TModeId::Tq, TQ1); }
void TForm1::N4Click() { OpenMode(TModeId::ImitationTpu, N4); }
void TForm1::f1Click() { OpenMode(TModeId::GeneratorF, f1); }
void TForm1::T1Click() { OpenMode(TModeId::GeneratorT, T1); }
void TForm1::N5Click() { OpenMode(TModeId::TcImitation, N5); }

void TForm1::OpenMode(TModeId mode, const QAction *item)
{
    // The menu item's text names the record's file.
    OpenModeWindow(mode, this, *ComPort1, RecordFolder(), item->text());
}

// ---- Records of mode runs and dropped files ----

void TForm1::RecordReadingsClick(bool checked)
{
    if (!checked)
        return;
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Папка для записи показаний"),
        QFileInfo(recordFolder_).isDir() ? recordFolder_ : TConfigFileCommands::DocumentsFolder());
    // A folder the records cannot be made in is told now, not by every mode window.
    const TFileFailure failure = folder.isEmpty() ? TFileFailure{} : ProbeRecordFolder(folder);
    if (failure.Failed())
        ShowWarning(this, QStringLiteral("В этой папке нельзя записывать показания: файл в ней не создаётся.\n\n"
                                         "Папка: %1\nПричина: %2.\n\nВыберите другую папку.")
                              .arg(QDir::toNativeSeparators(folder), FileCauseMessage(failure)));
    const bool taken = !folder.isEmpty() && !failure.Failed();
    if (taken) {
        recordFolder_ = folder;
        ProgramSettings().setValue(RecordFolderKey, folder);
    }
    RecordReadings->setChecked(taken);
}

QString TForm1::RecordFolder() const
{
    return RecordReadings->isChecked() ? recordFolder_ : QString();
}

void TForm1::ProcessRecordClick()
{
    const std::unique_ptr<QSettings> settings = ProverSettings();
    TRunMemory memory(*settings);
    QString start = OfferedRecord(recordFolder_, memory.LastRecord());
    if (start.isEmpty())
        start = recordFolder_.isEmpty() ? fileCommands_->StartFolder() : recordFolder_;
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Запись режима ТПР по ТПУ"), start,
                                                      QStringLiteral("Записи показаний (*.csv);;Все файлы (*)"));
    if (path.isEmpty())
        return;
    TProverContext context;
    context.Port = ComPort1->Port();
    context.Config = DeviceConfig;
    const TConfigOrigin &origin = fileCommands_->Origin();
    context.ConfigKnown = origin.ReadAt.isValid() || !origin.OpenedFrom.isEmpty();
    if (!origin.OpenedFrom.isEmpty())
        context.ConfigSource = QStringLiteral("открыта из файла %1").arg(QFileInfo(origin.OpenedFrom).fileName());
    else if (origin.ReadAt.isValid())
        context.ConfigSource = QStringLiteral("считана из прибора на порту %1 %2")
                                   .arg(origin.Port, origin.ReadAt.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm")));
    if (origin.ChangedByHand)
        context.ConfigSource += QStringLiteral(", изменена вручную");
    TfmProverRun window(this, context, *settings);
    window.Open(path);
    window.exec();
}

namespace {

// The one local .json file a drag carries, or empty.
QString DroppedConfigFile(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1 || !data->urls().first().isLocalFile())
        return QString();
    const QString path = data->urls().first().toLocalFile();
    return QFileInfo(path).suffix().compare(QStringLiteral("json"), Qt::CaseInsensitive) == 0 ? path : QString();
}

}  // namespace

void TForm1::dragEnterEvent(QDragEnterEvent *event)
{
    if (!DroppedConfigFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent *event)
{
    const QString path = DroppedConfigFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    // Opened once the drop is over: the program that dragged the file waits for its end.
    QTimer::singleShot(0, this, [this, path] { Guarded([&] { fileCommands_->OpenFile(path); }); });
}

// ---- About and exit ----

void TForm1::N10Click()
{
    TfmAboutBox box(this);
    box.exec();
}

// ---- The user guide ----

void TForm1::UserGuide1Click()
{
    const QString guide = FindUserGuide(ProgramFolder);
    if (guide.isEmpty()) {
        ShowWarning(this, QStringLiteral("Руководство пользователя не найдено: файл guide.html "
                                         "не установлен вместе с программой."));
        return;
    }
    const QString notOpened = QStringLiteral("Не удалось открыть руководство пользователя. "
                                             "Откройте в браузере файл\n") + QDir::toNativeSeparators(guide);
    const QPointer<TForm1> self(this);
    const auto failed = [self, notOpened] {
        if (self)
            ShowWarning(self, notOpened);
    };
    if (!OpenUrlFn || !OpenUrlFn(QUrl::fromLocalFile(guide), failed))
        ShowWarning(this, notOpened);
}

bool TForm1::MayExit()
{
    if (!fileCommands_->Unsaved())
        return true;
    const int answer = AskChoice(this,
                                 QStringLiteral("Значения в программе изменены вручную и ещё не записаны в прибор и не "
                                                "сохранены в файл.\n\nСохранить их в файл перед выходом?"),
                                 {QStringLiteral("Сохранить…"), QStringLiteral("Выйти без сохранения"), QStringLiteral("Отмена")});
    if (answer == 0)
        fileCommands_->Save();  // ends only once saved
    return answer == 1 || (answer == 0 && !fileCommands_->Unsaved());
}

void TForm1::closeEvent(QCloseEvent *event)
{
    bool may = true;
    Guarded([&] { may = MayExit(); });
    if (may)
        QMainWindow::closeEvent(event);
    else
        event->ignore();
}

void TForm1::Button1Click()
{
    if (MayExit())
        QCoreApplication::quit();
}
