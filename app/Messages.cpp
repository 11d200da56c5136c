#include "Messages.h"

#include <QApplication>
#include <QMessageBox>

namespace {

QString BoxTitle()
{
    const QString name = QApplication::applicationDisplayName();
    return name.isEmpty() ? QStringLiteral("Карвен-12Т") : name;
}

void ShowBox(QMessageBox::Icon icon, QWidget *parent, const QString &text)
{
    QMessageBox box(icon, BoxTitle(), text, QMessageBox::Ok, parent);
    box.exec();
}

bool reportOnScreen = false;

}  // namespace

void ShowWarning(QWidget *parent, const QString &text)
{
    ShowBox(QMessageBox::Warning, parent, text);
}

void ShowInformation(QWidget *parent, const QString &text)
{
    ShowBox(QMessageBox::Information, parent, text);
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
