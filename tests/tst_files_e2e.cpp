// The window program's files against the companion and the system: a configuration carried
// both ways through a file between the window program and karven-cli, against the device
// simulator at the line speed; a recorded run whose rows karven-cli gives alike for the same
// answers; a save on a full disk and a record that cannot grow (a file-size limit).

#include "ConfigFileCommands.h"
#include "ConfigText.h"
#include "Globals.h"
#include "MainForm.h"
#include "ModeTestRig.h"
#include "PtyPair.h"
#include "RegisterMap.h"
#include "ResetGlobals.h"
#include "SimFixture.h"
#include "SizeLimit.h"
#include "TPR_TPU.h"
#include "TQ.h"
#include "TestFiles.h"
#include "dialog_driver.h"

#include <QLabel>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <atomic>
#include <thread>

namespace {

// The companion's exit status (-1: it did not end) and standard output; standard error
// goes to the test's.
QPair<int, QString> Cli(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(KARVEN_CLI_EXE), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        return {-1, QString()};
    }
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput())};
}

// The lines of a record, the rows without their times.
QStringList Untimed(const QString &csv)
{
    QStringList lines = csv.split('\n', Qt::SkipEmptyParts);
    for (int i = 1; i < lines.size(); ++i)
        lines[i] = lines[i].section(',', 1);
    return lines;
}

}  // namespace

class TestFilesE2e : public QObject {
    Q_OBJECT

    SimFixture sim_;
    std::unique_ptr<TForm1> form_;

    QString Path(const QString &name) const { return sim_.Path(name); }
    QString Link() const { return sim_.Link(); }
    // Runs the menu command, choosing the file in its dialog.
    void Through(QAction *command, const QString &file)
    {
        auto done = driver::InTurn({[&](QWidget *modal) { driver::ChooseFile(modal, file); }});
        command->trigger();
        QCOMPARE(*done, 1);
    }

private slots:
    void init()
    {
        ProgramSettings().clear();
        ResetAllGlobals();
        QVERIFY(sim_.Start());
        form_ = std::make_unique<TForm1>();
        form_->ComPort1->SetPort(Link());
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }
    void cleanup()
    {
        driver::CancelTurns();
        form_.reset();
        sim_.Discard();
    }

    // Read by the window, changed by hand, saved, written by the companion; read by the
    // companion, opened by the window.
    void companionRoundTrip()
    {
        form_->N6->trigger();
        QVERIFY(WaitFor([&] { return form_->NodeAt(0)->text(0) == QString::fromUtf8(RootTextSaved); }, 10000));
        QCOMPARE(form_->FileCommands().Origin().Port, Link());
        form_->EditParameterFn = [](QWidget *, int) { DeviceConfig.PackCount = 4321; return true; };
        EditedNodeIndex = 21;
        form_->N13Click();
        Through(form_->SaveToFile, Path("window.json"));
        form_->ComPort1->Close();  // the window keeps its port after a read; the companion needs it
        QCOMPARE(Cli({"write", Path("window.json"), "--port", Link()}).first, 0);
        QCOMPARE(sim_.ConfigRegisters(), PackConfigRegistersOf(DeviceConfig));
        QCOMPARE(sim_->Holding(22), uint16_t(4321));

        sim_->SetHolding(52, 4);
        QCOMPARE(Cli({"read", "-o", Path("companion.json"), "--port", Link()}).first, 0);
        DeviceConfig = {};
        Through(form_->OpenFromFile, Path("companion.json"));
        QCOMPARE(PackConfigRegistersOf(DeviceConfig), sim_.ConfigRegisters());
        QCOMPARE(form_->FileCommands().Origin().Port, Link());  // as the companion's file says
    }

