// The window program's files against the companion and the system: a configuration carried
// through a file both ways between the window program and karven-cli, with the device
// simulator at the line speed; a recorded mode run whose rows karven-cli gives alike for
// the same answers; a save on a full disk (a file-size limit); a record that cannot grow.

#include "ConfigFiles.h"
#include "ConfigText.h"
#include "Globals.h"
#include "MainForm.h"
#include "ModeTestRig.h"
#include "PtyPair.h"
#include "RegisterMap.h"
#include "SimDevice.h"
#include "TQ.h"
#include "dialog_driver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <thread>

#include <sys/resource.h>

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct CliRun {
    int Status = -1;
    QString Out, Err;
};

CliRun Cli(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(KARVEN_CLI_EXE), arguments);
    CliRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.Status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Out = QString::fromUtf8(process.readAllStandardOutput());
    run.Err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The rows of a record without their times.
QStringList Untimed(const QString &csv)
{
    QStringList lines = csv.split('\n', Qt::SkipEmptyParts);
    for (int i = 1; i < lines.size(); ++i)
        lines[i] = lines[i].section(',', 1);
    return lines;
}

// Limits the size of the files this process writes, for as long as it lives (SIGXFSZ is
// ignored: the write fails with EFBIG instead).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old_);
        const rlimit limit{bytes, old_.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }

private:
    rlimit old_{};
};

}  // namespace

