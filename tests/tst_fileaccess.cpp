// Files as both programs keep them: a whole file written only once all of it is on the disk,
// the earlier file kept whole on any failure, nothing left beside it; a record that holds
// whole rows only. Under Wine the files live on Z:, the Linux side of the system. What
// only Linux can set up (modes, owners, links, FIFOs, a full disk) is in tst_fileaccess_posix.
#include "FileAccess.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QtTest>

class TestFileAccess : public QObject {
    Q_OBJECT

private slots:
    void writeWhole_data()
    {
        TWriteWholeRow::AddColumns();
        const QByteArray now(10000, 'n');
        using C = TFileCause;
        QTest::newRow("a new file") << "new" << int(C::None) << now << QStringList{"t"};
        QTest::newRow("an existing file") << "file" << int(C::None) << now << QStringList{"t"};
        // Replaced as the folder allows; the protection stays with the name.
        QTest::newRow("a read-only file") << "read-only" << int(C::None) << now << QStringList{"t"};
        QTest::newRow("a folder") << "folder" << int(C::IsFolder) << QByteArray("(none)") << QStringList{"t"};
        QTest::newRow("a missing folder") << "missing folder" << int(C::NoFolder) << QByteArray("(none)") << QStringList{};
    }
    void writeWhole()
    {
        const TWriteWholeRow row;
        QVERIFY(row.Dir.isValid());
        QString path = row.Target;
        if (row.Situation == QLatin1String("file") || row.Situation == QLatin1String("read-only"))
            QVERIFY(PutFile(row.Target, "old"));
        if (row.Situation == QLatin1String("read-only"))
            QVERIFY(QFile::setPermissions(row.Target, QFile::ReadOwner));
        else if (row.Situation == QLatin1String("folder"))
            QVERIFY(QDir(row.Dir.path()).mkdir(QStringLiteral("t")));
        else if (row.Situation == QLatin1String("missing folder"))
            path = row.Dir.filePath(QStringLiteral("none/t"));

        const TFileFailure failure = WriteFileWhole(path, QByteArray(10000, 'n'));
        QCOMPARE(int(failure.Cause), row.Cause);
        QCOMPARE(failure.Failed(), row.Cause != int(TFileCause::None));
        if (row.Situation != QLatin1String("folder"))
            QCOMPARE(FileContent(row.Target), row.After);
        QCOMPARE(FolderEntries(row.Dir.path()), row.Entries);
        if (row.Situation == QLatin1String("read-only")) {
            QVERIFY(!(QFile::permissions(row.Target) & QFile::WriteOwner));
            QFile::setPermissions(row.Target, QFile::ReadOwner | QFile::WriteOwner);  // for the folder's removal
        }
    }

    // Each row is on the disk when Append returns, and a record opened again goes on after
    // its last row.
    void recordFile()
    {
        QTemporaryDir dir(TestFolder() + QStringLiteral("/karven-files-XXXXXX"));
        const QString path = dir.filePath(QStringLiteral("Режим.csv"));
        const QByteArray row(1000, 'r');
        {
            TRecordFile record;
            QVERIFY(RecordHeadAndRow(record, path, row));
            QCOMPARE(FileContent(path), QByteArray("head\n") + row);
        }
        TRecordFile again;
        QVERIFY(!again.Open(path).Failed());
        QVERIFY(!again.Append(row).Failed());
        QCOMPARE(FileContent(path), QByteArray("head\n") + row + row);

        TRecordFile folder;
        QCOMPARE(int(folder.Open(dir.path()).Cause), int(TFileCause::IsFolder));
        QVERIFY(folder.Append(row).Failed());
    }

    // A path longer than the 260 characters of the system's plain form (a deep folder that a
    // cloud drive synchronises): saved, replaced, read and recorded into.
    void longPath()
    {
        QTemporaryDir dir(TestFolder() + QStringLiteral("/karven-files-XXXXXX"));
        QString folder = dir.path();
        for (char letter : {'a', 'b', 'c'})
            folder += QLatin1Char('/') + QString(90, QLatin1Char(letter));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/Конфигурация.json");
        QVERIFY(path.size() > 280);
        QCOMPARE(int(WriteFileWhole(path, "one").Cause), int(TFileCause::None));
        QCOMPARE(int(WriteFileWhole(path, "two").Cause), int(TFileCause::None));
        QCOMPARE(ReadFileWhole(path, 100).Bytes, QByteArray("two"));
        TRecordFile record;
        QCOMPARE(int(record.Open(folder + QStringLiteral("/r.csv")).Cause), int(TFileCause::None));
        QVERIFY(!record.Append("row\n").Failed());
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), (QStringList{"r.csv", "Конфигурация.json"}));
    }

    void readWhole()
    {
        QTemporaryDir dir(TestFolder() + QStringLiteral("/karven-files-XXXXXX"));
        const QString path = dir.filePath(QStringLiteral("a.json"));
        QVERIFY(PutFile(path, QByteArray(100, 'a')));
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
