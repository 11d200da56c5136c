// The main window's configuration files and the mode windows' records, offscreen, driven
// through Qt's own file dialogs and the program's boxes as a person answers them. Under
// Wine the files lie on a Z: path (beside the test program).

#include "CompareWindow.h"
#include "ConfigFileCommands.h"
#include "ConfigText.h"
#include "Generator_f.h"
#include "Globals.h"
#include "MainForm.h"
#include "ModeRecordRows.h"
#include "ModeTestRig.h"
#include "RegisterMap.h"
#include "ResetGlobals.h"
#include "TQ.h"
#include "TestFiles.h"
#include "dialog_driver.h"

#include <QLabel>
#include <QMimeData>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace {

// A configuration within what every editing dialog allows.
TDeviceConfig Sample()
{
    TDeviceConfig c{};
    c.Tpu1DetectorCount = 1, c.PackVoltage = 4, c.ImitTcResistance = 4;
    c.Tpu1KFactor2 = 12000, c.Tpu2KFactor2 = 1.5f, c.TprKFactor1 = 2.25f, c.TprKFactor2 = 3;
    c.PackFrequency = 1234.5f, c.TqFrequency = 10, c.GenFFrequency = 12000;
    c.TprN1Max = 100000, c.PackCount = 500, c.ImitTpuCount = 5, c.GenTPeriod = 1000, c.GenICurrent1 = 24000, c.GenICurrent2 = 10;
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

}  // namespace

