#pragma once
// The user guide's HTML page, as the packages install it.

#include <QString>

#include <functional>

class QObject;
class QUrl;

// The guide's page for a program in programFolder: beside the program (the Windows
// packages), in the doc folder of the prefix it is installed in (the Debian package) or in
// doc/ of the build folder (a program run from its build), the first that exists; empty
// when there is none.
QString FindUserGuide(const QString &programFolder);

// Opens url with the system's opener. False when it could not be started; where the opener
// tells how it ended (xdg-open on Linux), failed() is called later when it could not open the
// page (no browser, a broken association). The opener's process belongs to owner.
bool OpenWithSystem(QObject *owner, const QUrl &url, std::function<void()> failed);
