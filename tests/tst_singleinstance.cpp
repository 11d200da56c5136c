// The single-instance guard, in-process and with the built program.
#include "SingleInstance.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// True while some process holds the lock file at path.
bool LockHeld(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

bool WaitFor(const std::function<bool()> &condition, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

}  // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

    QTemporaryDir runtimeDir;
    QList<QProcess *> started;

    QProcess *Start(const QString &program)
    {
        auto *p = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
        p->setProcessEnvironment(env);
        p->setProgram(program);
        p->start();
        started << p;
        return p;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(runtimeDir.isValid());
        // Lock files go to the runtime directory; this keeps the test away from a copy of the
        // program that a person may be running.
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
    }
    void cleanupTestCase()
    {
        for (QProcess *p : started) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(10000);
            }
        }
    }

    void lockPathFollowsName()
    {
        QCOMPARE(TSingleInstance::LockPath(QStringLiteral("karven12t")),
                 runtimeDir.path() + QStringLiteral("/karven12t.lock"));
        QCOMPARE(TSingleInstance::ExecutableName(), QStringLiteral("tst_singleinstance"));
    }

    void secondGuardOfTheSameNameFails()
    {
        const QString name = QStringLiteral("guard-same");
        auto first = std::make_unique<TSingleInstance>(name);
        QVERIFY(first->Acquire());
        QVERIFY(first->Acquire());  // asking again keeps it
        QVERIFY(LockHeld(TSingleInstance::LockPath(name)));
        TSingleInstance second(name);
        QVERIFY(!second.Acquire());
        QVERIFY(!second.Owned());
        // Another name is another guard.
        TSingleInstance other(QStringLiteral("guard-other"));
        QVERIFY(other.Acquire());
        // Ending the first frees the name.
        first.reset();
        QVERIFY(!LockHeld(TSingleInstance::LockPath(name)));
        QVERIFY(second.Acquire());
    }

    void unwritableDirectoryDoesNotStopTheProgram()
    {
        // Without a usable runtime directory the temp directory is used.
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", "/nonexistent/dir");
        const QString path = TSingleInstance::LockPath(QStringLiteral("x"));
        qputenv("XDG_RUNTIME_DIR", saved);
        QCOMPARE(path, QDir::tempPath() + QStringLiteral("/x.lock"));
    }

    void secondCopyOfTheProgramEndsQuietly()
    {
        const QString exe = QStringLiteral(KARVEN_APP_EXE);
        const QString lock = runtimeDir.path() + QLatin1Char('/') + QFileInfo(exe).fileName()
                           + QStringLiteral(".lock");
        QProcess *first = Start(exe);
        QVERIFY(first->waitForStarted(10000));
        QVERIFY2(WaitFor([&] { return LockHeld(lock); }, 30000), "first copy never took its lock");

        QElapsedTimer clock;
        clock.start();
        QProcess *second = Start(exe);
        QVERIFY(second->waitForFinished(30000));
        const qint64 ms = clock.elapsed();
        qInfo("second copy ended after %lld ms", ms);
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(second->readAllStandardOutput().isEmpty());
        QVERIFY(second->readAllStandardError().isEmpty());
        QCOMPARE(first->state(), QProcess::Running);

        // A copy under another name runs beside the first.
        const QString renamed = runtimeDir.path() + QStringLiteral("/karven-renamed");
        QVERIFY(QFile::copy(exe, renamed));
        QProcess *third = Start(renamed);
        QVERIFY(third->waitForStarted(10000));
        QVERIFY2(WaitFor([&] { return LockHeld(renamed + QStringLiteral(".lock")); }, 30000),
                 "renamed copy never took its lock");
        QCOMPARE(third->state(), QProcess::Running);
        QCOMPARE(first->state(), QProcess::Running);

        // The system frees the lock when the process dies, even when killed.
        first->kill();
        QVERIFY(first->waitForFinished(10000));
        QVERIFY(WaitFor([&] { return !LockHeld(lock); }, 10000));
        third->kill();
        QVERIFY(third->waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
