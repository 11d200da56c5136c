// Port descriptions and failure causes on Linux: sysfs, /dev, /proc and errno.

#include "PortCalls.h"
#include "PortInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

QString ReadLine(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readLine(256)).trimmed();
}

bool IsPtyPath(const QString &path)
{
    static const QRegularExpression ptsPath(QStringLiteral("^/dev/pts/[0-9]+$"));
    return ptsPath.match(path).hasMatch();
}

// Whether the open file a process's descriptor leads to (st) is the device port (the port's
// own node). A pseudo-terminal's number is only its own within one instance of the pts
// file system: a container or a mount namespace with an instance of its own has a
// /dev/pts/3 of its own too, with the same device number, so there the file system counts.
bool SameDevice(const struct stat &st, const struct stat &port)
{
    constexpr unsigned PtySlaveFirstMajor = 136, PtySlaveLastMajor = 143;
    const bool pty = major(port.st_rdev) >= PtySlaveFirstMajor && major(port.st_rdev) <= PtySlaveLastMajor;
    return S_ISCHR(st.st_mode) && st.st_rdev == port.st_rdev && (!pty || st.st_dev == port.st_dev);
}

// The USB device (the folder with idVendor) that dir sits under, up to sysRoot; empty if none.
QString UsbDeviceAbove(QString dir, const QString &sysRoot)
{
    const QString top = QFileInfo(sysRoot).canonicalFilePath();
    while (!dir.isEmpty() && dir != top && dir != QLatin1String("/")) {
        if (QFileInfo::exists(dir + QStringLiteral("/idVendor")))
            return dir;
        dir = QFileInfo(dir).path();
    }
    return {};
}

QString ByIdLink(const QString &devRoot, const QString &target)
{
    if (target.isEmpty())
        return {};
    const QDir byId(devRoot + QStringLiteral("/serial/by-id"));
    const QFileInfoList links = byId.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &link : links)
        if (link.isSymLink() && link.canonicalFilePath() == target)
            return link.absoluteFilePath();
    return {};
}

}  // namespace

QString PortDevicePath(const QString &name)
{
    return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

QList<TPortDescription> DescribePorts(const QStringList &names, const QString &sysRoot, const QString &devRoot)
{
    QList<TPortDescription> all;
    for (const QString &name : names)
        all << DescribePort(name, sysRoot, devRoot);
    return all;
}

TPortDescription DescribePort(const QString &name, const QString &sysRoot, const QString &devRoot)
{
    TPortDescription d;
    d.Name = name;
    d.Path = name.startsWith(QLatin1Char('/')) ? name : devRoot + QLatin1Char('/') + name;
    const QFileInfo node(d.Path);
    const QString target = node.canonicalFilePath();
    if (IsPtyPath(target)) {
        d.Kind = TPortKind::Virtual;
        d.Pty = target;
        return d;
    }

    // A link elsewhere (a udev alias) is described as the tty it leads to.
    const QString tty = QFileInfo(target.isEmpty() ? d.Path : target).fileName();
    const QString ttyDir = sysRoot + QStringLiteral("/class/tty/") + tty;
    const QFileInfo device(ttyDir + QStringLiteral("/device"));
    if (!device.exists())
        return d;
    const QString deviceDir = device.canonicalFilePath();
    d.Driver = QFileInfo(QFileInfo(deviceDir + QStringLiteral("/driver")).canonicalFilePath()).fileName();

    const QString usb = UsbDeviceAbove(deviceDir, sysRoot);
    if (usb.isEmpty()) {
        d.Kind = TPortKind::BoardUart;
        return d;
    }
    d.Kind = TPortKind::UsbAdapter;
    d.Maker = ReadLine(usb + QStringLiteral("/manufacturer"));
    if (d.Maker.isEmpty())
        d.Maker = QStringLiteral("VID ") + ReadLine(usb + QStringLiteral("/idVendor"));
    d.Product = ReadLine(usb + QStringLiteral("/product"));
    if (d.Product.isEmpty())
        d.Product = QStringLiteral("PID ") + ReadLine(usb + QStringLiteral("/idProduct"));
    d.Serial = ReadLine(usb + QStringLiteral("/serial"));
    d.ById = ByIdLink(devRoot, target);
    return d;
}

const QList<TPortErrorCauses> &SystemPortErrorCauses()
{
    using C = TPortCause;
    static const QList<TPortErrorCauses> causes = {
        {{ENOENT, ENODEV}, C::NoSuchPort, C::NoSuchPort},
        {{ENXIO}, C::NoDevice, C::Gone},
        // a tty that has been hung up: the adapter was pulled out, the pty's other end closed
        {{EIO}, C::NoLine, C::Gone},
        {{EACCES, EPERM}, C::NoPermission, C::NoPermission},
        // another opener's exclusive use; its lock (EAGAIN too)
        {{EBUSY, EWOULDBLOCK}, C::Busy, C::Busy},
        {{EISDIR}, C::IsFolder, C::IsFolder},
        {{ENOTTY}, C::NotSerial, C::NotSerial},
        {{EINVAL}, C::BadSettings, C::BadSettings},
    };
    return causes;
}

QStringList PortHolders(const QString &path)
{
    struct stat dev{};
    if (::stat(QFile::encodeName(path).constData(), &dev) != 0 || !S_ISCHR(dev.st_mode))
        return {};
    const qint64 self = ::getpid();
    QList<qint64> pids;

    // Locks first: whoever holds the lock is who keeps us out.
    QFile locks(QStringLiteral("/proc/locks"));
    if (locks.open(QIODevice::ReadOnly)) {
        const QString where = QStringLiteral("%1:%2:%3")
                                  .arg(major(dev.st_dev), 2, 16, QLatin1Char('0'))
                                  .arg(minor(dev.st_dev), 2, 16, QLatin1Char('0'))
                                  .arg(quint64(dev.st_ino));
        for (const QByteArray &line : locks.readAll().split('\n')) {
            const QStringList f = QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const qsizetype kind = f.indexOf(QStringLiteral("FLOCK"));
            if (kind < 1 || f.value(1) == QLatin1String("->") || f.value(kind + 4) != where)
                continue;
            // The lock names the process that took it, which may have ended since and
            // left the lock to a child: those are found below by their descriptors.
            const qint64 pid = f.value(kind + 3).toLongLong();
            if (pid > 0 && pid != self && !pids.contains(pid) && QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)))
                pids << pid;
        }
    }
    // Else every process that has the device open.
    if (pids.isEmpty()) {
        const QStringList procs = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &proc : procs) {
            bool numeric = false;
            const qint64 pid = proc.toLongLong(&numeric);
            if (!numeric || pid == self)
                continue;
            const QString fdDir = QStringLiteral("/proc/") + proc + QStringLiteral("/fd");
            const QStringList fds = QDir(fdDir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
            for (const QString &fd : fds) {
                struct stat st{};
                if (::stat(QFile::encodeName(fdDir + QLatin1Char('/') + fd).constData(), &st) == 0 && SameDevice(st, dev)) {
                    pids << pid;
                    break;
                }
            }
        }
    }

    QStringList holders;
    for (const qint64 pid : pids) {
        const QString name = ReadLine(QStringLiteral("/proc/%1/comm").arg(pid));
        holders << QStringLiteral("%1 (pid %2)").arg(name.isEmpty() ? QStringLiteral("?") : name).arg(pid);
    }
    return holders;
}