class TestFilesE2e : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<sim::SimDevice> device_;
    std::unique_ptr<TForm1> form_;

    QString Path(const QString &name) const { return dir_.filePath(name); }
    QString Link() const { return QString::fromStdString(device_->LinkPath()); }
    TRegisterBytes DeviceWords() const
    {
        TRegisterBytes words{};
        for (int r = 0; r < ConfigRegisterCount; ++r) {
            words[2 * r] = uint8_t(device_->Holding(r) >> 8);
            words[2 * r + 1] = uint8_t(device_->Holding(r));
        }
        return words;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        std::signal(SIGXFSZ, SIG_IGN);
    }
    void init()
    {
        DeviceConfig = {};
        ExchangeState = 0;
        sim::SimOptions options;
        options.linkPath = Path(QStringLiteral("ttyF0")).toStdString();
        device_ = std::make_unique<sim::SimDevice>(options);
        std::string error;
        QVERIFY2(device_->Start(&error), error.c_str());
        form_ = std::make_unique<TForm1>();
        form_->ComPort1->SetPort(Link());
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }
    void cleanup()
    {
        driver::CancelTurns();
        form_.reset();
        device_.reset();
    }

    // Read by the window, changed by hand, saved; written by the companion. Read by the
    // companion, opened by the window.
    void companionRoundTrip()
    {
        form_->N6->trigger();
        QVERIFY(WaitFor([&] { return form_->NodeAt(0)->text(0) == QString::fromUtf8(RootTextSaved); }, 10000));
        QCOMPARE(form_->Files().Origin().Port, Link());
        form_->EditParameterFn = [](QWidget *, int) {
            DeviceConfig.PackCount = 4321;
            return true;
        };
        EditedNodeIndex = 21;
        form_->N13Click();
        auto done = driver::InTurn({[&](QWidget *modal) { driver::ChooseFile(modal, Path("window.json")); }});
        form_->SaveToFile->trigger();
        QCOMPARE(*done, 1);
        form_->ComPort1->Close();  // the window keeps its port after a read; the companion needs it
        const CliRun write = Cli({"write", Path("window.json"), "--port", Link()});
        QVERIFY2(write.Status == 0, qPrintable(write.Err));
        QCOMPARE(DeviceWords(), PackConfigRegistersOf(DeviceConfig));
        QCOMPARE(device_->Holding(22), uint16_t(4321));

        device_->SetHolding(52, 4);  // "5-й номинал"
        const CliRun read = Cli({"read", "-o", Path("companion.json"), "--port", Link()});
        QVERIFY2(read.Status == 0, qPrintable(read.Err));
        DeviceConfig = {};
        done = driver::InTurn({[&](QWidget *modal) { driver::ChooseFile(modal, Path("companion.json")); }});
        form_->OpenFromFile->trigger();
        QCOMPARE(*done, 1);
        QCOMPARE(PackConfigRegistersOf(DeviceConfig), DeviceWords());
        QCOMPARE(form_->Files().Origin().Port, Link());  // as the companion's file says
    }

    // The rows the window writes for the answers of a TPR-by-TPU run (started in the
    // window, so that the S2 sum takes its base) are the companion's for the same answers.
    void recordedRowsAreTheCompanions()
    {
        auto done = driver::InTurn({[&](QWidget *modal) { driver::ChooseFile(modal, dir_.path()); }});
        form_->RecordReadings->trigger();
        QCOMPARE(*done, 1);
        QVERIFY(form_->RecordReadings->isChecked());
        QCOMPARE(QDir(form_->RecordFolder()), QDir(dir_.path()));

        QString path, caption;
        bool started = false;
        QElapsedTimer clock;
        clock.start();
        QTimer person;
        person.setInterval(50);
        connect(&person, &QTimer::timeout, this, [&] {
            auto *window = qobject_cast<TModeWindow *>(QApplication::activeModalWidget());
            if (!window || !window->isVisible())
                return;
            path = window->RecordPath();
            caption = window->windowTitle();
            // Started after a row of the mode off.
            if (!started && window->lbRezim->text() == QStringLiteral("Отключен") && ReadAll(path).count(",off,") >= 1) {
                window->Button1->click();
                started = true;
            }
            if (ReadAll(path).count(",on,") >= 4 || clock.elapsed() > 40000)
                window->Button2->click();
        });
        person.start();
        form_->N12->trigger();
        person.stop();
        QCOMPARE(caption, QStringLiteral("ТПР по ТПУ1  [запись: %1]").arg(QFileInfo(path).fileName()));
        QVERIFY(QFileInfo(path).fileName().startsWith(QStringLiteral("ТПР по ТПУ1 ")));
        const QStringList window = Untimed(QString::fromUtf8(ReadAll(path)));
        QVERIFY2(window.size() >= 6 && window[1].startsWith(QStringLiteral("off,")), qPrintable(window.join('\n')));

        // Each values answer with the status answer before it, as the companion asks them.
        QList<QPair<QByteArray, QByteArray>> pairs;
        QByteArray status;
        for (const sim::LogEntry &e : device_->Log()) {
            if (e.kind != sim::LogEntry::Reply || e.bytes.size() < 2)
                continue;
            const QByteArray bytes(reinterpret_cast<const char *>(e.bytes.data()), qsizetype(e.bytes.size()));
            if (e.bytes[1] == 1)
                status = bytes;
            else if (e.bytes[1] == 4)
                pairs.append({status, bytes});
        }
        const int rows = int(window.size()) - 1;
        QVERIFY(pairs.size() >= rows);

        PtyPair pty;
        QVERIFY(pty.IsOpen());
        std::atomic<bool> stop{false};
        std::thread replay([&] {
            QByteArray pending;
            int next = 0;
            while (!stop && next < rows) {
                pending += pty.ReadMaster(8, 100);
                if (pending.size() < 8)
                    continue;
                const char function = pending[1];
                pending.remove(0, 8);
                if (function == 1)
                    pty.WriteMaster(pairs[next].first);
                else if (function == 4)
                    pty.WriteMaster(pairs[next++].second);
            }
        });
        const CliRun companion = Cli({"mode", "tpr-tpu1", "--port", pty.SlavePath(), "--count", QString::number(rows)});
        stop = true;
        replay.join();
        QVERIFY2(companion.Status == 0, qPrintable(companion.Err));
        QCOMPARE(window, Untimed(companion.Out));
    }

    void fullDiskKeepsEarlierFile_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::newRow("replacing a file") << true;
        QTest::newRow("a new file") << false;
    }
    void fullDiskKeepsEarlierFile()
    {
        QFETCH(bool, existing);
        QTemporaryDir folder(Path(QStringLiteral("full-XXXXXX")));
        const QString file = folder.filePath(QStringLiteral("backup.json"));
        const QByteArray earlier = "the earlier backup";
        if (existing) {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(earlier);
        }
        form_->Files().ReadFromDevice(Link());
        QString message;
        std::vector<std::function<void(QWidget *)>> steps{[&](QWidget *modal) { driver::ChooseFile(modal, file); }};
        if (existing)
            steps.push_back(driver::Answer(QStringLiteral("&Yes")));  // the dialog's "replace it?"
        steps.push_back(driver::Answer(QStringLiteral("OK"), &message));
        auto done = driver::InTurn(steps);
        {
            const FileSizeLimit limit(512);  // a configuration file is about 8 kB
            form_->SaveToFile->trigger();
        }
        QCOMPARE(*done, int(steps.size()));
        QVERIFY2(message.startsWith(QStringLiteral("Конфигурация не сохранена.")) &&
                     message.contains(QStringLiteral("Причина: на диске нет места.")),
                 qPrintable(message));
        QCOMPARE(message.contains(QStringLiteral("Прежний файл остался без изменений.")), existing);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
                 existing ? QStringList{QStringLiteral("backup.json")} : QStringList{});
        if (existing)
            QCOMPARE(ReadAll(file), earlier);
    }

    // A row that cannot be written ends the record with one message; polling goes on
    // meanwhile, and the file keeps its whole rows.
    void recordEndsOnWriteFailure()
    {
        auto *window = new FakeLinkWindow<TfmTQ>(form_.get());
        std::unique_ptr<TModeWindow> owner(window);
        QVERIFY(window->StartRecording(dir_.path(), QStringLiteral("Режим TQ")));
        const QString path = window->RecordPath();
        // Answers each request as the device would, at once.
        int answered = 0;
        QTimer device;
        device.setInterval(10);
        connect(&device, &QTimer::timeout, this, [&] {
            if (window->Sent.size() <= answered)
                return;
            const char function = window->Sent[answered++][1];
            window->Feed(AppendDeviceCrc(HexBytes(function == 1 ? "0A 01 01 10" : "0A 04 0C 00 1C 00 00 00 1E 00 00 00 00 41 48")));
        });
        device.start();
        window->show();
        window->StartPolling();
        QVERIFY(WaitFor([&] { return ReadAll(path).count('\n') >= 3; }, 10000));

        QString message;
        int sentWhileShown = 0;
        // The person reads the message while a few more requests go out, then closes it.
        auto done = driver::InTurn({[&](QWidget *modal) {
            if (auto *box = qobject_cast<QMessageBox *>(modal))
                message = box->text();
            const int before = int(window->Sent.size());
            WaitFor([&] { return window->Sent.size() >= before + 4; }, 10000);
            sentWhileShown = int(window->Sent.size()) - before;
            driver::Click(modal, QStringLiteral("OK"));
        }}, 20000, window);  // the next modal after the mode window
        {
            const FileSizeLimit limit(rlim_t(QFileInfo(path).size() + 10));
            QVERIFY(WaitFor([&] { return *done == 1 && QApplication::activeModalWidget() == window; }, 20000));
        }
        QVERIFY2(sentWhileShown >= 4, qPrintable(QString::number(sentWhileShown)));
        QVERIFY2(message.startsWith(QStringLiteral("Запись показаний прекращена")) &&
                     message.contains(QStringLiteral("Причина: на диске нет места.")),
                 qPrintable(message));
        QCOMPARE(window->windowTitle(), QStringLiteral("Режим TQ"));
        QVERIFY(window->RecordPath().isEmpty());
        const QByteArray kept = ReadAll(path);
        QVERIFY(kept.endsWith('\n'));
        for (const QByteArray &row : kept.split('\n').mid(1, kept.count('\n') - 1))
            QVERIFY2(row.endsWith(",on,28,30,12.50"), row.constData());
        WaitFor([] { return false; }, 500);
        QCOMPARE(ReadAll(path), kept);  // nothing more, and no second message
        QCOMPARE(QApplication::activeModalWidget(), window);  // no second message
        QVERIFY(window->Timer1->isActive());
        device.stop();
    }
};

QTEST_MAIN(TestFilesE2e)
#include "tst_files_e2e.moc"
