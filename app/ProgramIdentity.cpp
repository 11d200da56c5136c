#include "ProgramIdentity.h"

#include <QApplication>
#include <QIcon>

void SetProgramIdentity()
{
    // The title used by the message boxes. Set as the application's name rather than its
    // display name, which some window systems append to every window's caption.
    QApplication::setApplicationName(QStringLiteral("Карвен-12Т"));
    // The desktop entry: the docks of Wayland desktops find the program's name and icon
    // there, and group its windows under it.
    QGuiApplication::setDesktopFileName(QStringLiteral("ru.karven.karven12t"));
    // The icon every window carries, for the task bars of X11 (rendered from the same
    // drawing as the icon the desktop entry names).
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128})
        icon.addFile(QStringLiteral(":/icons/%1x%1/ru.karven.karven12t.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
}
