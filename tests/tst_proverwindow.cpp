// The processing window "Обработка проходов" offscreen: a hand-made record with known N and
// T opened from the main window's menu, its table and results against a reference computed
// here, a measurement left out, the protocol read back from the PDF, the clipboard and Excel
// tables parsed as a Russian spreadsheet reads them, the prover profiles kept, and refused
// records named by their line.

#include "ConfigFileCommands.h"
#include "Globals.h"
#include "MainForm.h"
#include "MessageBoxCloser.h"
#include "ModeMap.h"
#include "ModeRecordRows.h"
#include "ProverWindow.h"
#include "RecordMaker.h"
#include "RunChart.h"
#include "RunMemory.h"
#include "RunReport.h"
#include "TestFiles.h"
#include "WaitFor.h"
#include "dialog_driver.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace ProverRun;

namespace {

// The passes of the hand-made record: pulses with fractions and seconds (whole µs).
struct TPass {
    double N;
    double Seconds;
};
const std::vector<TPass> Passes{{5001.37, 20.012345}, {4999.02, 19.987001}, {5003.55, 20.101010},
                                {4998.40, 19.950500}, {5000.91, 20.033333}};
constexpr double Volume = 50.125;  // litres, section 1-2

// A TPR-by-TPU record of a one-directional prover with 2 detectors whose values are set at
// the closing detector.
QByteArray HandMadeRecord()
{
    TProverScript script;
    for (const TPass &pass : Passes)
        script.Passes.push_back({0, pass.N, pass.Seconds, 3});
    return Play(script).Text();
}

// The series' statistics computed here, apart from the core: K = N / V, the mean, the
// relative standard deviation (Welford's running sums) and the range.
struct TReference {
    std::vector<double> K;
    double Mean = 0, Sko = 0, Range = 0;
};

TReference Reference(const std::set<int> &excluded)
{
    TReference r;
    double mean = 0, m2 = 0, low = INFINITY, high = -INFINITY;
    int n = 0;
    for (size_t i = 0; i < Passes.size(); ++i) {
        const double k = Passes[i].N / Volume;
        r.K.push_back(k);
        if (excluded.count(int(i) + 1))
            continue;
        ++n;
        const double delta = k - mean;
        mean += delta / n;
        m2 += delta * (k - mean);
        low = std::min(low, k), high = std::max(high, k);
    }
    r.Mean = mean;
    r.Sko = std::sqrt(m2 / (n - 1)) / mean * 100;
    r.Range = (high - low) / mean * 100;
    return r;
}

QChar Sign()
{
    return QLocale().decimalPoint().front();
}

QString Cell(const QTableWidget *table, int row, int column)
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QStringLiteral("(none)");
}

// The value of a results line of the window (its name, then the value's cell).
QString ResultValue(const TfmProverRun &window, const QString &name)
{
    const QRegularExpression cell(QRegularExpression::escape(name) + QStringLiteral("[^<]*</td><td[^>]*>([^<]*)<"));
    const QRegularExpressionMatch match = cell.match(window.ResultsLabel->text());
    return match.hasMatch() ? match.captured(1) : QStringLiteral("(none)");
}

}  // namespace

class TestProverWindow : public QObject {
    Q_OBJECT

    QTemporaryDir dir_{TestFolder() + QStringLiteral("/proverwindow-XXXXXX")};
    QString record_;
    TProverContext context_;

    QString Path(const QString &name) const { return dir_.filePath(name); }

