#pragma once
// What the fourteen input dialogs share: the buttons "ОК" (modal result 1) and "Отмена"
// (modal result 2), neither of them default, so that Enter and Esc never end a dialog;
// the 8-point sans-serif font; the frame; the placement over the main window.

#include <QDialog>
#include <QPoint>

class QPushButton;

struct TInputDialogFrame {
    int ClientWidth = 323;
    int ClientHeight = 101;
    int ButtonX = 232;
    int Button1Y = 24;
    int Button2Y = 65;
    bool OrdinaryWindow = false;    // sizeable window with system menu and close box
    bool DesignedPosition = false;  // placed at DesignedScreenPos instead of centred
};

constexpr QPoint DesignedScreenPos(704, 330);
constexpr int ModalResultOk = 1;
constexpr int ModalResultCancel = 2;

class TInputDialog : public QDialog {
    Q_OBJECT
public:
    TInputDialog(const TInputDialogFrame &frame, const QString &caption, QWidget *owner);

    // Shows the dialog modally and gives its modal result (1 "ОК", 2 cancel).
    int RunModal();

    QPushButton *Button1 = nullptr;  // "ОК"
    QPushButton *Button2 = nullptr;  // "Отмена"

    // The window the dialogs are opened over: the active window, else the main window.
    static QWidget *Owner();

public slots:
    void reject() override;  // Esc: the dialog stays open

protected:
    // The dialog's value control: first in the tab order, focused when the dialog opens.
    void SetValueControl(QWidget *control);
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Place();

    TInputDialogFrame frame_;
};
