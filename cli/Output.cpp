#include "Output.h"

#include "Causes.h"
#include "Console.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>

namespace {

bool outputFailed = false;

[[noreturn]] void OutputFails(int err)
{
    outputFailed = true;
    throw TOutputFailure(QStringLiteral("standard output: %1").arg(FileCause(err)), err == EPIPE);
}

// When path leads to something other than a regular file that exists (a FIFO, a terminal,
// a device, or a name of the system's devices and open streams such as /dev/stdout or NUL),
// the path that opens it; empty for a file.
QString WrittenStraightInto(const QString &path)
{
    const QString device = DevicePath(path);
    if (!device.isEmpty())
        return device;
    const QFileInfo target(path);
    return target.exists() && !target.isFile() && !target.isDir() ? path : QString();
}

}  // namespace

void WriteOutput(const QByteArray &bytes)
{
    if (outputFailed)
        throw TOutputFailure(QStringLiteral("standard output failed before"), false);
    if (!StandardOutputOpen())
        OutputFails(EBADF);
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()) || std::fflush(stdout) != 0) {
        const int err = FailedWriteError(errno);
        std::clearerr(stdout);
        OutputFails(err);
    }
}

void WriteOutput(const QString &text)
{
    WriteOutput(text.toUtf8());
}

void CloseOutput()
{
    if (outputFailed)
        return;
    errno = 0;
    if (std::fflush(stdout) != 0 || std::fclose(stdout) != 0)
        OutputFails(FailedWriteError(errno));
}

void WriteFileWhole(const QString &path, const QByteArray &bytes)
{
    auto fail = [&](const QString &reason) {
        throw TCliFailure(ExitUsage, QStringLiteral("%1: cannot write: %2").arg(path, reason));
    };
    if (const QString straight = WrittenStraightInto(path); !straight.isEmpty()) {
        QFile file(straight);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            fail(file.errorString());
        if (file.write(bytes) != bytes.size())
            fail(file.errorString());
        file.close();
        if (file.error() != QFileDevice::NoError)
            fail(file.errorString());
        return;
    }
    if (QFileInfo(path).isDir())
        fail(FileCause(EISDIR));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        fail(file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        fail(reason);
    }
    if (!file.commit())
        fail(file.errorString());
}