namespace {

// The pseudo-terminal index of each master descriptor that process pid holds.
QList<int> PtyMastersOf(const QString &pid)
{
    QList<int> indexes;
    const QString dir = QStringLiteral("/proc/%1/fdinfo").arg(pid);
    for (const QString &fd : QDir(dir).entryList(QDir::Files)) {
        QFile info(dir + QLatin1Char('/') + fd);
        if (!info.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : info.read(4096).split('\n'))
            if (line.startsWith("tty-index:"))
                indexes << line.mid(10).trimmed().toInt();
    }
    return indexes;
}

}  // namespace

QStringList PortSharers(const QString &path)
{
    struct stat dev{};
    if (::stat(QFile::encodeName(path).constData(), &dev) != 0 || !S_ISCHR(dev.st_mode))
        return {};
    const QString target = QFileInfo(path).canonicalFilePath();
    // Every opening of the multiplexer is a pseudo-terminal of its own: nobody shares it.
    if (target == QLatin1String("/dev/ptmx") || target == QLatin1String("/dev/pts/ptmx"))
        return {};
    const bool pty = IsPtyPath(target);
    const int ptyIndex = pty ? target.mid(9).toInt() : -1;
    const QString self = QString::number(::getpid());
    QStringList sharers;
    const QStringList procs = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &proc : procs) {
        bool numeric = false;
        proc.toLongLong(&numeric);
        if (!numeric || proc == self)
            continue;
        const QString fdDir = QStringLiteral("/proc/") + proc + QStringLiteral("/fd");
        const QStringList fds = QDir(fdDir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        const bool holds = std::any_of(fds.begin(), fds.end(), [&](const QString &fd) {
            struct stat st{};
            return ::stat(QFile::encodeName(fdDir + QLatin1Char('/') + fd).constData(), &st) == 0 && SameDevice(st, dev);
        });
        if (!holds || (pty && PtyMastersOf(proc).contains(ptyIndex)))
            continue;
        const QString name = ReadLine(QStringLiteral("/proc/%1/comm").arg(proc));
        sharers << QStringLiteral("%1 (pid %2)").arg(name.isEmpty() ? QStringLiteral("?") : name, proc);
    }
    return sharers;
}

QString SystemErrorNote(int err)
{
    const char *name = strerrorname_np(err);
    return QStringLiteral("%1 (%2)").arg(name ? QString::fromLatin1(name) : QString::number(err),
                                         QString::fromLocal8Bit(std::strerror(err)));
}
