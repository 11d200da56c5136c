// A file put in place of the one it replaces, against scripted answers of the file calls: a
// folder that takes no new file, and the ways a program that holds a file for a moment (an
// antivirus, a synchronising agent) makes the replacement answer, which no folder under Wine
// gives.

#include "FileReplace_win.h"
#include "FileMessages.h"

#include <QStringList>
#include <QtTest>

namespace {

// Answers each call from a script "call:error", in order; "call:error*N" answers N times,
// "call:error*" for as long as it is asked.
class ScriptedCalls : public TReplaceCalls {
public:
    explicit ScriptedCalls(const QString &script) : steps_(script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {}

    QString Fault;
    QStringList Deleted;
    DWORD Paused = 0;
    bool ScriptDone() const { return steps_.isEmpty() || steps_.first().endsWith(QLatin1Char('*')); }

    DWORD Create(const std::wstring &) override { return Answer(QStringLiteral("create")); }
    DWORD Fill(const QByteArray &) override { return Answer(QStringLiteral("fill")); }
    DWORD Replace(const std::wstring &target, const std::wstring &temporary) override
    {
        if (target != L"C:\\f\\t.json" || temporary != L"C:\\f\\~t")
            Fault = QStringLiteral("replace of the wrong files");
        return Answer(QStringLiteral("replace"));
    }
    DWORD Move(const std::wstring &from, const std::wstring &to) override
    {
        if (from != L"C:\\f\\~t" || to != L"C:\\f\\t.json")
            Fault = QStringLiteral("move of the wrong files");
        return Answer(QStringLiteral("move"));
    }
    DWORD Delete(const std::wstring &path) override
    {
        Deleted << QString::fromStdWString(path);
        return 0;
    }
    void Pause(DWORD ms) override { Paused += ms; }
    std::wstring TemporaryName(const std::wstring &folder) override { return folder + L"\\~t"; }

private:
    DWORD Answer(const QString &call)
    {
        if (steps_.isEmpty() || !steps_.first().startsWith(call + QLatin1Char(':'))) {
            Fault = QStringLiteral("%1 came where the script has \"%2\"").arg(call, steps_.value(0));
            return ERROR_INVALID_FUNCTION;
        }
        QString step = steps_.first();
        const int star = step.indexOf(QLatin1Char('*'));
        if (star < 0) {
            steps_.removeFirst();
        } else if (star + 1 < step.size()) {
            const int left = step.mid(star + 1).toInt() - 1;
            if (left > 0)
                steps_.first() = step.left(star + 1) + QString::number(left);
            else
                steps_.removeFirst();
        }
        step = step.left(star < 0 ? step.size() : star);
        return step.mid(call.size() + 1).toUInt();
    }

    QStringList steps_;
};

}  // namespace

class TestFileAccessWin : public QObject {
    Q_OBJECT

private slots:
    void replace_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("cause");
        QTest::addColumn<QString>("after");  // "replaced", "kept" (earlier as it was, temporary deleted), "half"
        QTest::addColumn<bool>("retried");
        using C = TFileCause;
        QTest::newRow("a folder that takes no new file") << true << "create:5" << int(C::FolderNoWrite) << "kept" << false;
        QTest::newRow("a full disk") << true << "create:0 fill:112" << int(C::NoSpace) << "kept" << false;
        QTest::newRow("replaced at once") << true << "create:0 fill:0 replace:0" << int(C::None) << "replaced" << false;
        QTest::newRow("a new file") << false << "create:0 fill:0 move:0" << int(C::None) << "replaced" << false;
        QTest::newRow("a scanner holds the file for a moment")
            << true << "create:0 fill:0 replace:32*3 replace:5 replace:1175 replace:0" << int(C::None) << "replaced" << true;
        QTest::newRow("a scanner holds the new file's place for a moment")
            << false << "create:0 fill:0 move:32*2 move:0" << int(C::None) << "replaced" << true;
        QTest::newRow("held for longer than the tries")
            << true << "create:0 fill:0 replace:32*" << int(C::Other) << "kept" << true;
        QTest::newRow("no permission to replace") << true << "create:0 fill:0 replace:5*" << int(C::NoPermission) << "kept" << true;
        QTest::newRow("another failure, not tried again") << true << "create:0 fill:0 replace:1" << int(C::Other) << "kept" << false;
        QTest::newRow("the earlier file removed: the move finishes")
            << true << "create:0 fill:0 replace:1176 move:0" << int(C::None) << "replaced" << false;
        QTest::newRow("the earlier file renamed: the move finishes after a hold")
            << true << "create:0 fill:0 replace:1177 move:5 move:32 move:0" << int(C::None) << "replaced" << true;
        QTest::newRow("the earlier file removed, the new one held in its temporary name")
            << true << "create:0 fill:0 replace:1176 move:5*" << int(C::NoPermission) << "half" << true;
        QTest::newRow("the earlier file renamed, the move refused")
            << true << "create:0 fill:0 replace:32 replace:1177 move:1" << int(C::Other) << "half" << true;
    }
    void replace()
    {
        QFETCH(bool, exists);
        QFETCH(QString, script);
        QFETCH(int, cause);
        QFETCH(QString, after);
        QFETCH(bool, retried);
        ScriptedCalls calls(script);
        const TFileFailure failure = ReplaceWith(calls, L"C:\\f\\t.json", "new", exists);
        QVERIFY2(calls.Fault.isEmpty(), qPrintable(calls.Fault));
        QVERIFY2(calls.ScriptDone(), "the replacement ended before the script");
        QCOMPARE(int(failure.Cause), cause);
        const bool half = after == QLatin1String("half");
        QCOMPARE(failure.EarlierGone, half);
        QCOMPARE(failure.WrittenTo, half ? QStringLiteral("C:\\f\\~t") : QString());
        // The temporary file is deleted when it holds nothing anyone needs, and only then.
        const bool made = !script.startsWith(QLatin1String("create:5"));
        QCOMPARE(calls.Deleted, made && after == QLatin1String("kept") ? QStringList{"C:\\f\\~t"} : QStringList{});
        QCOMPARE(calls.Paused > 0, retried);
        QVERIFY(calls.Paused <= RetryMs + RetryPauseMs);
        // What the window program tells of it.
        if (failure.Cause == TFileCause::FolderNoWrite)
            QCOMPARE(FileCauseMessage(failure), QStringLiteral("нет прав на запись в папку"));
        if (failure.Failed())
            QCOMPARE(EarlierFileMessage(failure, exists, QStringLiteral("C:/f/t.json")),
                     half ? QStringLiteral("Прежнего файла под этим именем больше нет. Конфигурация записана в файл "
                                           "C:\\f\\~t; переименуйте его в «t.json».")
                          : QStringLiteral("Прежний файл остался без изменений."));
    }
};

QTEST_GUILESS_MAIN(TestFileAccessWin)
#include "tst_fileaccess_win.moc"
