// The main window's configuration files and the mode windows' records, offscreen, driven
// through Qt's own file dialogs and the program's boxes as a person answers them: save and
// open, the questions before saving zeros, before opening values out of range and before
// replacing changes, a refused file, the comparison, a dropped file, a recorded run. Under
// Wine the files lie on a Z: path (beside the test program).

#include "CompareWindow.h"
#include "ConfigFiles.h"
#include "ConfigText.h"
#include "Generator_f.h"
#include "Globals.h"
#include "MainForm.h"
#include "ModeRecord.h"
#include "ModeTestRig.h"
#include "RegisterMap.h"
#include "TQ.h"
#include "dialog_driver.h"

#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace {

// A configuration within what every editing dialog allows.
TDeviceConfig Sample()
{
    TDeviceConfig c{};
    c.Tpu1DetectorCount = 1;
    c.Tpu1KFactor2 = 12000.0f;
    c.Tpu2KFactor2 = 1.5f;
    c.TprN1Max = 100000;
    c.TprKFactor1 = 2.25f;
    c.TprKFactor2 = 3.0f;
    c.PackCount = 500;
    c.PackFrequency = 1234.5f;
    c.PackVoltage = 4;
    c.TqFrequency = 10.0f;
    c.ImitTpuCount = 5;
    c.GenFFrequency = 12000.0f;
    c.GenTPeriod = 1000;
    c.GenICurrent1 = 24000;
    c.GenICurrent2 = 10;
    c.ImitTcResistance = 4;
    return c;
}

TRegisterBytes Words(const TDeviceConfig &config)
{
    return PackConfigRegistersOf(config);
}

