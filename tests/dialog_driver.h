#pragma once
// Drives modal dialogs from a test: a timer waits for the modal widget, then acts on it
// the way a user would.

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

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