class TestConfigFileCommands : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<TForm1> form_;

    QString Path(const QString &name) const { return dir_->filePath(name); }
    void Write(const QString &name, const QString &text) { QVERIFY(PutFile(Path(name), text.toUtf8())); }
    std::function<void(QWidget *)> Choose(const QString &name)
    {
        return [path = Path(name)](QWidget *modal) { driver::ChooseFile(modal, path); };
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
        form_->FileCommands().ReadFromDevice(QStringLiteral("COM3"));
        form_->NodeAt(0)->setText(0, QString::fromUtf8(RootTextSaved));
        form_->ShowNode(form_->NodeAt(0));
    }
    void EditByHand()
    {
        form_->EditParameterFn = [](QWidget *, int) { DeviceConfig.PackVoltage = 5; return true; };
        EditedNodeIndex = 23;
        form_->N13Click();
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
    void init()
    {
        ResetGlobals();
        dir_ = std::make_unique<QTemporaryDir>(TestFolder() + QStringLiteral("/files-XXXXXX"));
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
        const TConfigFileCheck saved = ReadConfigFile(FileContent(Path("a.json")), TFileUse::Write, false);
        QVERIFY(saved.Ok());
        QCOMPARE(Words(saved.Config), Words(Sample()));
        QVERIFY(saved.Origin.ReadAt.isValid() && saved.Origin.Port == QStringLiteral("COM3"));
        QVERIFY(saved.Origin.OpenedFrom.isEmpty() && !saved.Origin.ChangedByHand);

        DeviceConfig = {};
        form_->NodeAt(0)->setText(0, QString::fromUtf8(RootTextSaved));
        done = driver::InTurn({Choose("a.json")});
        form_->OpenFromFile->trigger();
        QCOMPARE(*done, 1);  // no question: nothing was changed by hand
        QCOMPARE(Words(DeviceConfig), Words(Sample()));
        QCOMPARE(Root(), QString::fromUtf8(RootTextModified));
        QCOMPARE(form_->GridRowCount(), 50);
        QVERIFY(Grid().contains(QStringLiteral("К-фактор (Кф2) 12000,00")));
        const QString opened = QDir::toNativeSeparators(QFileInfo(Path("a.json")).absoluteFilePath());

        EditByHand();
        done = driver::InTurn({Choose("b.json")});
        form_->SaveToFile->trigger();
        QCOMPARE(*done, 1);
        QVERIFY(!form_->FileCommands().Unsaved());
        const TConfigFileCheck again = ReadConfigFile(FileContent(Path("b.json")), TFileUse::Write, false);
        QVERIFY(again.Ok() && again.Config.PackVoltage == 5);
        QCOMPARE(again.Origin.OpenedFrom, opened);
        QCOMPARE(again.Origin.Port, QStringLiteral("COM3"));  // carried over from the file opened
        QVERIFY(again.Origin.ChangedByHand);
    }

    // What the program asks, and what each answer does: saving the program's zeros, opening
    // values out of the dialogs' range, replacing changes not yet written or saved; and the
    // refusal of any file command while the device is being read or written.
    void questions_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("state");     // zeros, read, edited, busy
        QTest::addColumn<QStringList>("steps");  // a file to choose, or a button to click
        QTest::addColumn<QString>("says");
        QTest::addColumn<uint>("packCount");     // DeviceConfig.PackCount afterwards
        const QString zeros = "не считана из прибора и не открыта из файла: в программе нулевые значения";
        const QString range = "(PackCount): значение 5000000 недопустимо; допускается целое число от 0 до 999999\n\n"
                              "Открыть файл с этими значениями?";
        const QString changes = "изменены вручную и ещё не записаны в прибор и не сохранены в файл";
        const QString busy = "Идёт обмен с прибором. Дождитесь его окончания и повторите.";
        QTest::newRow("zeros saved") << "SaveToFile" << "zeros" << QStringList{"Сохранить", "out.json"} << zeros << 0u;
        QTest::newRow("zeros not saved") << "SaveToFile" << "zeros" << QStringList{"Отмена"} << zeros << 0u;
        QTest::newRow("out of range opened") << "OpenFromFile" << "read" << QStringList{"range.json", "Открыть"} << range << 5000000u;
        QTest::newRow("out of range not opened") << "OpenFromFile" << "read" << QStringList{"range.json", "Не открывать"} << range << 500u;
        QTest::newRow("changes replaced") << "OpenFromFile" << "edited" << QStringList{"other.json", "Заменить"} << changes << 777u;
        QTest::newRow("changes kept") << "OpenFromFile" << "edited" << QStringList{"other.json", "Отмена"} << changes << 500u;
        const QString single = "(Tpu1KFactor2): значение 16777217 недопустимо; допускается число от 1 до 99999,99, не более "
                               "двух знаков после запятой (открытое как есть, оно станет 16777216,00";
        QTest::newRow("beyond single precision") << "OpenFromFile" << "read" << QStringList{"single.json", "Открыть"} << single << 500u;
        QTest::newRow("save while reading") << "SaveToFile" << "busy" << QStringList{"OK"} << busy << 500u;
        QTest::newRow("compare while writing") << "CompareWithFile" << "busy" << QStringList{"OK"} << busy << 500u;
    }
    void questions()
    {
        QFETCH(QString, command);
        QFETCH(QString, state);
        QFETCH(QStringList, steps);
        QFETCH(QString, says);
        QFETCH(uint, packCount);
        Write("range.json", WithValue(WithValue(SampleText(), "PackCount", "5000000"), "Tpu1KFactor2", "0.5"));
        Write("other.json", WithValue(SampleText(), "PackCount", "777"));
        Write("single.json", WithValue(SampleText(), "Tpu1KFactor2", "16777217"));
        if (state != "zeros")
            HoldSample();
        if (state == "edited")
            EditByHand();
        QString said;
        std::vector<std::function<void(QWidget *)>> actions;
        for (const QString &step : steps)
            actions.push_back(step.endsWith(".json") ? Choose(step) : driver::Answer(step, &said));
        ExchangeState = state != "busy" ? ExchangeIdle : command == "SaveToFile" ? ExchangeReadSent : ExchangeWriteSent;
        auto done = driver::InTurn(actions, 3000);
        form_->findChild<QAction *>(command)->trigger();
        ExchangeState = ExchangeIdle;
        QCOMPARE(*done, int(steps.size()));  // no other box, no file dialog after a refusal
        QVERIFY2(said.contains(says), qPrintable(said));
        QCOMPARE(DeviceConfig.PackCount, packCount);
        QCOMPARE(QFile::exists(Path("out.json")), steps.contains("out.json"));
        QCOMPARE(form_->FileCommands().Unsaved(), state == "edited" && packCount == 500);
    }

    // A name without an extension gets ".json"; a write-protected file is asked about once
    // more (after the dialog's own "replace it?"), by its protection; without a documents
    // folder the dialog starts in the home folder with the default name.
    void saveNames_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");        // empty: nothing saved
        QTest::addColumn<QStringList>("answers");  // to the protection's question; none: not protected
        QTest::newRow("no extension") << "backup" << "backup.json" << QStringList{};
        QTest::newRow("another extension") << "backup.txt" << "backup.txt" << QStringList{};
        QTest::newRow("protected, replaced") << "kept.json" << "kept.json" << QStringList{"&Yes", "Заменить"};
        QTest::newRow("protected, kept") << "kept.json" << "" << QStringList{"&Yes", "Отмена"};
    }
    void saveNames()
    {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        QFETCH(QStringList, answers);
        HoldSample();
        if (!answers.isEmpty()) {
            Write(typed, "the earlier file");
            QVERIFY(QFile::setPermissions(Path(typed), QFile::ReadOwner | QFile::ReadGroup));
        }
        const QByteArray home = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(Path("home")));  // no Documents in it
        QVERIFY(QDir().mkpath(Path("home")));
        QString folder, name, asked;
        std::vector<std::function<void(QWidget *)>> steps{[&](QWidget *modal) {
            folder = qobject_cast<QFileDialog *>(modal)->directory().absolutePath();
            name = modal->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
            driver::ChooseFile(modal, Path(typed));
        }};
        for (const QString &answer : answers)
            steps.push_back(driver::Answer(answer, &asked));
        auto done = driver::InTurn(steps, 3000);
        form_->SaveToFile->trigger();
        qputenv("HOME", home);
        QCOMPARE(*done, int(steps.size()));
