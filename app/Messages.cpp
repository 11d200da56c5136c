#include "Messages.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {

QString BoxTitle()
{
    const QString name = QApplication::applicationDisplayName();
    return name.isEmpty() ? QStringLiteral("Карвен-12Т") : name;
}

void ShowBox(QMessageBox::Icon icon, QWidget *parent, const QString &text, const QString &details = QString())
{
    QMessageBox box(icon, BoxTitle(), text, QMessageBox::Ok, parent);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
}

bool reportOnScreen = false;

}  // namespace

void ShowWarning(QWidget *parent, const QString &text)
{
    ShowBox(QMessageBox::Warning, parent, text);
}

void ShowWarning(QWidget *parent, const QString &text, const QString &details)
{
    ShowBox(QMessageBox::Warning, parent, text, details);
}

void ShowInformation(QWidget *parent, const QString &text)
{
    ShowBox(QMessageBox::Information, parent, text);
}

bool AskQuestion(QWidget *parent, const QString &text, const QString &yes, const QString &no)
{
    QMessageBox box(QMessageBox::Question, BoxTitle(), text, QMessageBox::NoButton, parent);
    QPushButton *accept = box.addButton(yes, QMessageBox::AcceptRole);
    QPushButton *refuse = box.addButton(no, QMessageBox::RejectRole);
    box.setDefaultButton(refuse);
    box.setEscapeButton(refuse);
    box.exec();
    return box.clickedButton() == accept;
}

void InstallMessageBoxErrorSink()
{
    SetErrorSink([](const QString &text) {
        if (reportOnScreen)
            return;  // one report at a time; a further one is not stacked
        reportOnScreen = true;
        ShowBox(QMessageBox::Critical, QApplication::activeWindow(), text);
        reportOnScreen = false;
    });
}
