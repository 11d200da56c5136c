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
    return AskQuestion(parent, text, yes, no, QString());
}

bool AskQuestion(QWidget *parent, const QString &text, const QString &yes, const QString &no, const QString &details)
{
    QMessageBox box(QMessageBox::Question, BoxTitle(), text, QMessageBox::NoButton, parent);
    QPushButton *accept = box.addButton(yes, QMessageBox::AcceptRole);
    QPushButton *refuse = box.addButton(no, QMessageBox::RejectRole);
    box.setDefaultButton(refuse);
    box.setEscapeButton(refuse);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
    return box.clickedButton() == accept;
}

int AskChoice(QWidget *parent, const QString &text, const QStringList &answers)
{
    QMessageBox box(QMessageBox::Question, BoxTitle(), text, QMessageBox::NoButton, parent);
    QList<QPushButton *> buttons;
    for (int i = 0; i < answers.size(); ++i)
        buttons << box.addButton(answers[i], i + 1 < answers.size() ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
    box.setDefaultButton(buttons.last());
    box.setEscapeButton(buttons.last());
    box.exec();
    const int chosen = int(buttons.indexOf(qobject_cast<QPushButton *>(box.clickedButton())));
    return chosen < 0 ? int(answers.size()) - 1 : chosen;
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
