// Files as both programs keep them: a whole file written only once all of it is on the disk,
// the earlier file kept whole on any failure, nothing left beside it; a record that holds
// whole rows only. Under Wine the files live on Z:, the Linux side of the system.
#include "FileAccess.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#endif

namespace {

QByteArray Content(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

void Put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

#ifdef Q_OS_UNIX
// While it lives, a file may grow to `bytes` and no further: a write beyond fails as on a
// full disk (SIGXFSZ ignored), with no root needed.
class TSizeLimit {
public:
    explicit TSizeLimit(rlim_t bytes)
    {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }

private:
    rlimit saved_{};
};
#endif

}  // namespace

class TestFileAccess : public QObject {
    Q_OBJECT

    // Under Wine: the Linux side, through a Z: path as a user's dialog gives it.
    static QString Folder() { return QDir(QStringLiteral("Z:/tmp")).exists() ? QStringLiteral("Z:/tmp") : QDir::tempPath(); }

private slots:
    void writeWhole_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("cause");
        QTest::addColumn<QByteArray>("after");  // the target's content after the write
        QTest::addColumn<QStringList>("entries");  // what the folder holds after
        const QByteArray now(10000, 'n'), old("old");
        using C = TFileCause;
        QTest::newRow("a new file") << "new" << int(C::None) << now << QStringList{"t"};
        QTest::newRow("an existing file") << "file" << int(C::None) << now << QStringList{"t"};
        QTest::newRow("a folder") << "folder" << int(C::IsFolder) << QByteArray("(none)") << QStringList{"t"};
        QTest::newRow("a missing folder") << "missing folder" << int(C::NoFolder) << QByteArray("(none)") << QStringList{};
#ifdef Q_OS_UNIX
        QTest::newRow("mode 0000 kept") << "mode 0000" << int(C::None) << now << QStringList{"t"};
        QTest::newRow("mode and owner kept") << "owner" << int(C::None) << now << QStringList{"t"};
        QTest::newRow("through a link") << "link" << int(C::None) << now << QStringList{"l", "t"};
        QTest::newRow("a dangling link") << "dangling" << int(C::None) << now << QStringList{"l", "t"};
        QTest::newRow("a link loop") << "loop" << int(C::LinkLoop) << QByteArray("(none)") << QStringList{"l", "t"};
        QTest::newRow("a FIFO is written into") << "fifo" << int(C::None) << QByteArray() << QStringList{"t"};
        QTest::newRow("full disk, an earlier file") << "full" << int(C::NoSpace) << old << QStringList{"t"};
        QTest::newRow("full disk, a new file") << "full new" << int(C::NoSpace) << QByteArray("(none)") << QStringList{};
#endif
    }
    void writeWhole()
    {
        QFETCH(QString, situation);
        QFETCH(int, cause);
        QFETCH(QByteArray, after);
        QFETCH(QStringList, entries);
        QTemporaryDir dir(Folder() + QStringLiteral("/karven-files-XXXXXX"));
        QVERIFY(dir.isValid());
        const QString target = dir.filePath(QStringLiteral("t"));
        QString path = target;
        const QByteArray bytes(10000, 'n');
        if (situation != QLatin1String("new") && situation != QLatin1String("full new") && situation != QLatin1String("dangling")
            && situation != QLatin1String("loop") && situation != QLatin1String("missing folder"))
            Put(target, "old");
        if (situation == QLatin1String("folder")) {
            QVERIFY(QFile::remove(target));
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("t")));
        } else if (situation == QLatin1String("missing folder")) {
            path = dir.filePath(QStringLiteral("none/t"));
        }
#ifdef Q_OS_UNIX
        struct stat before {};
        const QByteArray native = QFile::encodeName(target);
        const bool root = ::geteuid() == 0;
        if (situation == QLatin1String("mode 0000")) {
            QCOMPARE(::chmod(native.constData(), 0), 0);
        } else if (situation == QLatin1String("owner")) {
            if (root)
                QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
            QCOMPARE(::chmod(native.constData(), 02751), 0);
        } else if (situation == QLatin1String("link") || situation == QLatin1String("dangling")) {
            path = dir.filePath(QStringLiteral("l"));
            QVERIFY(QFile::link(QStringLiteral("t"), path));
        } else if (situation == QLatin1String("loop")) {
            path = dir.filePath(QStringLiteral("l"));
            QVERIFY(QFile::link(QStringLiteral("t"), path));
            QVERIFY(QFile::link(QStringLiteral("l"), target));
        } else if (situation == QLatin1String("fifo")) {
            QVERIFY(QFile::remove(target));
            QCOMPARE(::mkfifo(native.constData(), 0644), 0);
        }
        ::stat(native.constData(), &before);
        QByteArray read;
        std::thread reader;
        if (situation == QLatin1String("fifo"))
            reader = std::thread([&] { read = Content(target); });
        const bool full = situation.startsWith(QLatin1String("full"));
        const TFileFailure failure = [&] {
            if (!full)
                return WriteFileWhole(path, bytes);
            const TSizeLimit limit(4096);
            return WriteFileWhole(path, bytes);
        }();
        if (reader.joinable()) {
            reader.join();
            QCOMPARE(read, bytes);
        }
