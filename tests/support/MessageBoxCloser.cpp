#include "MessageBoxCloser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QTimer>

NextMessageBoxCloser::NextMessageBoxCloser(int timeoutMs)
{
    QObject::connect(&timer_, &QTimer::timeout, [this, deadline = QDeadlineTimer(timeoutMs)] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box || deadline.hasExpired())
            timer_.stop();
        if (box) {
            Text = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    timer_.start(20);
}

MessageBoxCollector::MessageBoxCollector(int pollMs)
{
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            Texts << box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    timer_.start(pollMs);
}