    // The rows the window writes for the answers of a TPR-by-TPU run, off and then started
    // in the window (the S2 sum takes its base), are the companion's for the same answers.
    void recordedRowsAreTheCompanions()
    {
        QString start;
        auto done = driver::InTurn({[&](QWidget *modal) {
            start = qobject_cast<QFileDialog *>(modal)->directory().absolutePath();
            driver::ChooseFile(modal, sim_.Folder());
        }});
        form_->RecordReadings->trigger();
        QCOMPARE(*done, 1);
        QVERIFY(!QFileInfo(TConfigFileCommands::DocumentsFolder()).isDir() || QDir(start) == QDir(TConfigFileCommands::DocumentsFolder()));
        QCOMPARE(QDir(form_->RecordFolder()), QDir(sim_.Folder()));

        QString path, caption;
        QTimer person;
        person.setInterval(50);
        connect(&person, &QTimer::timeout, this, [&] {
            auto *window = qobject_cast<TModeWindow *>(QApplication::activeModalWidget());
            if (!window || !window->isVisible())
                return;
            path = window->RecordPath();
            caption = window->windowTitle();
            const QByteArray rows = FileContent(path);
            if (window->Button1->Tag == 0 && window->lbRezim->text() == QStringLiteral("Отключен") && rows.contains(",off,"))
                window->Button1->click();
            if (rows.count(",on,") >= 4)
                window->Button2->click();
        });
        person.start();
        form_->N12->trigger();
        person.stop();
        QCOMPARE(caption, QStringLiteral("ТПР по ТПУ1  [запись: %1]").arg(QFileInfo(path).fileName()));
        QVERIFY(QFileInfo(path).fileName().startsWith(QStringLiteral("ТПР по ТПУ1 ")));
        const QStringList window = Untimed(QString::fromUtf8(FileContent(path)));
        QVERIFY2(window.size() >= 6 && window[1].startsWith(QStringLiteral("off,")), qPrintable(window.join('\n')));

        // Each values answer with the status answer before it, replayed to the companion.
        QList<QPair<QByteArray, QByteArray>> pairs;
        QByteArray status;
        for (const sim::LogEntry &e : sim_->Log()) {
            const QByteArray bytes(reinterpret_cast<const char *>(e.Bytes.data()), qsizetype(e.Bytes.size()));
            if (e.Kind == sim::LogEntry::Reply && bytes.size() > 2 && bytes[1] == 1)
                status = bytes;
            else if (e.Kind == sim::LogEntry::Reply && bytes.size() > 2 && bytes[1] == 4)
                pairs.append({status, bytes});
        }
        const int rows = int(window.size()) - 1;
        QVERIFY(pairs.size() >= rows);
        PtyPair pty;
        QVERIFY(pty.IsOpen());
        std::atomic<bool> stop{false};
        std::thread replay([&] {
            QByteArray pending;
            for (int next = 0; !stop && next < rows;) {
                if ((pending += pty.ReadMaster(8, 100)).size() < 8)
                    continue;
                const char function = pending[1];
                pending.remove(0, 8);
                pty.WriteMaster(function == 1 ? pairs[next].first : pairs[next++].second);
            }
        });
        const auto companion = Cli({"mode", "tpr-tpu1", "--port", pty.SlavePath(), "--count", QString::number(rows)});
        stop = true;
        replay.join();
        QCOMPARE(companion.first, 0);
        QCOMPARE(window, Untimed(companion.second));
    }

