#pragma once
// Drives modal dialogs from a test: a timer waits for the modal widget, then acts on it
// the way a user would.

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

namespace driver {

// Calls `action` with the first visible modal widget; gives up after `timeoutMs`.
inline void WhenModal(std::function<void(QWidget *)> action, int timeoutMs = 20000)
{
    auto *timer = new QTimer(qApp);
    auto deadline = std::make_shared<QDeadlineTimer>(timeoutMs);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action, deadline] {
        QWidget *modal = QApplication::activeModalWidget();
        if ((modal && modal->isVisible()) || deadline->hasExpired()) {
            timer->stop();
            timer->deleteLater();
            if (modal && modal->isVisible())
                action(modal);
        }
    });
    timer->start();
}

inline QPushButton *Button(QWidget *window, const QString &text)
{
    for (QPushButton *button : window->findChildren<QPushButton *>())
        if (button->text() == text && button->window() == window)
            return button;
    return nullptr;
}

// Clicks the button of that text with the mouse; false when there is none.
inline bool Click(QWidget *window, const QString &text)
{
    QPushButton *button = Button(window, text);
    if (!button)
        return false;
    QTest::mouseClick(button, Qt::LeftButton);
    return true;
}

// Types text key by key, Cyrillic letters included.
inline void TypeText(QWidget *widget, const QString &text)
{
    for (QChar c : text) {
        const char16_t u = c.toUpper().unicode();
        const Qt::Key key = (u >= 0x20 && u < 0x7F) ? Qt::Key(u) : Qt::Key_unknown;
        QTest::sendKeyEvent(QTest::Press, widget, key, QString(c), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, widget, key, QString(c), Qt::NoModifier);
    }
}

// Runs the actions one after another, each on the next modal widget that appears (another
// than the one the action before was given), inside whatever modal loops they open.
// Returns how many have run so far; CancelTurns() drops those still waiting.
inline std::shared_ptr<int> InTurn(std::vector<std::function<void(QWidget *)>> actions, int timeoutMs = 20000,
                                   QPointer<QWidget> previous = nullptr, std::shared_ptr<int> done = nullptr)
{
    if (!done)
        done = std::make_shared<int>(0);
    if (actions.empty())
        return done;
    auto *timer = new QTimer(qApp);
    timer->setObjectName(QStringLiteral("driver-turn"));
    auto deadline = std::make_shared<QDeadlineTimer>(timeoutMs);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [=]() mutable {
        QWidget *modal = QApplication::activeModalWidget();
        const bool ready = modal && modal->isVisible() && modal != previous.data();
        if (!ready && !deadline->hasExpired())
            return;
        timer->stop();
        timer->deleteLater();
        if (!ready)
            return;
        const auto action = actions.front();
        actions.erase(actions.begin());
        // The next one waits before this one acts: the action may open a modal loop of its own.
        InTurn(actions, timeoutMs, QPointer<QWidget>(modal), done);
        ++*done;
        action(modal);
    });
    timer->start();
    return done;
}

inline void CancelTurns()
{
    for (QTimer *timer : qApp->findChildren<QTimer *>(QStringLiteral("driver-turn"), Qt::FindDirectChildrenOnly)) {
        timer->stop();
        timer->deleteLater();
    }
}

// Chooses path in Qt's file dialog (a file to open or save, a folder) as a person types it
// into the name field and accepts.
inline void ChooseFile(QWidget *modal, const QString &path)
{
    auto *dialog = qobject_cast<QFileDialog *>(modal);
    auto *name = dialog ? dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")) : nullptr;
    if (!name) {
        modal->close();
        return;
    }
    name->setText(QDir::toNativeSeparators(path));
    QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);  // as its Open/Save button
}

// Keeps a message box's text in *text and clicks its button of that text.
inline std::function<void(QWidget *)> Answer(const QString &button, QString *text = nullptr)
{
    return [button, text](QWidget *modal) {
        if (auto *box = qobject_cast<QMessageBox *>(modal); box && text)
            *text = box->text();
        if (!Click(modal, button))
            modal->close();
    };
}

// Lets queued events run for a while.
inline void Pump(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Makes the window active and gives it time to settle, so that focus events happen.
inline void Activate(QWidget *window)
{
    window->activateWindow();
    QDeadlineTimer deadline(2000);
    while (QApplication::activeWindow() != window && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace driver
