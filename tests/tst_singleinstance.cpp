// The single-instance guard, in-process and with the built program; on both systems.
#include "SingleInstance.h"
#include "SystemErrors.h"
#include "WaitFor.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

namespace {

// True while someone else holds the guard of that name: a guard taken on another thread
// fails (a mutex is owned by a thread, a file lock by an open file, so this sees our own too).
bool LockHeld(const QString &name)
{
    bool held = false;
    std::thread([&] { held = !TSingleInstance(name).Acquire(); }).join();
    return held;
}

const QString ExeSuffix = QStringLiteral(KARVEN_EXE_SUFFIX);

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
        QCOMPARE(TSingleInstance::ExecutableName(), QStringLiteral("tst_singleinstance") + ExeSuffix);
        if (!TSingleInstance::LockPath(QStringLiteral("x")).contains(QLatin1Char('/')))
            QSKIP("the guard is no file on this system");
        QCOMPARE(TSingleInstance::LockPath(QStringLiteral("karven12t")),
                 runtimeDir.path() + QStringLiteral("/karven12t.lock"));
    }

    void secondGuardOfTheSameNameFails()
    {
        const QString name = QStringLiteral("guard-same");
        auto first = std::make_unique<TSingleInstance>(name);
        QVERIFY(first->Acquire());
        QVERIFY(first->Acquire());  // asking again keeps it
        QVERIFY(LockHeld(name));
        // A second guard of the name, as a second copy of the program has it.
        std::unique_ptr<TSingleInstance> second;
        bool secondAcquired = true;
        std::thread([&] {
            second = std::make_unique<TSingleInstance>(name);
            secondAcquired = second->Acquire();
        }).join();
        QVERIFY(!secondAcquired);
        QVERIFY(!second->Owned());
        // Another name is another guard.
        QVERIFY(!LockHeld(QStringLiteral("guard-other")));
        // Ending the first frees the name.
        first.reset();
        QVERIFY(!LockHeld(name));
        QVERIFY(second->Acquire());
    }

    void guardOfAnAdministratorsCopyStopsTheProgram()
    {
        const QString name = QStringLiteral("guard-administrator");
        const std::shared_ptr<void> other = GuardOfAnotherUser(TSingleInstance::LockPath(name));
        if (!other)
            QSKIP("no guard of another user on this system");
        TSingleInstance second(name);
        QVERIFY(!second.Acquire());
        QVERIFY(!second.Owned());
    }

    void unwritableDirectoryDoesNotStopTheProgram()
    {
        if (!TSingleInstance::LockPath(QStringLiteral("x")).contains(QLatin1Char('/')))
            QSKIP("the guard is no file on this system");
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
        const QString lock = QFileInfo(exe).fileName();
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

        // The same file started under another letter case, where file names ignore case: the
        // same program, which ends as quietly.
        const QFileInfo exeFile(exe);
        const QString otherCase = exeFile.path() + QLatin1Char('/') + exeFile.fileName().toUpper();
        if (QFileInfo::exists(otherCase)) {
            QProcess *shouted = Start(otherCase);
            QVERIFY(shouted->waitForFinished(30000));
            QCOMPARE(shouted->exitStatus(), QProcess::NormalExit);
            QCOMPARE(shouted->exitCode(), 0);
            QCOMPARE(first->state(), QProcess::Running);
        } else {
            qInfo("file names keep their letter case here: %s is no other name of the program", qPrintable(otherCase));
        }

        // A copy under another name runs beside the first.
        const QString renamed = runtimeDir.path() + QStringLiteral("/karven-renamed") + ExeSuffix;
        QVERIFY(QFile::copy(exe, renamed));
        QProcess *third = Start(renamed);
        QVERIFY(third->waitForStarted(10000));
        QVERIFY2(WaitFor([&] { return LockHeld(QFileInfo(renamed).fileName()); }, 30000),
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
