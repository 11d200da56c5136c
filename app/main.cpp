#include "MainForm.h"
#include "Messages.h"
#include "ProgramIdentity.h"
#include "QtTranslation.h"
#include "SingleInstance.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    SetProgramIdentity();
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
