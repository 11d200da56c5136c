#include "MainForm.h"
#include "Messages.h"
#include "QtTranslation.h"
#include "SingleInstance.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // The title used by the message boxes. Set as the application's name rather than its
    // display name, which some window systems append to every window's caption.
    QApplication::setApplicationName(QStringLiteral("Карвен-12Т"));
    InstallQtTranslation();

    InstallMessageBoxErrorSink();

    TSingleInstance guard(TSingleInstance::ExecutableName());
    if (!guard.Acquire())
        return 0;  // another copy runs: end quietly

    TForm1 form;
    if (!form.CreatedOk())
        return 1;
    form.show();
    return app.exec();
}
