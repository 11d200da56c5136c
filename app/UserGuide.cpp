#include "UserGuide.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

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

bool OpenWithSystem(QObject *owner, const QUrl &url, std::function<void()> failed)
{
#if defined(Q_OS_LINUX)
    // Qt starts xdg-open detached and takes its start for success; its exit status tells
    // whether a browser took the page.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!opener.isEmpty()) {
        auto *process = new QProcess(owner);
        QObject::connect(process, &QProcess::finished, process, [process, failed](int code, QProcess::ExitStatus status) {
            if ((status != QProcess::NormalExit || code != 0) && failed)
                failed();
            process->deleteLater();
        });
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        process->start(opener, {url.toString(QUrl::FullyEncoded)});
        if (process->waitForStarted())
            return true;
        delete process;
        return false;
    }
#endif
    Q_UNUSED(owner);
    Q_UNUSED(failed);
    return QDesktopServices::openUrl(url);
}