#else
        const TFileFailure failure = WriteFileWhole(path, bytes);
#endif
        QCOMPARE(int(failure.Cause), cause);
        QCOMPARE(failure.Failed(), cause != int(TFileCause::None));
        if (situation != QLatin1String("fifo") && situation != QLatin1String("folder"))
            QCOMPARE(Content(target), after);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot), entries);
#ifdef Q_OS_UNIX
        struct stat now {};
        ::lstat(native.constData(), &now);
        if (situation == QLatin1String("fifo"))
            QVERIFY(S_ISFIFO(now.st_mode));
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (situation == QLatin1String("new"))
            QCOMPARE(now.st_mode & 07777, 0666 & ~mask);
        if (situation == QLatin1String("mode 0000") || situation == QLatin1String("owner") || situation == QLatin1String("link")) {
            QCOMPARE(now.st_mode & 07777, before.st_mode & 07777);
            QCOMPARE(now.st_uid, before.st_uid);
            QCOMPARE(now.st_gid, before.st_gid);
            QVERIFY(now.st_ino != before.st_ino);  // replaced, not written over
        }
        if (situation == QLatin1String("link") || situation == QLatin1String("dangling"))
            QVERIFY(QFileInfo(path).isSymLink());
#endif
    }

    // A record holds whole rows: each row is on the disk when Append returns, and one that
    // does not fit is taken back.
    void recordFile()
    {
        QTemporaryDir dir(Folder() + QStringLiteral("/karven-files-XXXXXX"));
        const QString path = dir.filePath(QStringLiteral("Режим.csv"));
        const QByteArray row(1000, 'r');
        {
            TRecordFile record;
            QVERIFY(!record.Open(path).Failed());
            QVERIFY(!record.Append("head\n").Failed());
            QVERIFY(!record.Append(row).Failed());
            QCOMPARE(Content(path), QByteArray("head\n") + row);
        }
        TRecordFile again;
        QVERIFY(!again.Open(path).Failed());
        QVERIFY(!again.Append(row).Failed());
        QCOMPARE(Content(path).size(), 5 + 2 * row.size());
#ifdef Q_OS_UNIX
        {
            const TSizeLimit limit(3500);
            QVERIFY(!again.Append(row).Failed());
            QCOMPARE(int(again.Append(row).Cause), int(TFileCause::NoSpace));
        }
        QCOMPARE(Content(path), QByteArray("head\n") + row + row + row);
        QVERIFY(!again.Append("tail\n").Failed());
        QVERIFY(Content(path).endsWith(row + "tail\n"));
#endif
        TRecordFile folder;
        QCOMPARE(int(folder.Open(dir.path()).Cause), int(TFileCause::IsFolder));
        QCOMPARE(int(folder.Append(row).Cause) == int(TFileCause::None), false);
    }

    void readWhole()
    {
        QTemporaryDir dir(Folder() + QStringLiteral("/karven-files-XXXXXX"));
        const QString path = dir.filePath(QStringLiteral("a.json"));
        Put(path, QByteArray(100, 'a'));
        QCOMPARE(ReadFileWhole(path, 100).Bytes, QByteArray(100, 'a'));
        const TFileRead large = ReadFileWhole(path, 99);
        QCOMPARE(int(large.Failure.Cause), int(TFileCause::TooLarge));
        QVERIFY(large.Bytes.isEmpty());
        QCOMPARE(int(ReadFileWhole(dir.filePath(QStringLiteral("none")), 100).Failure.Cause), int(TFileCause::NoFolder));
        QCOMPARE(int(ReadFileWhole(dir.path(), 100).Failure.Cause), int(TFileCause::IsFolder));
    }
};

QTEST_GUILESS_MAIN(TestFileAccess)
#include "tst_fileaccess.moc"
