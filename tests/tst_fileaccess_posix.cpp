// The whole-file writer and the record on what Linux lets a test set up: an existing file's
// mode and owner kept exactly, links followed and a loop refused, a FIFO written into, and
// a full disk (a file-size limit) that leaves the earlier file whole and nothing beside it.
#include "FileAccess.h"
#include "SizeLimit.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <thread>
#include <unistd.h>

class TestFileAccessPosix : public QObject {
    Q_OBJECT

private slots:
    void writeWhole_data()
    {
        TWriteWholeRow::AddColumns();
        const QByteArray now(10000, 'n'), old("old");
        using C = TFileCause;
        QTest::newRow("mode 0000 kept") << "mode 0000" << int(C::None) << now << QStringList{"t"};
        QTest::newRow("mode and owner kept") << "owner" << int(C::None) << now << QStringList{"t"};
        QTest::newRow("through a link") << "link" << int(C::None) << now << QStringList{"l", "t"};
        QTest::newRow("a dangling link") << "dangling" << int(C::None) << now << QStringList{"l", "t"};
        QTest::newRow("a link loop") << "loop" << int(C::LinkLoop) << QByteArray("(none)") << QStringList{"l", "t"};
        QTest::newRow("a FIFO is written into") << "fifo" << int(C::None) << QByteArray() << QStringList{"t"};
        QTest::newRow("full disk, an earlier file") << "full" << int(C::NoSpace) << old << QStringList{"t"};
        QTest::newRow("full disk, a new file") << "full new" << int(C::NoSpace) << QByteArray("(none)") << QStringList{};
    }
    void writeWhole()
    {
        const TWriteWholeRow row;
        QVERIFY(row.Dir.isValid());
        const QByteArray native = QFile::encodeName(row.Target);
        QString path = row.Target;
        const QByteArray bytes(10000, 'n');
        if (row.Situation != QLatin1String("full new") && row.Situation != QLatin1String("dangling") && row.Situation != QLatin1String("loop"))
            QVERIFY(PutFile(row.Target, "old"));
        if (row.Situation == QLatin1String("mode 0000")) {
            QCOMPARE(::chmod(native.constData(), 0), 0);
        } else if (row.Situation == QLatin1String("owner")) {
            if (::geteuid() == 0)
                QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
            QCOMPARE(::chmod(native.constData(), 02751), 0);
        } else if (row.Situation == QLatin1String("link") || row.Situation == QLatin1String("dangling")) {
            path = row.Dir.filePath(QStringLiteral("l"));
            QVERIFY(QFile::link(QStringLiteral("t"), path));
        } else if (row.Situation == QLatin1String("loop")) {
            path = row.Dir.filePath(QStringLiteral("l"));
            QVERIFY(QFile::link(QStringLiteral("t"), path));
            QVERIFY(QFile::link(QStringLiteral("l"), row.Target));
        } else if (row.Situation == QLatin1String("fifo")) {
            QVERIFY(QFile::remove(row.Target));
            QCOMPARE(::mkfifo(native.constData(), 0644), 0);
        }
        struct stat before {};
        ::stat(native.constData(), &before);

        QByteArray read;
        std::thread reader;
        if (row.Situation == QLatin1String("fifo"))
            reader = std::thread([&] { read = FileContent(row.Target); });
        const TFileFailure failure = [&] {
            if (!row.Situation.startsWith(QLatin1String("full")))
                return WriteFileWhole(path, bytes);
            const TSizeLimit limit(4096);
            return WriteFileWhole(path, bytes);
        }();
        if (reader.joinable()) {
            reader.join();
            QCOMPARE(read, bytes);
        }

        QCOMPARE(int(failure.Cause), row.Cause);
        QCOMPARE(failure.Failed(), row.Cause != int(TFileCause::None));
        if (row.Situation != QLatin1String("fifo"))
            QCOMPARE(FileContent(row.Target), row.After);
        QCOMPARE(FolderEntries(row.Dir.path()), row.Entries);
        struct stat now {};
        ::lstat(native.constData(), &now);
        if (row.Situation == QLatin1String("fifo"))
            QVERIFY(S_ISFIFO(now.st_mode));
        if (row.Situation == QLatin1String("mode 0000") || row.Situation == QLatin1String("owner") || row.Situation == QLatin1String("link")) {
            QCOMPARE(now.st_mode & 07777, before.st_mode & 07777);
            QCOMPARE(now.st_uid, before.st_uid);
            QCOMPARE(now.st_gid, before.st_gid);
            QVERIFY(now.st_ino != before.st_ino);  // replaced, not written over
        }
        if (row.Situation == QLatin1String("link") || row.Situation == QLatin1String("dangling"))
            QVERIFY(QFileInfo(path).isSymLink());
    }

    // A new file gets the mode the umask leaves.
    void newFileMode()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t"));
        QVERIFY(!WriteFileWhole(path, "new").Failed());
        struct stat now {};
        ::stat(QFile::encodeName(path).constData(), &now);
        const mode_t mask = ::umask(0);
        ::umask(mask);
        QCOMPARE(now.st_mode & 07777, 0666 & ~mask);
    }

    // A row that does not fit on the disk is taken back: the record holds whole rows, and
    // the next row that fits follows the last whole one.
    void recordOnAFullDisk()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Режим.csv"));
        const QByteArray row(1000, 'r');
        TRecordFile record;
        QVERIFY(RecordHeadAndRow(record, path, row));
        {
            const TSizeLimit limit(2500);
            QVERIFY(!record.Append(row).Failed());
            QCOMPARE(int(record.Append(row).Cause), int(TFileCause::NoSpace));
        }
        QCOMPARE(FileContent(path), QByteArray("head\n") + row + row);
        QVERIFY(!record.Append("tail\n").Failed());
        QCOMPARE(FileContent(path), QByteArray("head\n") + row + row + "tail\n");
    }
};

QTEST_GUILESS_MAIN(TestFileAccessPosix)
#include "tst_fileaccess_posix.moc"
