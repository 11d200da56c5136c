#pragma once
// Qt's own texts (standard buttons, the context menus of text fields) in the user's
// language, as every Qt program on the desktop shows them; the program's own texts are
// written in Russian and need no translation.

#include <QLocale>

// Replaces Qt's translation in use by the one for locale (none for a locale Qt has no
// translation for: its texts are then English). Returns whether one was loaded. At start
// the default locale is the user's.
bool InstallQtTranslation(const QLocale &locale = QLocale());
