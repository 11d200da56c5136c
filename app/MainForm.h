#pragma once
// The main window: the parameter tree and value grid, the port selector, the menus that
// read and write the configuration and open the mode windows, the About window.

#include "ParameterTree.h"

#include <QMainWindow>
#include <QSettings>

#include <functional>
#include <memory>

class ConfigExchange;
enum class TModeId;
class TConfigFileCommands;
class QAction;
class QContextMenuEvent;
class QLabel;
class QMenu;
class QPushButton;
class QTableWidget;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QUrl;
class TComComboBox;
class TComPort;

// The font of the program's forms: the desktop's sans-serif font at 8 points.
QFont FormFont();
// What the program keeps from run to run (the last port, the record folder): the registry
// on Windows, ~/.config on Linux.
QSettings ProgramSettings();


class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    static constexpr int ClientWidth = 816;
    static constexpr int ClientHeight = 679;
    static constexpr int NodeCount = TreeNodeCount;

    // False when the window could not be set up (the port list failed): the program ends.
    bool CreatedOk() const { return createdOk_; }

    // Components, under their designer names.
    QWidget *Client;  // the client area below the menu bar
    QTreeWidget *TreeView1;
    QTableWidget *StringGrid1;
    QLabel *Label1;
    TComComboBox *ComComboBox1;
    QPushButton *Button1;
    TComPort *ComPort1;
    QTimer *TimerReadCfgInPribor;
    QTimer *TimerWaitAnswer;
    QMenu *N1;  // "Конфигурация"
    QAction *N6;
    QAction *N8;
    QMenu *N11;  // "Режим работы"
    QAction *N12;
    QAction *N22;
    QAction *N3;
    QAction *N14;
    QAction *N2;
    QAction *TQ1;
    QAction *N4;
    QAction *f1;
    QAction *T1;
    QAction *N5;
    QAction *N10;  // "О программе"
    // Configuration files and records of mode runs.
    QAction *SaveToFile;       // "Сохранить конфигурацию в файл…"
    QAction *OpenFromFile;     // "Открыть конфигурацию из файла…"
    QAction *CompareWithFile;  // "Сравнить с файлом…"
    QAction *RecordReadings;   // "Записывать показания в файл", checkable
    QAction *ProcessRecord;    // "Обработка записи ТПР по ТПУ…"
    QMenu *Help1;  // "Справка"
    QAction *UserGuide1;  // "Руководство пользователя", F1
    QMenu *PopupMenu1;
    QAction *N13;  // "Изменить параметр"
    bool AutoPopup = false;  // PopupMenu1 opens as the tree's context menu only while set

    // The editing step behind "Изменить параметр"; replaceable so tests can stand in for
    // the input dialogs.
    std::function<bool(QWidget *, int)> EditParameterFn;
    // Where the user guide is looked for (the program's folder) and what opens it (the
    // system's browser, through the shell's default opener); replaceable for tests. The
    // opener calls failed() when the system could not open the page after all.
    QString ProgramFolder;
    std::function<bool(const QUrl &, std::function<void()> failed)> OpenUrlFn;

    // Asked before the program ends while hand edits are unsaved ("Выход", the close box):
    // true when it may end.
    bool MayExit();

    // Tree nodes by absolute index (depth-first order, root = 0) and back.
    QTreeWidgetItem *NodeAt(int index) const;
    int AbsoluteIndex(const QTreeWidgetItem *node) const;

    TConfigFileCommands &FileCommands() { return *fileCommands_; }
    // Where every mode window opened keeps its record; empty while RecordReadings is off.
    QString RecordFolder() const;

    // The grid for one node.
    void ShowNode(QTreeWidgetItem *node);
    void ListSubtree(QTreeWidgetItem *node);
    void ShowParameter(QTreeWidgetItem *node);
    void AddGridRow(const QString &name, const QString &value);
    // Rows of the grid counting the header row, as the grid's own row count.
    int GridRowCount() const;

    // Handlers.
    void FormCreate();
    void TreeView1Change(QTreeWidgetItem *node);
    void TreeView1MouseDown(Qt::MouseButton button, const QPoint &pos);
    void TreeView1ContextPopup(const QContextMenuEvent &event);
    void N13Click();
    void N6Click();
    void N8Click();
    void N12Click();
    void N22Click();
    void N3Click();
    void N14Click();
    void N2Click();
    void TQ1Click();
    void N4Click();
    void f1Click();
    void T1Click();
    void N5Click();
    void N10Click();
    void UserGuide1Click();
    void Button1Click();
    void ComPort1RxChar(QObject *sender, int count);
    void TimerReadCfgInPriborTimer();
    void TimerWaitAnswerTimer();
    void RequestSecondBlock();
    void RecordReadingsClick(bool checked);
    void ProcessRecordClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    // A .json file dropped on the window is opened as from the menu.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void BuildTree();
    void BuildMenus();
    void BuildHelpMenu();
    QAction *AddMenuItem(QMenu *menu, const char *name, const QString &text, void (TForm1::*handler)());

    // The configuration read and write, made on first use.
    ConfigExchange &Exchange();
    // A mode's window from its menu item, recorded when recording is on.
    void OpenMode(TModeId mode, const QAction *item);

    QTreeWidgetItem *nodes_[NodeCount] = {};
    std::unique_ptr<ConfigExchange> exchange_;
    std::unique_ptr<TConfigFileCommands> fileCommands_;
    QString recordFolder_;  // the last chosen, kept from run to run
    bool createdOk_ = true;
    bool centred_ = false;
};
