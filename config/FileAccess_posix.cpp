// Files on Linux: open, write, fsync and rename, the cause of a failure from errno.

#include "FileAccess.h"
#include "FileCalls.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <vector>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Links followed before the path is taken for a loop (the kernel's own limit).
constexpr int MaxLinks = 40;

QByteArray Native(const QString &path)
{
    return QFile::encodeName(path);
}

int OpenRetried(const QByteArray &path, int flags, mode_t mode = 0)
{
    int fd;
    do
        fd = ::open(path.constData(), flags | O_CLOEXEC | O_NOCTTY, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Writes all of data; 0, or the errno of the failure.
int WriteAll(int fd, const QByteArray &data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return n < 0 ? errno : EIO;
    }
    return 0;
}

QByteArray Folder(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

// Follows symbolic links from path to what they finally lead to, which need not exist yet;
// 0, or the errno that stops it (ELOOP for a loop).
int FollowLinks(QByteArray &path)
{
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0)
            return errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(st.st_mode))
            return 0;
        if (hops >= MaxLinks)
            return ELOOP;
        QByteArray target(qsizetype(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(path.constData(), target.data(), size_t(target.size()));
        if (n < 0)
            return errno;
        target.truncate(n);
        path = target.startsWith('/') ? target : Folder(path) + '/' + target;
    }
}

void SyncFolder(const QByteArray &folder)
{
    const int fd = OpenRetried(folder, O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The bytes under a temporary name beside target, on the disk, then renamed over it.
TFileFailure Replace(const QByteArray &target, const QByteArray &bytes, const struct stat *old)
{
    const QByteArray folder = Folder(target);
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = folder + "/.karven-" + QByteArray::number(QRandomGenerator::system()->generate64(), 36) + ".tmp";
        // Kept private until it carries the earlier file's mode; a new file gets the umask's.
        fd = OpenRetried(temporary, O_WRONLY | O_CREAT | O_EXCL, old ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            return FileFailureOf(errno);
    }
    if (fd < 0)
        return FileFailureOf(EEXIST);

    int err = WriteAll(fd, bytes);
    if (!err && old) {
        // The owner first: a change of owner clears the set-id bits that the mode then sets.
        if (::fchown(fd, old->st_uid, old->st_gid) != 0) {
            [[maybe_unused]] const int groupOnly = ::fchown(fd, uid_t(-1), old->st_gid);
        }
        if (::fchmod(fd, old->st_mode & 07777) != 0)
            err = errno;
    }
    if (!err && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && !err && errno != EINTR)
        err = errno;
    if (!err && ::rename(temporary.constData(), target.constData()) != 0)
        err = errno;
    if (err) {
        ::unlink(temporary.constData());
        return FileFailureOf(err);
    }
    SyncFolder(folder);
    return {};
}

TFileFailure WriteInto(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = OpenRetried(path, O_WRONLY);
    if (fd < 0)
        return FileFailureOf(errno);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        // It became a regular file since it was looked at: that is replaced, never cut.
        ::close(fd);
        QByteArray target = path;
        if (const int err = FollowLinks(target))
            return FileFailureOf(err);
        return Replace(target, bytes, &st);
    }
    int err = WriteAll(fd, bytes);
    if (::close(fd) != 0 && !err && errno != EINTR)
        err = errno;
    return err ? FileFailureOf(err) : TFileFailure{};
}

}  // namespace

QString SystemErrorText(int systemError)
{
    return qt_error_string(systemError);
}

const QList<TFileErrorCauses> &SystemFileErrorCauses()
{
    using C = TFileCause;
    static const QList<TFileErrorCauses> causes = {
        {{ENOSPC, EDQUOT, EFBIG}, C::NoSpace},
        {{EACCES, EPERM}, C::NoPermission},
        {{EROFS}, C::ReadOnly},
        {{ENAMETOOLONG, EILSEQ}, C::BadName},
        {{EISDIR}, C::IsFolder},
        {{ENOENT, ENOTDIR}, C::NoFolder},
        {{ELOOP}, C::LinkLoop},
    };
    return causes;
}

bool WritesInto(const QString &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(Native(path).constData(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

QString GroupLostOnReplace(const QString &path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(Native(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return QString();
    if (::geteuid() == 0 || st.st_gid == ::getegid())
        return QString();
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(size_t(std::max(count, 0)));
    if (count > 0 && ::getgroups(count, groups.data()) == count
        && std::find(groups.begin(), groups.end(), st.st_gid) != groups.end())
        return QString();
    const struct group *entry = ::getgrgid(st.st_gid);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(st.st_gid);
}

TFileFailure WriteFileWhole(const QString &path, const QByteArray &bytes)
{
    if (path.isEmpty())
        return FileFailureOf(ENOENT);
    QByteArray target = Native(path);
    struct stat st {};
    const bool exists = ::stat(target.constData(), &st) == 0;
    if (!exists && errno != ENOENT)
        return FileFailureOf(errno);
    if (exists && S_ISDIR(st.st_mode))
        return FileFailureOf(EISDIR);
    if (exists && !S_ISREG(st.st_mode))
        return WriteInto(target, bytes);
    if (const int err = FollowLinks(target))
        return FileFailureOf(err);
    return Replace(target, bytes, exists ? &st : nullptr);
}

TFileFailure TRecordFile::Open(const QString &path)
{
    Close();
    const QByteArray native = Native(path);
    struct stat before {};
    const bool existed = ::stat(native.constData(), &before) == 0;
    const int fd = path.isEmpty() ? (errno = ENOENT, -1) : OpenRetried(native, O_WRONLY | O_CREAT | O_APPEND, 0666);
    if (fd < 0)
        return FileFailureOf(errno);
    struct stat st {};
    ::fstat(fd, &st);
    if (!existed)
        SyncFolder(Folder(native));
    handle_ = fd;
    size_ = S_ISREG(st.st_mode) ? qint64(st.st_size) : 0;
    path_ = path;
    return {};
}

intptr_t OpenToRead(const QString &path, TFileFailure &failure)
{
    const int fd = path.isEmpty() ? (errno = ENOENT, -1) : OpenRetried(Native(path), O_RDONLY);
    if (fd < 0)
        failure = FileFailureOf(errno);
    return fd;
}

TFileFailure ReadSome(intptr_t handle, char *buffer, qint64 size, qint64 &got)
{
    for (;;) {
        const ssize_t n = ::read(int(handle), buffer, size_t(size));
        if (n >= 0) {
            got = n;
            return {};
        }
        if (errno != EINTR)
            return FileFailureOf(errno);
    }
}

void CloseFile(intptr_t handle)
{
    ::close(int(handle));
}

TFileFailure WriteRowAt(intptr_t handle, qint64, const QByteArray &row)
{
    // Opened for appending: the row goes after the last whole one.
    const int fd = int(handle);
    int err = WriteAll(fd, row);
    if (!err && ::fsync(fd) != 0 && errno != EINVAL)
        err = errno;
    return err ? FileFailureOf(err) : TFileFailure{};
}

void CutBackTo(intptr_t handle, qint64 size)
{
    [[maybe_unused]] const int cut = ::ftruncate(int(handle), size);
}

TFileFailure NotOpenFailure()
{
    return FileFailureOf(EBADF);
}