#ifdef Q_OS_WIN
        // Windows always gives a user a documents folder.
        QCOMPARE(QDir(folder), QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)));
#else
        QCOMPARE(QDir(folder), QDir(Path("home")));
#endif
        QVERIFY2(name.startsWith(QStringLiteral("Карвен-12Т ")), qPrintable(name));
        QVERIFY2(answers.isEmpty() || asked.contains("защищён от записи (только для чтения)"), qPrintable(asked));
        QCOMPARE(ReadConfigFile(FileContent(Path(saved.isEmpty() ? typed : saved)), TFileUse::Write, false).Ok(), !saved.isEmpty());
        QCOMPARE(QFile::exists(Path(typed)), !answers.isEmpty() || typed == saved);
        QVERIFY(answers.isEmpty() || !(QFile::permissions(Path(typed)) & QFile::WriteOwner));  // the mode is kept
    }

    // More values out of range than the question lists: all of them are in its details.
    void outOfRangeQuestionDetails()
    {
        QString text = SampleText();
        const char *fields[] = {"TprN1Min", "TprN1Max", "PackCount", "TqN1Min", "TqN1Max", "ImitTpuCount", "GenTPeriod",
                                "Tpu1KFactor2", "Tpu2KFactor2", "TprKFactor1", "TprKFactor2", "PackFrequency", "TqFrequency"};
        for (const char *field : fields)
            text = WithValue(text, field, "5000000");
        Write("many.json", text);
        QString said, details;
        auto done = driver::InTurn({[&](QWidget *modal) {
            said = static_cast<QMessageBox *>(modal)->text(), details = static_cast<QMessageBox *>(modal)->detailedText();
            driver::Click(modal, QStringLiteral("Не открывать"));
        }});
        QVERIFY(!form_->FileCommands().OpenFile(Path("many.json")) && *done == 1);
        QVERIFY2(said.contains("… и ещё 1 (все значения — в подробностях)"), qPrintable(said));
        for (const char *field : fields)
            QVERIFY2(details.contains(QStringLiteral("(%1): значение 5000000").arg(field)), field);
    }

    // Hand edits not yet written or saved are asked about on exit, by the button and by the
    // close box; the answer decides.
    void exitQuestion_data()
    {
        QTest::addColumn<QStringList>("steps");  // none: nothing edited
        QTest::addColumn<bool>("ends");
        QTest::newRow("nothing to lose") << QStringList{} << true;
        QTest::newRow("leave without saving") << QStringList{"Выйти без сохранения"} << true;
        QTest::newRow("cancel") << QStringList{"Отмена"} << false;
        QTest::newRow("save first") << QStringList{"Сохранить…", "exit.json"} << true;
        QTest::newRow("save cancelled") << QStringList{"Сохранить…", "cancel"} << false;
    }
    void exitQuestion()
    {
        QFETCH(QStringList, steps);
        QFETCH(bool, ends);
        QApplication::setQuitOnLastWindowClosed(false);  // the test goes on after the window closes
        HoldSample();
        if (!steps.isEmpty())
            EditByHand();
        for (bool closeBox : {false, true}) {
            QString said;
            std::vector<std::function<void(QWidget *)>> actions;
            for (const QString &step : steps)
                actions.push_back(step.endsWith(".json") ? Choose(step) : step == "cancel" ? [](QWidget *m) { m->close(); }
                                                                                            : driver::Answer(step, &said));
            auto done = driver::InTurn(actions, 3000);
            QCOMPARE(closeBox ? form_->close() : form_->MayExit(), ends);
            QCOMPARE(*done, int(steps.size()));
            QVERIFY(steps.isEmpty() || said.startsWith("Значения в программе изменены вручную"));
            QCOMPARE(QFile::exists(Path("exit.json")), steps.contains("exit.json"));
            if (ends)
                break;  // the close box's turn would need the edits again
        }
    }

    // Refused for every reason at once; nothing of the program changes.
    void refusedFileChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes");  // empty: the path is a folder
        QTest::addColumn<QStringList>("reasons");
        const QString text = SampleText();
        QTest::newRow("not JSON") << QByteArray("{\"format\": 1,,") << QStringList{"текст не является JSON: ошибка в строке 1"};
        const QByteArray utf16 = QByteArray("\xFF\xFE", 2) + QByteArray(reinterpret_cast<const char *>(text.utf16()), 2 * text.size());
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
        QTest::newRow("Windows-1251") << text.toUtf8().replace("\xD0\x9A", "\xCA")  // "К" as Notepad's ANSI writes it
                                      << QStringList{"файл записан не в кодировке UTF-8"};
        QTest::newRow("empty") << QByteArray("\n") << QStringList{"Причина: файл пуст."};
        QTest::newRow("decimal comma") << WithValue(text, "PackFrequency", "1234,5").toUtf8()
                                       << QStringList{"в числе запятая вместо точки; число пишется с точкой: 12000.5"};
    }
    void refusedFileChangesNothing()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, reasons);
        HoldSample();
        const QStringList grid = Grid();
        const QString path = bytes.isEmpty() ? dir_->path() : Path("refused.json");
        QVERIFY(bytes.isEmpty() || PutFile(path, bytes));
        QString message;
        auto done = driver::InTurn({driver::Answer(QStringLiteral("OK"), &message)});
        QVERIFY(!form_->FileCommands().OpenFile(path));
        QCOMPARE(*done, 1);  // one message, no question
        QVERIFY2(message.startsWith(QStringLiteral("Конфигурация из файла не открыта.")), qPrintable(message));
        for (const QString &reason : reasons)
            QVERIFY2(message.contains(reason), qPrintable(message));
        QCOMPARE(Words(DeviceConfig), Words(Sample()));
        QCOMPARE(Grid(), grid);
        QCOMPARE(Root(), QString::fromUtf8(RootTextSaved));
        QCOMPARE(form_->FileCommands().Origin().Port, QStringLiteral("COM3"));
    }

    void compare_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("rows");  // group|name|in the file|in the program; none: the same
        QTest::addColumn<QString>("program");   // the sample as read; "zeros"; "code 200" for PackVoltage
        QTest::addColumn<QString>("about");     // what the lines above the rows (or the box) say
        const QString text = SampleText();
        const QString read = "порт COM3";
        const QString zeros = "Значения в программе: конфигурация ещё не считана из прибора и не открыта из файла, "
                              "в программе нулевые значения.";
        QTest::newRow("same") << text << QStringList{} << "read" << "Конфигурации совпадают";
        QTest::newRow("differs")
            << WithValue(WithValue(WithValue(text, "PackVoltage", "2"), "TprKFactor1", "1234.56"), "PackCount", "5000000")
            << QStringList{"ТПР по ТПР|К-фактор для канала 1 (Кф1)|1234,56|2,25", "Пачка импульсов|Преднабор (N)|5000000|500",
                           "Пачка импульсов|Напряжение (U), В|0.05|0.25"} << "read" << read;
        QTest::newRow("no number in the file") << WithValue(text, "Tpu2KFactor2", "null") << QStringList{"ТПР по ТПУ2|К-фактор (Кф2)|NAN|1,50"}
                                               << "read" << read;
        // Two values the grid writes alike are shown exactly.
        QTest::newRow("rounded alike") << WithValue(text, "Tpu1KFactor2", "12000.004")
                                       << QStringList{"ТПР по ТПУ1|К-фактор (Кф2)|12000,004|12000"} << "read" << read;
        QTest::newRow("two invalid codes") << WithValue(text, "PackVoltage", "201")
                                           << QStringList{"Пачка импульсов|Напряжение (U), В|Ошибка данных (код 201)|Ошибка данных (код 200)"}
                                           << "code 200" << read;
        // The program's zeros are told as such.
        QTest::newRow("with the program's zeros") << WithValue(text, "PackCount", "0")
                                                  << QStringList{} << "zeros" << "Конфигурации совпадают\n\n" + zeros;
        QTest::newRow("differs from the program's zeros") << text << QStringList{} << "zeros" << zeros;
    }
    void compare()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, rows);
        QFETCH(QString, program);
        QFETCH(QString, about);
        if (program == "zeros")
            file = QString::fromUtf8(ConfigFileText(TDeviceConfig{}, Words(TDeviceConfig{}), {}));
        if (program == "zeros" && !about.startsWith("Конфигурации"))
            file = WithValue(file, "PackCount", "7");
        if (program != "zeros")
            HoldSample();
        if (program == "code 200")
            DeviceConfig.PackVoltage = 200;
        const TDeviceConfig held = DeviceConfig;
        Write("compare.json", file);
        QStringList shown;
        QString said;
        auto done = driver::InTurn({Choose("compare.json"), [&](QWidget *modal) {
                                        auto *window = qobject_cast<TCompareWindow *>(modal);
                                        for (int r = 0; window && r < window->Grid->rowCount(); ++r) {
                                            QStringList cells;
                                            for (int c = 0; c < 4; ++c)
                                                cells << window->Grid->item(r, c)->text();
                                            shown << cells.join('|');
                                        }
                                        said = window ? window->About->text() : qobject_cast<QMessageBox *>(modal)->text();
                                        modal->close();
                                    }});
        form_->CompareWithFile->trigger();
        QCOMPARE(*done, 2);
        if (program != "zeros" || about.startsWith("Конфигурации"))
            QCOMPARE(shown, rows);
        else
            QCOMPARE(shown, QStringList{"Пачка импульсов|Преднабор (N)|7|0"});
        QVERIFY2(about.startsWith("Конфигурации") ? said == about : said.contains(about), qPrintable(said));
        QCOMPARE(Words(DeviceConfig), Words(held));  // a comparison changes nothing
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
            Write(name, WithValue(SampleText(), "PackCount", "777"));
            urls << QUrl::fromLocalFile(Path(name));
        }
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(400, 300), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        enter.setAccepted(false);
        QApplication::sendEvent(form_.get(), &enter);
        QCOMPARE(enter.isAccepted(), opened);
        QDropEvent drop(QPointF(400, 300), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form_.get(), &drop);
        QCOMPARE(WaitFor([] { return DeviceConfig.PackCount == 777; }, opened ? 5000 : 200), opened);
        QCOMPARE(Root(), QString::fromUtf8(opened ? RootTextModified : RootTextSaved));
    }

    // The shell's record: one row per values answer (per status answer without values),
    // the caption naming the file.
    void recordedRun_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("rows");  // without the time
        QTest::newRow("values") << "Режим TQ"
                                << QStringList{"0A 01 01 10", "0A 04 0C 00 1C 00 00 00 1E 00 00 00 00 41 48", "0A 01 01 00",
                                               "0A 04 04 00 1C 00 00"}  // a short one: the rest kept
                                << QStringList{"on,28,30,12.50", "off,28,30,12.50"};
        QTest::newRow("status only") << "Генератор f" << QStringList{"0A 01 01 00", "0A 01 01 40", "0A 01 01 FF"}
                                     << QStringList{"off", "on", "on"};
    }
    void recordedRun()
    {
        QFETCH(QString, mode);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, rows);
        const bool values = mode == QStringLiteral("Режим TQ");
        auto *tq = values ? new FakeLinkWindow<TfmTQ>(form_.get()) : nullptr;
        auto *gen = values ? nullptr : new FakeLinkWindow<TfmGenerator_f>(form_.get());
        std::unique_ptr<TModeWindow> window(tq ? static_cast<TModeWindow *>(tq) : gen);
        const QString caption = window->windowTitle();
        QVERIFY(window->StartRecording(dir_->path(), mode));
        window->show();
        const QString file = QFileInfo(window->RecordPath()).fileName();
        QVERIFY2(QRegularExpression(QStringLiteral("^%1 \\d{4}-\\d\\d-\\d\\d \\d\\d-\\d\\d-\\d\\d\\.csv$").arg(mode)).match(file).hasMatch(),
                 qPrintable(file));
        QCOMPARE(window->windowTitle(), QStringLiteral("%1  [запись: %2]").arg(caption, file));
        for (const QString &answer : answers) {
            window->Timer1Timer();
            const QByteArray bytes = AppendDeviceCrc(HexBytes(answer.toLatin1().constData()));
            tq ? tq->Feed(bytes) : gen->Feed(bytes);
            window->Timer1Timer();
        }
        QStringList lines = QString::fromUtf8(FileContent(window->RecordPath())).split('\n', Qt::SkipEmptyParts);
        QVERIFY(!lines.isEmpty());
        QCOMPARE(lines.takeFirst() + '\n', TModeRecordRows(*FindModeMap(values ? u"tq" : u"gen-f")).CsvHeader());
        for (QString &line : lines)
            line = line.section(',', 1);
        QCOMPARE(lines, rows);
    }
};

QTEST_MAIN(TestConfigFileCommands)
#include "tst_configfilecommands.moc"
