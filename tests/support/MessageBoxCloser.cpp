#include "MessageBoxCloser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

void CloseNextMessageBox(QString *text)
{
    auto *timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, text] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            *text = box->text();
            timer->stop();
            timer->deleteLater();
            box->button(QMessageBox::Ok)->click();
        }
    });
    timer->start();
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
