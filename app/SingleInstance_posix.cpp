// The single-instance guard on Linux: flock on a file in the user's runtime directory.

#include "SingleInstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TSingleInstance::TSingleInstance(const QString &name) : name_(name) {}

TSingleInstance::~TSingleInstance()
{
    if (handle_ >= 0)
        ::close(int(handle_));  // closing drops the lock
}

QString TSingleInstance::ExecutableName()
{
    QString path = QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
    if (path.isEmpty())
        path = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    return QFileInfo(path).fileName();
}

QString TSingleInstance::LockPath(const QString &name)
{
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QFileInfo(dir).isDir() || !QFileInfo(dir).isWritable())
        dir = QDir::tempPath();
    return dir + QLatin1Char('/') + name + QStringLiteral(".lock");
}

bool TSingleInstance::Acquire()
{
    if (owned_)
        return true;
    const QByteArray path = QFile::encodeName(LockPath(name_));
    // Close-on-exec: a program started from here (the web browser) must not inherit the
    // lock and keep it after this process has ended.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return true;
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const bool heldElsewhere = errno == EWOULDBLOCK;
        ::close(fd);
        return !heldElsewhere;  // a file system without locks does not stop the program
    }
    handle_ = fd;
    owned_ = true;
    return true;
}
