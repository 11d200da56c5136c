#include "UserGuide.h"

#include <QDir>
#include <QFileInfo>

QString FindUserGuide(const QString &programFolder)
{
    // The build names the last two folders, relative to the program's own (CMakeLists.txt).
    const QDir folder(programFolder);
    for (const char *subfolder : {".", KARVEN_GUIDE_INSTALLED_DIR, KARVEN_GUIDE_BUILD_DIR}) {
        const QFileInfo page(folder.filePath(QString::fromUtf8(subfolder) + QStringLiteral("/guide.html")));
        if (page.isFile())
            return QDir::cleanPath(page.absoluteFilePath());
    }
    return {};
}