    // The S2 row of TPR by TPU, in the window and in its record, against each channel's own
    // base: a second TPU1 window whose first values answer is lost keeps the earlier base,
    // and its record writes what it shows; TPU2 then shows its count against its own base.
    void s2RecordedAsShown()
    {
        auto chosen = driver::InTurn({[&](QWidget *modal) { driver::ChooseFile(modal, sim_.Folder()); }});
        form_->RecordReadings->trigger();
        QCOMPARE(*chosen, 1);
        sim_->SetCoil(0, true);
        const auto s2Field = [](const QString &row) { return row.section(',', 7, 7); };
        // Runs a TPR-by-TPU window until its record has rows on-rows (any state for TPU2),
        // then gives the window's S2 cell and the record's last row.
        const auto run = [&](QAction *item, int rows) {
            QString cell, path;
            QTimer person;
            connect(&person, &QTimer::timeout, this, [&] {
                auto *window = qobject_cast<TMeasureWindow *>(QApplication::activeModalWidget());
                if (!window || !window->isVisible())
                    return;
                path = window->RecordPath();
                if (FileContent(path).count('\n') > rows) {
                    cell = window->StringGrid1->item(5, 1)->text();
                    window->Button2->click();
                }
            });
            person.start(50);
            item->trigger();
            return qMakePair(cell, QString::fromUtf8(FileContent(path)).split('\n', Qt::SkipEmptyParts).last());
        };
        const auto first = run(form_->N12, 3);
        QCOMPARE(first.first, s2Field(first.second));
        QCOMPARE(TPR_TPU::S2Base[1], 0u);

        sim_->QueueFault(sim::Fault::None);     // the first status answer: on, a base is due
        sim_->QueueFault(sim::Fault::NoReply);  // its values answer is lost: no new base
        const auto second = run(form_->N12, 3);
        QVERIFY(second.first.toUInt() > 0);
        QCOMPARE(second.first, s2Field(second.second));

        const uint32_t tpu2 = sim_->WithModel([](sim::SimModel &m) { return m.InputU32(50); });
        const auto third = run(form_->N22, 2);
        QCOMPARE(third.first, QString::number(tpu2));
        QCOMPARE(s2Field(third.second), third.first);
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
        QVERIFY(!existing || PutFile(file, "the earlier backup"));
        form_->FileCommands().ReadFromDevice(Link());
        QString message;
        std::vector<std::function<void(QWidget *)>> steps{[&](QWidget *modal) { driver::ChooseFile(modal, file); }};
        if (existing)
            steps.push_back(driver::Answer(QStringLiteral("&Yes")));  // the dialog's "replace it?"
        steps.push_back(driver::Answer(QStringLiteral("OK"), &message));
        auto done = driver::InTurn(steps);
        {
            const TSizeLimit limit(512);  // a configuration file is about 8 kB
            form_->SaveToFile->trigger();
        }
        QCOMPARE(*done, int(steps.size()));
        QVERIFY2(message.startsWith(QStringLiteral("Конфигурация не сохранена.")) &&
                     message.contains(QStringLiteral("Причина: на диске нет места.")),
                 qPrintable(message));
        QCOMPARE(message.contains(QStringLiteral("Прежний файл остался без изменений.")), existing);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), existing ? QStringList{"backup.json"} : QStringList{});
        QVERIFY(!existing || FileContent(file) == "the earlier backup");
    }

    // A record folder where no file can be made (here: a file may not grow at all) is
    // refused when chosen, with the reason, and leaves nothing; a good one is kept for the
    // next run. A record that cannot start leaves no empty file either.
    void recordFolderChecked()
    {
        QTemporaryDir folder(Path(QStringLiteral("records-XXXXXX")));
        QString message;
        const auto choose = [&](QWidget *modal) { driver::ChooseFile(modal, folder.path()); };
        auto done = driver::InTurn({choose, driver::Answer(QStringLiteral("OK"), &message)});
        {
            const TSizeLimit limit(0);
            form_->RecordReadings->trigger();
        }
        QCOMPARE(*done, 2);
        QVERIFY2(message.startsWith(QStringLiteral("В этой папке нельзя записывать показания")) &&
                     message.contains(QStringLiteral("Причина: на диске нет места.")),
                 qPrintable(message));
        QVERIFY(!form_->RecordReadings->isChecked());
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});

        done = driver::InTurn({choose});
        form_->RecordReadings->trigger();
        QCOMPARE(*done, 1);
        QVERIFY(form_->RecordReadings->isChecked());
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
        QCOMPARE(ProgramSettings().value(QStringLiteral("recordFolder")).toString(), folder.path());  // for the next run

        // The header cannot be written: "file not made", and no file is left.
        TfmTQ window(form_.get());
        done = driver::InTurn({driver::Answer(QStringLiteral("OK"), &message)});
        {
            const TSizeLimit limit(0);
            QVERIFY(!window.StartRecording(folder.path(), QStringLiteral("Режим TQ")));
        }
        QCOMPARE(*done, 1);
        QVERIFY2(message.startsWith(QStringLiteral("Запись показаний не начата: файл не создан.")), qPrintable(message));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
    }

    // A row that cannot be written ends the record with one message; polling goes on while
    // it is read, and the file keeps its whole rows.
    void recordEndsOnWriteFailure()
    {
        auto *window = new FakeLinkWindow<TfmTQ>(form_.get());
        std::unique_ptr<TModeWindow> owner(window);
        QVERIFY(window->StartRecording(sim_.Folder(), QStringLiteral("Режим TQ")));
        const QString path = window->RecordPath();
        int answered = 0;  // each request answered at once, as the device would
        QTimer device;
        connect(&device, &QTimer::timeout, this, [&] {
            if (window->Sent.size() > answered)
                window->Feed(AppendDeviceCrc(HexBytes(window->Sent[answered++][1] == 1 ? "0A 01 01 10"
                                                      : "0A 04 0C 00 1C 00 00 00 1E 00 00 00 00 41 48")));
        });
        device.start(10);
        window->show();
        window->StartPolling();
        QVERIFY(WaitFor([&] { return FileContent(path).count('\n') >= 3; }, 10000));

        QString message;
        int sentWhileShown = 0;
        auto done = driver::InTurn({[&](QWidget *modal) {
            message = qobject_cast<QMessageBox *>(modal)->text();
            const int before = int(window->Sent.size());
            WaitFor([&] { return window->Sent.size() >= before + 4; }, 10000);
            sentWhileShown = int(window->Sent.size()) - before;
            modal->close();
        }}, 20000, window);  // the next modal after the mode window
        {
            const TSizeLimit limit(rlim_t(QFileInfo(path).size() + 10));
            QVERIFY(WaitFor([&] { return *done == 1 && QApplication::activeModalWidget() == window; }, 20000));
        }
        QVERIFY2(sentWhileShown >= 4, qPrintable(QString::number(sentWhileShown)));
        QVERIFY2(message.startsWith(QStringLiteral("Запись показаний прекращена")) &&
                     message.contains(QStringLiteral("Причина: на диске нет места.")),
                 qPrintable(message));
        QCOMPARE(window->windowTitle(), QStringLiteral("Режим TQ"));
        QVERIFY(window->RecordPath().isEmpty());
        const QByteArray kept = FileContent(path);
        for (const QByteArray &row : kept.split('\n').mid(1, kept.count('\n') - 1))
            QVERIFY2(row.endsWith(",on,28,30,12.50"), row.constData());
        WaitFor([] { return false; }, 500);
        QCOMPARE(FileContent(path), kept);  // nothing more
        QCOMPARE(QApplication::activeModalWidget(), window);  // and no second message
    }
};

QTEST_MAIN(TestFilesE2e)
#include "tst_files_e2e.moc"
