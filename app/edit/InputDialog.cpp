#include "InputDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>

static QPushButton *MakeButton(QWidget *parent, const QString &caption, int x, int y)
{
    auto *button = new QPushButton(caption, parent);
    button->setGeometry(x, y, 75, 25);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

TInputDialog::TInputDialog(const TInputDialogFrame &frame, const QString &caption, QWidget *owner)
    : QDialog(owner), frame_(frame)
{
    if (frame.OrdinaryWindow)
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    else
        setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(caption);

    QFont font(QStringLiteral("Sans Serif"), 8);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);

    if (frame.OrdinaryWindow)
        resize(frame.ClientWidth, frame.ClientHeight);
    else
        setFixedSize(frame.ClientWidth, frame.ClientHeight);

    Button1 = MakeButton(this, QStringLiteral("ОК"), frame.ButtonX, frame.Button1Y);
    Button2 = MakeButton(this, QStringLiteral("Отмена"), frame.ButtonX, frame.Button2Y);
    connect(Button1, &QPushButton::clicked, this, [this] { done(ModalResultOk); });
    connect(Button2, &QPushButton::clicked, this, [this] { done(ModalResultCancel); });
}

QWidget *TInputDialog::Owner()
{
    if (QWidget *active = QApplication::activeWindow())
        return active;
    // no window is active (the one that opened us may be between activations): the main window
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible() && qobject_cast<QMainWindow *>(w))
            return w;
    return nullptr;
}

void TInputDialog::SetValueControl(QWidget *control)
{
    setTabOrder(control, Button1);
    setTabOrder(Button1, Button2);
    control->setFocus(Qt::OtherFocusReason);
}

int TInputDialog::RunModal()
{
    Place();
    return exec();
}

void TInputDialog::Place()
{
    if (frame_.DesignedPosition) {
        move(DesignedScreenPos);
        return;
    }
    QRect over;
    if (QWidget *owner = parentWidget() ? parentWidget()->window() : nullptr)
        over = owner->frameGeometry();
    else if (const QScreen *screen = QGuiApplication::primaryScreen())
        over = screen->availableGeometry();
    if (over.isValid())
        move(over.center() - QPoint(width() / 2, height() / 2));
}

void TInputDialog::reject()
{
}

void TInputDialog::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();  // no default and no cancel button
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

// The close box (where the frame has one) gives the cancel result.
void TInputDialog::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (isVisible())
        done(ModalResultCancel);
}