QString SampleText()
{
    const TDeviceConfig sample = Sample();
    return QString::fromUtf8(ConfigFileText(sample, Words(sample), TConfigOrigin::Device(QStringLiteral("COM3"))));
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class TestConfigFiles : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<TForm1> form_;

    QString Path(const QString &name) const { return dir_->filePath(name); }
    void Write(const QString &name, const QByteArray &bytes)
    {
        QFile file(Path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QStringList Grid() const
    {
        QStringList texts;
        for (int r = 0; r < form_->StringGrid1->rowCount(); ++r)
            texts << form_->StringGrid1->item(r, 0)->text() + form_->StringGrid1->item(r, 1)->text();
        return texts;
    }
    QString Root() const { return form_->NodeAt(0)->text(0); }
    // The program holding the sample as after a read on COM3.
    void HoldSample()
    {
        DeviceConfig = Sample();
        form_->Files().ReadFromDevice(QStringLiteral("COM3"));
        form_->NodeAt(0)->setText(0, QString::fromUtf8(RootTextSaved));
        form_->ShowNode(form_->NodeAt(0));
    }
    void EditByHand()
    {
        form_->EditParameterFn = [](QWidget *, int) {
            DeviceConfig.PackVoltage = 5;
            return true;
        };
        EditedNodeIndex = 23;
        form_->N13Click();
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
    void init()
    {
        DeviceConfig = {};
        ExchangeState = 0;
        // Beside the test program: on Wine a Z: path, a folder of the Linux side.
        dir_ = std::make_unique<QTemporaryDir>(QCoreApplication::applicationDirPath() + QStringLiteral("/files-XXXXXX"));
        QVERIFY(dir_->isValid());
#ifdef Q_OS_WIN
        QVERIFY2(dir_->path().startsWith(QStringLiteral("Z:"), Qt::CaseInsensitive), qPrintable(dir_->path()));
#endif
        form_ = std::make_unique<TForm1>();
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }
    void cleanup()
    {
        driver::CancelTurns();
        form_.reset();
        dir_.reset();
    }

    // Saved, opened into zeros, changed by hand and saved again: each file holds the values
    // and where they came from.
    void saveAndOpenThroughDialogs()
    {
        HoldSample();
        QString offered;
        auto done = driver::InTurn({[&](QWidget *modal) {
            offered = modal->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
            driver::ChooseFile(modal, Path("a.json"));
        }});
        form_->SaveToFile->trigger();
        QCOMPARE(*done, 1);
        QVERIFY2(QRegularExpression(QStringLiteral("^Карвен-12Т \\d{4}-\\d\\d-\\d\\d \\d\\d-\\d\\d\\.json$")).match(offered).hasMatch(),
                 qPrintable(offered));
        const TConfigFileCheck saved = ReadConfigFile(ReadAll(Path("a.json")), TFileUse::Write, false);
        QVERIFY(saved.Ok());
        QCOMPARE(Words(saved.Config), Words(Sample()));
        QCOMPARE(saved.Origin.Port, QStringLiteral("COM3"));
        QVERIFY(saved.Origin.ReadAt.isValid());
        QVERIFY(saved.Origin.OpenedFrom.isEmpty() && !saved.Origin.ChangedByHand);

        DeviceConfig = {};
        form_->NodeAt(0)->setText(0, QString::fromUtf8(RootTextSaved));
        done = driver::InTurn({[&](QWidget *modal) { driver::ChooseFile(modal, Path("a.json")); }});
        form_->OpenFromFile->trigger();
        QCOMPARE(*done, 1);  // no question: nothing was changed by hand
        QCOMPARE(Words(DeviceConfig), Words(Sample()));
        QCOMPARE(Root(), QString::fromUtf8(RootTextModified));
        QCOMPARE(form_->GridRowCount(), 50);
        QVERIFY(Grid().contains(QStringLiteral("К-фактор (Кф2) 12000,00")));
        const QString opened = QDir::toNativeSeparators(QFileInfo(Path("a.json")).absoluteFilePath());
        QCOMPARE(form_->Files().Origin().OpenedFrom, opened);

        EditByHand();
        QVERIFY(form_->Files().Unsaved());
        done = driver::InTurn({[&](QWidget *modal) { driver::ChooseFile(modal, Path("b.json")); }});
        form_->SaveToFile->trigger();
        QCOMPARE(*done, 1);
        QVERIFY(!form_->Files().Unsaved());
        const TConfigFileCheck again = ReadConfigFile(ReadAll(Path("b.json")), TFileUse::Write, false);
        QVERIFY(again.Ok());
        QCOMPARE(again.Config.PackVoltage, uint8_t(5));
        QCOMPARE(again.Origin.OpenedFrom, opened);
        QCOMPARE(again.Origin.Port, QStringLiteral("COM3"));  // carried over from the file opened
        QVERIFY(again.Origin.ChangedByHand);
    }

    void zerosAsked_data()
    {
        QTest::addColumn<bool>("save");
        QTest::newRow("saved") << true;
        QTest::newRow("not saved") << false;
    }
    void zerosAsked()
    {
        QFETCH(bool, save);
        QString question;
        auto done = driver::InTurn({driver::Answer(save ? QStringLiteral("Сохранить") : QStringLiteral("Отмена"), &question),
                                    [&](QWidget *modal) { driver::ChooseFile(modal, Path("zeros.json")); }},
                                   3000);
        form_->SaveToFile->trigger();
        QVERIFY2(question.contains(QStringLiteral("не считана из прибора и не открыта из файла: в программе нулевые значения")),
                 qPrintable(question));
        QCOMPARE(*done, save ? 2 : 1);
        QCOMPARE(QFile::exists(Path("zeros.json")), save);
        if (save) {
            const QByteArray text = ReadAll(Path("zeros.json"));
            QVERIFY(!text.contains("\"read_at\"") && !text.contains("\"port\"") && !text.contains("\"opened_from\""));
        }
    }

    // Refused for every reason at once; nothing of the program changes.
    void refusedFileChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes");  // empty: the path is a folder
        QTest::addColumn<QStringList>("reasons");
        const QString text = SampleText();
        QTest::newRow("not JSON") << QByteArray("{\"format\": 1,,") << QStringList{"текст не является JSON: ошибка в строке 1"};
        QByteArray utf16("\xFF\xFE", 2);
        for (QChar c : text)
            utf16 += QByteArray(reinterpret_cast<const char *>(&c), 2);
        QTest::newRow("UTF-16") << utf16 << QStringList{"в кодировке UTF-16; сохраните его в UTF-8"};
        QTest::newRow("unknown and missing")
            << QString(text).replace("\"field\": \"PackCount\"", "\"field\": \"PackKount\"").toUtf8()
            << QStringList{"неизвестный параметр («field»: \"PackKount\")",
                           "«Пачка импульсов / Преднабор (N)» (PackCount): параметра нет в файле"};
        QTest::newRow("kinds and range")
            << WithValue(WithValue(WithValue(text, "PackVoltage", "\"0.25\""), "TprN1Max", "1.5"), "PackCount", "5000000").toUtf8()
            << QStringList{"(PackVoltage): значение \"0.25\" недопустимо; допускается один из кодов 0 (0.01), 1 (0.025)",
                           "(TprN1Max): значение 1.5 недопустимо; допускается целое число от 0 до 999999",
                           "(PackCount): значение 5000000 недопустимо; допускается целое число от 0 до 999999"};
        QTest::newRow("folder") << QByteArray() << QStringList{"Причина: это папка, а не файл"};
    }
    void refusedFileChangesNothing()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, reasons);
        HoldSample();
        const QStringList grid = Grid();
        QString path = dir_->path();
        if (!bytes.isEmpty()) {
            Write("refused.json", bytes);
            path = Path("refused.json");
        }
        QString message;
        auto done = driver::InTurn({driver::Answer(QStringLiteral("OK"), &message)});
        QVERIFY(!form_->Files().OpenFile(path));
        QCOMPARE(*done, 1);  // one message, no question
        QVERIFY2(message.startsWith(QStringLiteral("Конфигурация из файла не открыта.")), qPrintable(message));
        for (const QString &reason : reasons)
            QVERIFY2(message.contains(reason), qPrintable(message));
        QVERIFY(message.contains(QStringLiteral("Значения в программе не изменены.")) || bytes.isEmpty());
        QCOMPARE(Words(DeviceConfig), Words(Sample()));
        QCOMPARE(Grid(), grid);
        QCOMPARE(Root(), QString::fromUtf8(RootTextSaved));
        QCOMPARE(form_->Files().Origin().Port, QStringLiteral("COM3"));
    }

    void outOfRangeQuestion_data()
    {
        QTest::addColumn<bool>("open");
        QTest::newRow("opened anyway") << true;
        QTest::newRow("not opened") << false;
    }
    void outOfRangeQuestion()
    {
        QFETCH(bool, open);
        HoldSample();
        Write("range.json", WithValue(WithValue(SampleText(), "PackCount", "5000000"), "Tpu1KFactor2", "0.5").toUtf8());
        QString question;
        auto done = driver::InTurn({driver::Answer(open ? QStringLiteral("Открыть") : QStringLiteral("Не открывать"), &question)}, 3000);
        QCOMPARE(form_->Files().OpenFile(Path("range.json")), open);
        QCOMPARE(*done, 1);
        QVERIFY2(question.contains(QStringLiteral("(PackCount): значение 5000000 недопустимо; допускается целое число от 0 до 999999"))
                     && question.contains(QStringLiteral("(Tpu1KFactor2): значение 0.5 недопустимо; допускается число от 1 "
                                                         "до 99999.99, не более двух знаков после запятой")),
                 qPrintable(question));
        TDeviceConfig expected = Sample();
        if (open) {
            expected.PackCount = 5000000;
            expected.Tpu1KFactor2 = 0.5f;
        }
        QCOMPARE(Words(DeviceConfig), Words(expected));
        QCOMPARE(Root(), QString::fromUtf8(open ? RootTextModified : RootTextSaved));
    }

    void unsavedChangesQuestion_data()
    {
        QTest::addColumn<bool>("replace");
        QTest::newRow("replaced") << true;
        QTest::newRow("kept") << false;
    }
    void unsavedChangesQuestion()
    {
        QFETCH(bool, replace);
        Write("other.json", WithValue(SampleText(), "PackCount", "777").toUtf8());
        HoldSample();
        EditByHand();
        QString question;
        auto done = driver::InTurn({driver::Answer(replace ? QStringLiteral("Заменить") : QStringLiteral("Отмена"), &question)}, 3000);
        QCOMPARE(form_->Files().OpenFile(Path("other.json")), replace);
        QCOMPARE(*done, 1);
        QVERIFY2(question.contains(QStringLiteral("изменены вручную и ещё не записаны в прибор и не сохранены")), qPrintable(question));
        QCOMPARE(DeviceConfig.PackCount, replace ? 777u : Sample().PackCount);
        QCOMPARE(DeviceConfig.PackVoltage, uint8_t(replace ? Sample().PackVoltage : 5));
        QCOMPARE(form_->Files().Unsaved(), !replace);
    }

    void compare_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("rows");  // group|name|in the file|in the program; none: the same
        const QString text = SampleText();
        QTest::newRow("same") << text << QStringList{};
        QTest::newRow("differs")
            << WithValue(WithValue(WithValue(text, "PackVoltage", "2"), "TprKFactor1", "1234.56"), "PackCount", "5000000")
            << QStringList{"ТПР по ТПР|К-фактор для канала 1 (Кф1)|1234,56|2,25", "Пачка импульсов|Преднабор (N)|5000000|500",
                           "Пачка импульсов|Напряжение (U), В|0.05|0.25"};
        QTest::newRow("no number in the file")
            << WithValue(text, "Tpu2KFactor2", "null") << QStringList{"ТПР по ТПУ2|К-фактор (Кф2)|NAN|1,50"};
    }
    void compare()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, rows);
        HoldSample();
        Write("compare.json", file.toUtf8());
        QStringList shown;
        QString about;
        auto done = driver::InTurn({[&](QWidget *modal) { driver::ChooseFile(modal, Path("compare.json")); },
                                    [&](QWidget *modal) {
                                        if (auto *window = qobject_cast<TCompareWindow *>(modal)) {
                                            about = window->About->text();
                                            for (int r = 0; r < window->Grid->rowCount(); ++r) {
                                                QStringList cells;
                                                for (int c = 0; c < 4; ++c)
                                                    cells << window->Grid->item(r, c)->text();
                                                shown << cells.join('|');
                                            }
                                            window->CloseButton->click();
                                        } else {
                                            about = qobject_cast<QMessageBox *>(modal)->text();
                                            driver::Click(modal, QStringLiteral("OK"));
                                        }
                                    }});
        form_->CompareWithFile->trigger();
        QCOMPARE(*done, 2);
        QCOMPARE(shown, rows);
        if (rows.isEmpty())
            QCOMPARE(about, QStringLiteral("Конфигурации совпадают"));
        else
            QVERIFY2(about.contains(QStringLiteral("считаны из прибора")) && about.contains(QStringLiteral("порт COM3")),
                     qPrintable(about));
        QCOMPARE(Words(DeviceConfig), Words(Sample()));  // a comparison changes nothing
        QCOMPARE(Root(), QString::fromUtf8(RootTextSaved));
    }

    void droppedFile_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("opened");
        QTest::newRow("a .json file") << QStringList{"dropped.JSON"} << true;
        QTest::newRow("another kind") << QStringList{"dropped.txt"} << false;
        QTest::newRow("two files") << QStringList{"dropped.json", "dropped.JSON"} << false;
    }
    void droppedFile()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, opened);
        HoldSample();
        QList<QUrl> urls;
        for (const QString &name : names) {
            Write(name, WithValue(SampleText(), "PackCount", "777").toUtf8());
            urls << QUrl::fromLocalFile(Path(name));
        }
        QMimeData data;
        data.setUrls(urls);
        const QPoint at = form_->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        enter.setAccepted(false);
        QApplication::sendEvent(form_.get(), &enter);
        QCOMPARE(enter.isAccepted(), opened);
        if (opened) {
            QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(form_.get(), &drop);
        }
        QVERIFY(WaitFor([] { return DeviceConfig.PackCount == 777; }, opened ? 5000 : 200) == opened);
        QCOMPARE(Root(), QString::fromUtf8(opened ? RootTextModified : RootTextSaved));
    }

    // Switching the record on asks for its folder, starting in the user's documents; a
    // folder not chosen leaves it off; switching it off asks nothing.
    void recordFolderAsked_data()
    {
        QTest::addColumn<bool>("choose");
        QTest::newRow("chosen") << true;
        QTest::newRow("not chosen") << false;
    }
    void recordFolderAsked()
    {
        QFETCH(bool, choose);
        QString start;
        auto done = driver::InTurn({[&](QWidget *modal) {
            start = qobject_cast<QFileDialog *>(modal)->directory().absolutePath();
            if (choose)
                driver::ChooseFile(modal, dir_->path());
            else
                modal->close();
        }});
        form_->RecordReadings->trigger();
        QCOMPARE(*done, 1);
        if (QFileInfo(TConfigFiles::DocumentsFolder()).isDir())
            QCOMPARE(QDir(start), QDir(TConfigFiles::DocumentsFolder()));
        QCOMPARE(form_->RecordReadings->isChecked(), choose);
        QCOMPARE(form_->RecordFolder().isEmpty(), !choose);
        if (choose)
            QCOMPARE(QDir(form_->RecordFolder()), QDir(dir_->path()));
        done = driver::InTurn({driver::Answer(QStringLiteral("OK"))}, 500);
        if (choose)
            form_->RecordReadings->trigger();
        QVERIFY(!form_->RecordReadings->isChecked() && form_->RecordFolder().isEmpty());
        QCOMPARE(*done, 0);
    }

    // While the device is being read or written, no file command acts: the read's second
    // block would land in the record after the file's values.
    void busyDevice_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("state");
        QTest::newRow("save during a read") << "SaveToFile" << 1;
        QTest::newRow("open with a read answer in") << "OpenFromFile" << 3;
        QTest::newRow("compare during a write") << "CompareWithFile" << 4;
    }
    void busyDevice()
    {
        QFETCH(QString, command);
        QFETCH(int, state);
        HoldSample();
        ExchangeState = state;
        QString message;
        auto done = driver::InTurn({driver::Answer(QStringLiteral("OK"), &message), driver::Answer(QStringLiteral("OK"))}, 2000);
        form_->findChild<QAction *>(command)->trigger();
        ExchangeState = 0;
        QCOMPARE(*done, 1);  // the message alone, no file dialog
        QCOMPARE(message, QStringLiteral("Идёт обмен с прибором. Дождитесь его окончания и повторите."));
    }

    // The shell's record: one row per values answer (per status answer without values),
    // the caption naming the file.
    void recordedRun_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("rows");  // without the time
        QTest::newRow("values") << "Режим TQ" << QStringList{"on,28,30,12.50", "off,28,30,12.50"};
        QTest::newRow("status only") << "Генератор f" << QStringList{"off", "on", "on"};
    }
    void recordedRun()
    {
        QFETCH(QString, mode);
        QFETCH(QStringList, rows);
        const bool values = mode == QStringLiteral("Режим TQ");
        std::unique_ptr<TModeWindow> window;
        std::function<void(const QByteArray &)> feed;
        if (values) {
            auto *w = new FakeLinkWindow<TfmTQ>(form_.get());
            feed = [w](const QByteArray &bytes) { w->Feed(bytes); };
            window.reset(w);
        } else {
            auto *w = new FakeLinkWindow<TfmGenerator_f>(form_.get());
            feed = [w](const QByteArray &bytes) { w->Feed(bytes); };
            window.reset(w);
        }
        const QString caption = window->windowTitle();
        QVERIFY(window->StartRecording(dir_->path(), mode));
        window->show();
        const QString file = QFileInfo(window->RecordPath()).fileName();
        QVERIFY2(QRegularExpression(QStringLiteral("^%1 \\d{4}-\\d\\d-\\d\\d \\d\\d-\\d\\d-\\d\\d\\.csv$").arg(mode)).match(file).hasMatch(),
                 qPrintable(file));
        QCOMPARE(window->windowTitle(), QStringLiteral("%1  [запись: %2]").arg(caption, file));

        auto exchange = [&](const char *hex) {
            window->Timer1Timer();
            feed(AppendDeviceCrc(HexBytes(hex)));
            window->Timer1Timer();
        };
        if (values) {
            exchange("0A 01 01 10");                                      // on
            exchange("0A 04 0C 00 1C 00 00 00 1E 00 00 00 00 41 48");     // 28, 30, 12.5
            exchange("0A 01 01 00");                                      // off
            exchange("0A 04 04 00 1C 00 00");                             // short: the rest kept
        } else {
            exchange("0A 01 01 00");
            exchange("0A 01 01 40");
            exchange("0A 01 01 FF");
        }
        QStringList lines = QString::fromUtf8(ReadAll(window->RecordPath())).split('\n', Qt::SkipEmptyParts);
        QVERIFY(!lines.isEmpty());
        QCOMPARE(lines.takeFirst() + '\n', TModeRecord(*FindModeMap(values ? u"tq" : u"gen-f")).CsvHeader());
        for (QString &line : lines)
            line = line.section(',', 1);
        QCOMPARE(lines, rows);
    }
};

QTEST_MAIN(TestConfigFiles)
#include "tst_configfiles.moc"
