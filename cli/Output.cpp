#include "Output.h"

#include "Causes.h"
#include "Console.h"
#include "FileAccess.h"

#include <QEventLoop>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// A write to standard output failed or was cut short: nothing more is tried.
bool outputFailed = false;

[[noreturn]] void OutputFails(int err)
{
    outputFailed = true;
    throw TOutputFailure(QStringLiteral("standard output: %1").arg(FileCause(err)), err == EPIPE);
}

[[noreturn]] void Interrupted(const QString &what)
{
    const TInterruptWatch *watch = TInterruptWatch::Live();
    throw TInterruptedRun(watch ? watch->ExitStatus() : ExitUsage,
                          QStringLiteral("%1: interrupted by %2").arg(what, watch ? watch->What() : QString()));
}

// Writes into a standard stream the process has open; 0 or the C library's error number.
int WriteIntoStream(int fd, const QByteArray &bytes, const QString &what)
{
    auto err = std::make_shared<int>(0);
    if (!RunUnlessInterrupted([fd, bytes, err] { *err = WriteStream(fd, bytes); }))
        Interrupted(what);
    return *err;
}

}  // namespace

bool RunUnlessInterrupted(std::function<void()> call)
{
    const TInterruptWatch *watch = TInterruptWatch::Live();
    if (!watch) {
        call();
        return true;
    }
    if (watch->Requested())
        return false;
    // What the thread shares with the wait; the thread may outlive it.
    struct TShared {
        std::mutex Mutex;
        QEventLoop *Loop = nullptr;
        bool Done = false;
    };
    auto shared = std::make_shared<TShared>();
    QEventLoop loop;
    shared->Loop = &loop;
    const auto connection = QObject::connect(watch, &TInterruptWatch::requested, &loop, &QEventLoop::quit);
    std::thread([shared, call = std::move(call)] {
        call();
        const std::lock_guard lock(shared->Mutex);
        shared->Done = true;
        if (shared->Loop)
            QMetaObject::invokeMethod(shared->Loop, &QEventLoop::quit, Qt::QueuedConnection);
    }).detach();
    loop.exec();
    QObject::disconnect(connection);
    const std::lock_guard lock(shared->Mutex);
    shared->Loop = nullptr;
    return shared->Done;
}

void WriteOutput(const QByteArray &bytes)
{
    if (outputFailed)
        throw TOutputFailure(QStringLiteral("standard output failed before"), false);
    if (bytes.isEmpty())
        return;
    if (!StandardOutputOpen())
        OutputFails(EBADF);
    int err = 0;
    try {
        err = WriteIntoStream(1, bytes, QStringLiteral("standard output"));
    } catch (const TInterruptedRun &) {
        outputFailed = true;
        throw;
    }
    if (err)
        OutputFails(err);
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

void WriteOutputFile(const QString &path, const QByteArray &bytes)
{
    auto fail = [&](const QString &reason) {
        throw TCliFailure(ExitUsage, QStringLiteral("%1: cannot write: %2").arg(path, reason));
    };
    const QString what = QStringLiteral("%1: cannot write").arg(path);
    if (const int stream = StandardStreamOf(path); stream == 1) {
        WriteOutput(bytes);
        return;
    } else if (stream >= 0) {
        if (const int err = WriteIntoStream(stream, bytes, what))
            fail(FileCause(err));
        return;
    }
    TFileFailure failure;
    if (WritesInto(path)) {
        // A FIFO waits for its reader, a pipe for room.
        auto shared = std::make_shared<TFileFailure>();
        if (!RunUnlessInterrupted([path, bytes, shared] { *shared = WriteFileWhole(path, bytes); }))
            Interrupted(what);
        failure = *shared;
    } else {
        failure = WriteFileWhole(path, bytes);
    }
    if (failure.Failed() && !failure.WrittenTo.isEmpty())
        fail(QStringLiteral("%1; the earlier file is gone from its name, the new text is in %2")
                 .arg(FileCauseText(failure), failure.WrittenTo));
    if (failure.Failed())
        fail(FileCauseText(failure));
}