    // The window with the record read and the profile's volume set.
    std::unique_ptr<TfmProverRun> OpenWindow(QSettings &settings)
    {
        auto window = std::make_unique<TfmProverRun>(nullptr, context_, settings);
        window->Volume12->setValue(Volume);
        window->Open(record_);
        if (!WaitFor([&] { return !window->Reading(); }))
            return nullptr;
        return window;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        // The program's settings in the test's own folder.
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.filePath(QStringLiteral("settings")));
        record_ = Path(QStringLiteral("ТПР по ТПУ1 2026-12-09 09-30-00.csv"));
        QVERIFY(PutFile(record_, HandMadeRecord()));
        context_.Port = QStringLiteral("COM3");
        context_.ConfigKnown = true;
        context_.Config.Tpu1KFactor2 = 99.75f;
        context_.ConfigSource = QStringLiteral("считана из прибора");
    }

    // The menu item under the recording one offers the last record, and its window shows the
    // record's measurements and the series' results as computed here; a measurement left
    // out leaves the series.
    void windowShowsTheRecord_data()
    {
        QTest::addColumn<std::set<int>>("excluded");
        QTest::newRow("all five") << std::set<int>{};
        QTest::newRow("the third left out") << std::set<int>{3};
        QTest::newRow("the first and last left out") << std::set<int>{1, 5};
    }
    void windowShowsTheRecord()
    {
        QFETCH(std::set<int>, excluded);
        // The program's configuration as read from the device: the channel's build and Кф2.
        TForm1 form;
        DeviceConfig = TDeviceConfig{};
        DeviceConfig.Tpu1KFactor2 = 99.75f;
        form.FileCommands().ReadFromDevice(QStringLiteral("COM3"));
        const QList<QAction *> items = form.N11->actions();
        QCOMPARE(items.indexOf(form.ProcessRecord), items.indexOf(form.RecordReadings) + 1);

        // The dialog offers the record last processed; the window opens with it.
        ProverSettings()->setValue(QStringLiteral("Prover/LastRecord"), record_);
        QString offered;
        QPointer<TfmProverRun> shown;
        QString firstRow;
        const TReference ref = Reference(excluded);
        bool checked = false;
        driver::InTurn({[&](QWidget *modal) {
                            auto *dialog = qobject_cast<QFileDialog *>(modal);
                            offered = dialog ? dialog->selectedFiles().value(0) : QString();
                            driver::ChooseFile(modal, record_);
                        },
                        [&](QWidget *modal) {
                            shown = qobject_cast<TfmProverRun *>(modal);
                            if (shown && WaitFor([&] { return !shown->Reading(); })) [&] {
                                shown->Volume12->setValue(Volume);
                                for (int number : excluded)
                                    shown->Table->item(number - 1, 0)->setCheckState(Qt::Unchecked);
                                Spin(50);
                                checked = true;
                                QTableWidget *t = shown->Table;
                                QCOMPARE(t->rowCount(), int(Passes.size()));
                                for (int r = 0; r < t->rowCount(); ++r) {
                                    QCOMPARE(Cell(t, r, 0), QString::number(r + 1));
                                    QCOMPARE(Cell(t, r, 1), QStringLiteral("1-2"));
                                    QCOMPARE(Cell(t, r, 2), Fixed(Passes[size_t(r)].N, Decimals::N, Sign()));
                                    QCOMPARE(Cell(t, r, 3), Fixed(Passes[size_t(r)].Seconds, Decimals::Seconds, Sign()));
                                    QCOMPARE(Cell(t, r, 6), Fixed(ref.K[size_t(r)], Decimals::K, Sign()));
                                    QCOMPARE(t->item(r, 0)->checkState(), excluded.count(r + 1) ? Qt::Unchecked : Qt::Checked);
                                }
                                QCOMPARE(ResultValue(*shown, QStringLiteral("Число измерений n")),
                                         QString::number(int(Passes.size() - excluded.size())));
                                QCOMPARE(ResultValue(*shown, QStringLiteral("Среднее K̄")), Fixed(ref.Mean, Decimals::K, Sign()));
                                QCOMPARE(ResultValue(*shown, QStringLiteral("СКО")), Fixed(ref.Sko, Decimals::Percent, Sign()));
                                QCOMPARE(ResultValue(*shown, QStringLiteral("Размах")), Fixed(ref.Range, Decimals::Percent, Sign()));
                                QCOMPARE(ResultValue(*shown, QStringLiteral("Кф2 канала")), Fixed(99.75, Decimals::K, Sign()));
                                QVERIFY2(shown->BuildSource->text().contains(QStringLiteral("из конфигурации прибора")),
                                         qPrintable(shown->BuildSource->text()));
                            }();
                            if (shown)
                                shown->CloseButton->click();
                        }});
        form.ProcessRecord->trigger();
        QCOMPARE(QDir::cleanPath(offered), QDir::cleanPath(record_));
        QVERIFY(shown.isNull());  // the window was freed when it closed
        QVERIFY(checked);
    }

    // The protocol's PDF read back holds every number of the table and the results, with
    // the decimal comma, in the program's font, and the words a lab signs; the companion
    // prints the same digits.
    void protocolReadsBack()
    {
        QSettings settings(Path(QStringLiteral("protocol.ini")), QSettings::IniFormat);
        auto window = OpenWindow(settings);
        QVERIFY(window);
        window->ProverName->setText(QStringLiteral("ТПУ «Сапфир-500»"));
        window->Operator->setText(QStringLiteral("Иванов И. И."));
        window->Table->item(2, 0)->setCheckState(Qt::Unchecked);
        Spin(50);
        const QString pdf = Path(QStringLiteral("протокол.pdf"));
        QVERIFY(window->SaveProtocolTo(pdf));
        // What the protocol must hold: the words, every number of the table, the results.
        QStringList expected{QStringLiteral("ТПУ «Сапфир-500»"), QStringLiteral("Иванов И. И."),
                             QStringLiteral("ТПР по ТПУ1 2026-12-09 09-30-00.csv"), QStringLiteral("COM3"),
                             QStringLiteral("Поправки на температуру и давление не вводились"),
                             QStringLiteral("Измерения провел")};
        for (const QStringList &row : MeasurementRows(window->Result(), QLatin1Char(',')))
            for (int c = 0; c < row.size(); ++c)
                if (NumberColumn(c) && row[c] != QStringLiteral("—"))
                    expected << row[c];
        const TReference reference = Reference({3});
        expected << Fixed(reference.Mean, Decimals::K, QLatin1Char(',')) << Fixed(reference.Sko, Decimals::Percent, QLatin1Char(','))
                 << Fixed(reference.Range, Decimals::Percent, QLatin1Char(','));
        // Under Wine the test's script reads the protocol back with the Linux pdftotext.
        if (const QString keep = qEnvironmentVariable("KARVEN_PROTOCOL_KEEP"); !keep.isEmpty()) {
            QFile::remove(keep);
            QVERIFY(QFile::copy(pdf, keep));
            QVERIFY(PutFile(keep + QStringLiteral(".expected"), expected.join(QLatin1Char('\n')).toUtf8() + '\n'));
        }
        // karven-cli passes prints the same digits, with a point.
        QProcess cli;
        cli.start(QString::fromUtf8(KARVEN_CLI_EXE), {QStringLiteral("passes"), record_, QStringLiteral("--volume"),
                                                   QStringLiteral("1-2=50.125"), QStringLiteral("--exclude"), QStringLiteral("3")});
        QVERIFY(cli.waitForFinished(30000));
        const QStringList cliLines = QString::fromUtf8(cli.readAllStandardOutput()).split(QLatin1Char('\n'));
        const QStringList head = cliLines.value(0).split(QLatin1Char(','));
        const std::vector<QStringList> rows = MeasurementRows(window->Result(), QLatin1Char('.'));
        const QList<QPair<QString, int>> columns{{QStringLiteral("n"), 2},      {QStringLiteral("t_s"), 3},
                                                 {QStringLiteral("f_hz"), 4},   {QStringLiteral("q_m3h"), 5},
                                                 {QStringLiteral("k_per_l"), 6}, {QStringLiteral("deviation_percent"), 7}};
        for (size_t r = 0; r < rows.size(); ++r)
            for (const auto &[name, column] : columns)
                QCOMPARE(cliLines.value(int(r) + 1).split(QLatin1Char(',')).value(int(head.indexOf(name))), QString(rows[r][column]).replace(QStringLiteral("—"), QString()));
        const QString series = cliLines.value(int(rows.size()) + 3);
        QVERIFY2(series.startsWith(QStringLiteral("1-2,4,%1,%2,%3,").arg(Fixed(reference.Mean, Decimals::K), Fixed(reference.Sko, Decimals::Percent),
                                                                        Fixed(reference.Range, Decimals::Percent))),
                 qPrintable(series));
        // The PDF read back (under Wine, where no pdftotext runs, by the test's script).
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty())
            QSKIP("no pdftotext here (poppler-utils; under Wine the test's script reads the protocol back)");
        QProcess process;
        process.start(pdftotext, {QStringLiteral("-layout"), QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        const QString text = QString::fromUtf8(process.readAllStandardOutput());
        for (const QString &words : expected)
            QVERIFY2(text.contains(words), qPrintable(words));
    }

    // The clipboard's and the Excel file's tables: every number parses under the decimal
    // sign they are written with, the sections are no dates, the Excel file begins with the
    // byte-order mark and separates fields with ";".
    void spreadsheetTables_data()
    {
        QTest::addColumn<bool>("excel");
        QTest::addColumn<QChar>("sign");
        QTest::newRow("Excel file") << true << QChar(u',');
        QTest::newRow("clipboard, decimal comma") << false << QChar(u',');
        QTest::newRow("clipboard, decimal point") << false << QChar(u'.');
    }
    void spreadsheetTables()
    {
        QFETCH(bool, excel);
        QFETCH(QChar, sign);
        QSettings settings(Path(QStringLiteral("tables.ini")), QSettings::IniFormat);
        auto window = OpenWindow(settings);
        QVERIFY(window);
        QString text;
        QChar separator = QLatin1Char('\t');
        if (excel) {
            const QString path = Path(QStringLiteral("таблица.csv"));
            QVERIFY(window->SaveExcelTo(path));
            const QByteArray bytes = FileContent(path);
            QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
            text = QString::fromUtf8(bytes.mid(3));
            QVERIFY(text.contains(QStringLiteral("\r\n")));
            separator = QLatin1Char(';');
        } else {
            text = ClipboardTable(window->Result(), window->Settings().Unit, sign);
            window->CopyTable();
            QCOMPARE(QApplication::clipboard()->text(), ClipboardTable(window->Result(), window->Settings().Unit, Sign()));
        }
        const QLocale locale = sign == QLatin1Char(',') ? QLocale(QLocale::Russian) : QLocale::c();
        const QStringList lines = text.split(QRegularExpression(QStringLiteral("\r?\n")));
        QCOMPARE(lines.value(0).split(separator), MeasurementHead(TVolumeUnit::Litre));
        for (int r = 1; r <= int(Passes.size()); ++r) {
            const QStringList fields = lines.value(r).split(separator);
            QCOMPARE(fields.size(), 9);
            for (int c = 0; c < fields.size(); ++c) {
                if (!NumberColumn(c))
                    continue;
                bool ok = false;
                locale.toDouble(fields[c], &ok);
                QVERIFY2(ok, qPrintable(QStringLiteral("line %1: %2").arg(r).arg(fields[c])));
            }
            QCOMPARE(locale.toDouble(fields[2]), Passes[size_t(r - 1)].N);
            // A spreadsheet would take "1-2" for a date.
            QVERIFY(!QRegularExpression(QStringLiteral("^\\d+[-./]\\d+$")).match(fields[1]).hasMatch());
        }
    }

    // The profiles are kept by name; saving one of a name replaces it; the lab's and the
    // operator's fields come back in the next window.
    void profilesKept()
    {
        QSettings settings(Path(QStringLiteral("profiles.ini")), QSettings::IniFormat);
        TRunMemory memory(settings);
        TProverProfile a{QStringLiteral("ТПУ-1/2"), QStringLiteral("17"), QStringLiteral("01.02.2026"), 50.125, 0, 0, 0,
                         TVolumeUnit::Litre, 0.05, TLimitFigure::Range};
        TProverProfile b{QStringLiteral("Большая"), QStringLiteral("9"), QString(), 0.5, 0.49, 0.3, 0.31,
                         TVolumeUnit::CubicMetre, 0.02, TLimitFigure::Sko};
        QVERIFY(memory.SaveProfile(a));
        QVERIFY(memory.SaveProfile(b));
        QVERIFY(!memory.SaveProfile(TProverProfile{}));
        a.Serial = QStringLiteral("18");
        QVERIFY(memory.SaveProfile(a));
        QCOMPARE(memory.ProfileNames(), (QStringList{a.Name, b.Name}));
        TProverProfile read;
        QVERIFY(memory.Profile(b.Name, read));
        QCOMPARE(read, b);
        QVERIFY(memory.Profile(a.Name, read));
        QCOMPARE(read.Serial, QStringLiteral("18"));
        memory.RemoveProfile(a.Name);
        QCOMPARE(memory.ProfileNames(), QStringList{b.Name});

        // A window chooses the last profile and keeps what was typed.
        memory.SetLastProfile(b.Name);
        {
            TfmProverRun window(nullptr, context_, settings);
            QCOMPARE(window.ProverName->text(), b.Name);
            QCOMPARE(window.UnitBox->currentText(), QStringLiteral("м³"));
            QCOMPARE(window.Volume34->value(), 0.3);
            window.Organisation->setText(QStringLiteral("ООО «Поверка»"));
            window.Operator->setText(QStringLiteral("Петров П. П."));
            window.reject();
        }
        QCOMPARE(memory.Lab().Organisation, QStringLiteral("ООО «Поверка»"));
        TfmProverRun again(nullptr, context_, settings);
        QCOMPARE(again.Operator->text(), QStringLiteral("Петров П. П."));
    }

    // A record that cannot be processed gets one message naming its line; the window stays.
    void refusedRecordNamesTheLine_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("line");
        const QList<QByteArray> lines = HandMadeRecord().split('\n');
        QList<QByteArray> bad = lines[3].split(',');
        bad[2] = "abc";
        QTest::newRow("another mode's record") << TModeRecordRows(ModeMapOf(TModeId::TprTpr)).CsvHeader().toUtf8() + "x\n" << 1;
        QTest::newRow("a bad row") << lines[0] + '\n' + lines[1] + '\n' + lines[2] + '\n' + bad.join(',') + '\n' << 4;
        QTest::newRow("a NUL") << lines[0] + '\n' + lines[1] + '\n' + lines[2].left(16) + '\0' + "\n" << 3;
    }
    void refusedRecordNamesTheLine()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, line);
        const QString path = Path(QStringLiteral("ТПР по ТПУ1 плохая.csv"));
        QVERIFY(PutFile(path, content));
        QSettings settings(Path(QStringLiteral("refused.ini")), QSettings::IniFormat);
        TfmProverRun window(nullptr, context_, settings);
        window.show();
        MessageBoxCollector boxes;
        window.Open(path);
        QVERIFY(WaitFor([&] { return !boxes.Texts.isEmpty(); }));
        Spin(100);
        QCOMPARE(boxes.Texts.size(), 1);
        QVERIFY2(boxes.Texts[0].contains(QStringLiteral("Строка %1").arg(line)), qPrintable(boxes.Texts[0]));
        QVERIFY(boxes.Texts[0].contains(QStringLiteral("ТПР по ТПУ1 плохая.csv")));
        QVERIFY(window.isVisible());
        QCOMPARE(window.Table->rowCount(), 0);
        QVERIFY(!window.SaveProtocolButton->isEnabled());
    }

    // The chart greys a measurement left out: the pixels that change are its band's, grey.
    void chartGreysAnExcludedBand()
    {
        QSettings settings(Path(QStringLiteral("chart.ini")), QSettings::IniFormat);
        auto window = OpenWindow(settings);
        QVERIFY(window);
        const QImage all = RunChartImage(window->Record(), window->Result(), QSize(900, 300));
        window->Table->item(1, 0)->setCheckState(Qt::Unchecked);
        QVERIFY(WaitFor([&] { return !window->Result().Measurements[1].Included; }));
        const QImage one = RunChartImage(window->Record(), window->Result(), QSize(900, 300));
        int changed = 0, grey = 0;
        for (int y = 0; y < all.height(); ++y)
            for (int x = 0; x < all.width(); ++x)
                if (const QColor c = one.pixelColor(x, y); c != all.pixelColor(x, y)) {
                    ++changed;
                    grey += std::abs(c.red() - c.blue()) < 24 && std::abs(c.red() - c.green()) < 24;
                }
        QVERIFY(changed > 1000);
        QVERIFY2(grey * 10 >= changed * 9, qPrintable(QStringLiteral("%1 of %2").arg(grey).arg(changed)));
    }

    // The window answers while a large record is read, and closing it ends the reading at once.
    void closingStopsTheReading()
    {
        const QString path = Path(QStringLiteral("ТПР по ТПУ1 большая.csv"));
        // A day and more of rows a second apart.
        const QList<QByteArray> lines = HandMadeRecord().split('\n');
        const QByteArray values = lines[10].mid(lines[10].indexOf(','));
        QByteArray big = lines[0] + '\n';
        const QDateTime start = TRecordMaker::DefaultStart();
        for (int r = 0; big.size() < 100 * 1024 * 1024; ++r)
            big += TModeRecordRows::TimeText(start.addSecs(r)).toLatin1() + values + '\n';
        QVERIFY(PutFile(path, big));
        QSettings settings(Path(QStringLiteral("closing.ini")), QSettings::IniFormat);
        TfmProverRun window(nullptr, context_, settings);
        window.show();
        window.Open(path);
        // The window's events go on while the record is read.
        QElapsedTimer clock;
        clock.start();
        Spin(100);
        QVERIFY2(clock.elapsed() < 600, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(window.Reading());
        clock.restart();
        window.reject();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!window.Reading());
    }
};

QTEST_MAIN(TestProverWindow)
#include "tst_proverwindow.moc"
