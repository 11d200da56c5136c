#pragma once
// The user guide's HTML page, as the packages install it.

#include <QString>

// The guide's page for a program in programFolder: beside the program (the Windows
// packages), in the doc folder of the prefix it is installed in (the Debian package) or in
// doc/ of the build folder (a program run from its build), the first that exists; empty
// when there is none.
QString FindUserGuide(const QString &programFolder);
