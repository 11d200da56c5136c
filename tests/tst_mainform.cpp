// The main window offscreen: tree, grid, menus, geometry, the edit pop-up, About, JPEG.
#include "About.h"
#include "CPortCtl.h"
#include "Generator_T.h"
#include "Generator_TC.h"
#include "Generator_f.h"
#include "Globals.h"
#include "Imitation_TPU.h"
#include "JpegImage.h"
#include "MainForm.h"
#include "MessageBoxCloser.h"
#include "ModeMap.h"
#include "ResetGlobals.h"
#include "TPR_TPR.h"
#include "TPR_TPU.h"
#include "TQ.h"
#include "UserGuide.h"
#include "ValueText.h"
#include "freq_counter.h"
#include "pack_pulses.h"

#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <cstdio>
#include <jpeglib.h>

namespace {

// Encodes a width × height RGB picture, left half `left`, right half `right`.
QByteArray EncodeJpeg(int width, int height, QColor left, QColor right, bool gray = false)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char *out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = gray ? 1 : 3;
    cinfo.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<unsigned char> row(size_t(width) * cinfo.input_components);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QColor c = x < width / 2 ? left : right;
            if (gray)
                row[x] = uint8_t(c.red());
            else {
                row[3 * x] = uint8_t(c.red());
                row[3 * x + 1] = uint8_t(c.green());
                row[3 * x + 2] = uint8_t(c.blue());
            }
        }
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&cinfo, &p, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray result(reinterpret_cast<const char *>(out), int(outSize));
    std::free(out);
    return result;
}

bool Near(QColor a, QColor b, int tolerance = 24)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

QStringList Texts(const QList<QAction *> &actions)
{
    QStringList list;
    for (QAction *a : actions)
        list << a->text();
    return list;
}

// Runs check on the next modal window that appears, then lets the event loop go on.
void OnModal(std::function<void(QWidget *)> check)
{
    auto *timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, check] {
        if (QWidget *w = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            check(w);
            if (w->isVisible())
                w->close();  // a failed check must not leave the window waiting
        }
    });
    timer->start();
}

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

// The window of each mode, as its menu item opens it.
TModeWindow *ModeWindowOf(TModeId id)
{
    switch (id) {
    case TModeId::TprTpu1:
    case TModeId::TprTpu2: {
        auto *window = new TfmTPR_TPU;
        window->SelectTPU(id == TModeId::TprTpu1);
        return window;
    }
    case TModeId::TprTpr: return new TfmTPR_TPR;
    case TModeId::FreqCounter: return new Tfmfreq_counter;
    case TModeId::PackPulses: return new Tfmpack_pulses;
    case TModeId::Tq: return new TfmTQ;
    case TModeId::ImitationTpu: return new TfmImitation_TPU;
    case TModeId::GeneratorF: return new TfmGenerator_f;
    case TModeId::GeneratorT: return new TfmGenerator_T;
    case TModeId::TcImitation: return new TfmGenerator_TC;
    }
    return nullptr;
}

// Shows the window on the screen and checks that each of its controls can be reached: the
// window's frame lies in the screen's free area, and each control lies in the window or in
// the content of a scroll area that lies in the window. Returns whether the window scrolls.
bool ShownReachable(QWidget *window, QScreen *screen)
{
    const QRect free = screen->availableGeometry();
    window->setScreen(screen);
    window->move(free.topLeft());
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        return false;
    const QString title = window->windowTitle();
    auto *area = window->findChild<QScrollArea *>();
    auto *main = qobject_cast<QMainWindow *>(window);
    QWidget *content = area ? area->widget() : main ? main->centralWidget() : window;
    QWidget *view = area ? area : content;
    [&] {
        QCOMPARE(window->screen(), screen);
        if (auto *mode = qobject_cast<TModeWindow *>(window))
            QVERIFY2(mode->Button2->isVisibleTo(window), qPrintable(title));
        QVERIFY2(free.contains(window->frameGeometry()), qPrintable(title));
        QVERIFY2(window->rect().contains(QRect(view->mapTo(window, QPoint()), view->size())), qPrintable(title));
        for (QWidget *control : content->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (control->isVisibleTo(window))
                QVERIFY2(content->rect().contains(control->geometry()), qPrintable(title + ": " + control->metaObject()->className()));
        }
    }();
    return area != nullptr;
}

}  // namespace

class TestMainForm : public QObject {
    Q_OBJECT

    TForm1 *form = nullptr;

    QPoint NodePoint(int index)
    {
        QTreeWidgetItem *node = form->NodeAt(index);
        form->TreeView1->scrollToItem(node);
        return form->TreeView1->visualItemRect(node).center();
    }
    void Click(Qt::MouseButton button, QPoint at)
    {
        QTest::mouseClick(form->TreeView1->viewport(), button, {}, at);
        QCoreApplication::processEvents();
    }
    void KeyboardMenu()
    {
        const QPoint at = form->TreeView1->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Keyboard, at, form->TreeView1->mapToGlobal(at));
        QApplication::sendEvent(form->TreeView1, &event);
        QCoreApplication::processEvents();
    }
    QStringList Column(int column)
    {
        QStringList list;
        for (int r = 0; r < form->StringGrid1->rowCount(); ++r)
            list << form->StringGrid1->item(r, column)->text();
        return list;
    }

private slots:
    void init()
    {
        ResetGlobals();
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        form = new TForm1;
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        QVERIFY(!form->PopupMenu1->isVisible());
    }
    void cleanup()
    {
        form->PopupMenu1->hide();
        delete form;
        form = nullptr;
        QLocale::setDefault(QLocale::c());
    }

    void startState()
    {
        QVERIFY(form->CreatedOk());
        QCOMPARE(form->TreeView1->topLevelItemCount(), 1);
        QCOMPARE(form->NodeAt(0)->text(0), QStringLiteral("Карвен-12Т*"));
        QCOMPARE(form->NodeAt(0)->childCount(), 10);
        // Absolute indices follow the depth-first order.
        int index = 0;
        std::function<void(QTreeWidgetItem *)> walk = [&](QTreeWidgetItem *n) {
            QCOMPARE(form->AbsoluteIndex(n), index);
            QCOMPARE(form->NodeAt(index), n);
            ++index;
            for (int i = 0; i < n->childCount(); ++i)
                walk(n->child(i));
        };
        walk(form->NodeAt(0));
        QCOMPARE(index, 50);
        QCOMPARE(form->NodeAt(36)->text(0), QStringLiteral("Генератор Т"));  // Cyrillic Т
        QCOMPARE(form->NodeAt(38)->text(0), QStringLiteral("Значание амплитуды сигнала (U), В"));
        QCOMPARE(form->NodeAt(39)->childCount(), 8);
        QVERIFY(!(form->NodeAt(7)->flags() & Qt::ItemIsEditable));
        QCOMPARE(form->TreeView1->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(form->TreeView1->indentation(), 19);
        QVERIFY(!form->AutoPopup);
        QVERIFY(!form->TimerReadCfgInPribor->isActive());
        QCOMPARE(form->TimerReadCfgInPribor->interval(), 100);
        QVERIFY(!form->TimerWaitAnswer->isActive());
        QCOMPARE(form->TimerWaitAnswer->interval(), 1000);
        QCOMPARE(form->ComComboBox1->ComPort(), form->ComPort1);
        QCOMPARE(form->ComComboBox1->ComProperty(), cpPort);
        QCOMPARE(form->ComPort1->StopBits, sbTwoStopBits);
        QCOMPARE(form->ComPort1->BaudRate, br9600);
    }

    void geometry()
    {
        QCOMPARE(form->windowTitle(), QStringLiteral("Карвен-12Т   \"ТОРВИК-3\""));
        QCOMPARE(form->Client->size(), QSize(816, 679));
        QCOMPARE(form->Client->y(), form->menuBar()->geometry().bottom() + 1);
        QCOMPARE(form->size(), QSize(816, 679 + form->menuBar()->height()));
        QCOMPARE(form->minimumSize(), form->maximumSize());
        const Qt::WindowFlags flags = form->windowFlags();
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QCOMPARE(form->TreeView1->geometry(), QRect(8, 8, 265, 609));
        QCOMPARE(form->StringGrid1->geometry(), QRect(288, 8, 521, 609));
        QCOMPARE(form->Label1->pos(), QPoint(8, 624));
        QCOMPARE(form->Label1->text(), QStringLiteral("Номер порта"));
        QCOMPARE(form->ComComboBox1->pos(), QPoint(8, 640));
        QCOMPARE(form->ComComboBox1->width(), 145);
        QCOMPARE(form->Button1->geometry(), QRect(736, 640, 75, 25));
        QCOMPARE(form->Button1->text(), QStringLiteral("Выход"));
        QCOMPARE(form->font().pointSize(), 8);
        QCOMPARE(form->StringGrid1->columnCount(), 2);
        QCOMPARE(form->StringGrid1->columnWidth(0), 250);
        QCOMPARE(form->StringGrid1->columnWidth(1), 242);
        QCOMPARE(form->StringGrid1->verticalHeader()->defaultSectionSize(), 20);
        QVERIFY(form->StringGrid1->verticalHeader()->isHidden());
        QCOMPARE(form->StringGrid1->horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
        QCOMPARE(form->StringGrid1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(form->StringGrid1->editTriggers(), QAbstractItemView::NoEditTriggers);
        // Centred on the screen (the frame's margins are not known before the first show).
        const QRect screen = form->screen()->availableGeometry();
        QVERIFY(std::abs(form->frameGeometry().center().x() - screen.center().x()) <= 4);
        QVERIFY(std::abs(form->frameGeometry().center().y() - screen.center().y()) <= 4);
    }

    // On a screen smaller than a window, the window fits the screen's free area and
    // scrolls; every control stays reachable. On a large screen nothing scrolls (the layout
    // stays as geometry() checks it).
    void fitsTheScreen_data()
    {
        QTest::addColumn<QString>("screen");
        QTest::addColumn<bool>("mainScrolls");
        QTest::addColumn<int>("modeWindowsScrolling");
        QTest::newRow("1920x1080 at 100 %") << "desktop" << false << 0;
        QTest::newRow("1920x1080 at 150 %") << "laptop" << true << 0;
        QTest::newRow("1366x768 at 100 %") << "small" << false << 0;
        QTest::newRow("800x600 at 125 %") << "tiny" << true << 2;  // the two TPR-by-TPU windows
    }
    void fitsTheScreen()
    {
        QFETCH(QString, screen);
        QFETCH(bool, mainScrolls);
        QFETCH(int, modeWindowsScrolling);
        delete form;
        form = new TForm1;
        QScreen *target = nullptr;
        for (QScreen *s : QGuiApplication::screens())
            if (s->name() == screen)
                target = s;
        QVERIFY(target);
        QCOMPARE(ShownReachable(form, target), mainScrolls);
        int scrolling = 0;
        for (const TModeMap &mode : ModeMaps()) {
            std::unique_ptr<TModeWindow> window(ModeWindowOf(mode.Id));
            scrolling += ShownReachable(window.get(), target);
            if (QTest::currentTestFailed())
                return;
        }
        QCOMPARE(scrolling, modeWindowsScrolling);
    }

    void menus()
    {
        const QList<QAction *> top = form->menuBar()->actions();
        QCOMPARE(Texts(top), (QStringList{"Конфигурация", "Режим работы", "Справка", "О программе"}));
        QCOMPARE(top[0]->menu(), form->N1);
        QCOMPARE(top[1]->menu(), form->N11);
        QCOMPARE(top[2]->menu(), form->Help1);
        QCOMPARE(top[3], form->N10);
        QVERIFY(!form->N10->menu());  // acts at once, no drop-down
        // Each menu's own items first, then after a separator those of files and records.
        QCOMPARE(Texts(form->N1->actions()),
                 (QStringList{"Считать конфигурацию из прибора", "Загрузить конфигурацию в прибор", "",
                              "Сохранить конфигурацию в файл…", "Открыть конфигурацию из файла…", "Сравнить с файлом…"}));
        QCOMPARE(form->N1->actions().mid(0, 2), (QList<QAction *>{form->N6, form->N8}));
        QVERIFY(form->N1->actions()[2]->isSeparator());
        QCOMPARE(form->N1->actions().mid(3), (QList<QAction *>{form->SaveToFile, form->OpenFromFile, form->CompareWithFile}));
        QCOMPARE(form->SaveToFile->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
        QCOMPARE(form->OpenFromFile->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
        QCOMPARE(Texts(form->N11->actions()),
                 (QStringList{"ТПР по ТПУ1", "ТПР по ТПУ2", "ТПР по ТПР", "Частотомер",
                              "Пачка импульсов", "Режим TQ", "Имитация ТПУ", "Генератор f",
                              "Генератор T", "Имитация ТС", "", "Записывать показания в файл",
                              "Обработка записи ТПР по ТПУ…"}));
        QCOMPARE(form->N11->actions().mid(0, 10),
                 (QList<QAction *>{form->N12, form->N22, form->N3, form->N14, form->N2, form->TQ1,
                                   form->N4, form->f1, form->T1, form->N5}));
        QVERIFY(form->N11->actions()[10]->isSeparator());
        QCOMPARE(form->N11->actions()[11], form->RecordReadings);
        QCOMPARE(form->N11->actions()[12], form->ProcessRecord);
        QVERIFY(form->RecordReadings->isCheckable() && !form->RecordReadings->isChecked());
        QCOMPARE(form->T1->text().at(10), QLatin1Char('T'));  // the menu's T is Latin
        QCOMPARE(Texts(form->PopupMenu1->actions()), QStringList{"Изменить параметр"});
        QCOMPARE(form->Help1->actions(), QList<QAction *>{form->UserGuide1});
        QCOMPARE(form->UserGuide1->text(), QStringLiteral("Руководство пользователя"));
        QCOMPARE(form->UserGuide1->shortcut(), QKeySequence(Qt::Key_F1));
    }

    // F1 opens the guide where each kind of package puts it, through the opener; without
    // a guide, or when it cannot be opened, the user is told so.
    void userGuide_data()
    {
        QTest::addColumn<QString>("program");  // the program's folder, under a temporary root
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("opened");  // empty: nothing opened
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("message");  // %1: the guide's path as the system writes it
        QTest::newRow("Windows packages: beside the program")
            << "Karven-12T" << QStringList{"Karven-12T/guide.html", "Karven-12T/doc/guide.html"}
            << "Karven-12T/guide.html" << true << QString();
        QTest::newRow("Debian package: the prefix's doc folder")
            << "usr/bin" << QStringList{"usr/share/doc/karven12t/guide.html"}
            << "usr/share/doc/karven12t/guide.html" << true << QString();
        QTest::newRow("build folder") << "build" << QStringList{"build/doc/guide.html"}
                                      << "build/doc/guide.html" << true << QString();
        QTest::newRow("none") << "usr/bin"
                              << QStringList{"usr/share/doc/karven12t/guide.md.gz", "usr/bin/guide.html/index.html"}
                              << QString() << true
                              << "Руководство пользователя не найдено: файл guide.html не установлен "
                                 "вместе с программой.";
        QTest::newRow("no browser") << "build" << QStringList{"build/doc/guide.html"} << "build/doc/guide.html"
                                    << false << "Не удалось открыть руководство пользователя. Откройте "
                                                "в браузере файл\n%1";
        // The opener started, and then told it could not open the page.
        QTest::newRow("opener fails") << "build" << QStringList{"build/doc/guide.html"} << "build/doc/guide.html"
                                      << true << "!Не удалось открыть руководство пользователя. Откройте "
                                                 "в браузере файл\n%1";
    }
    void userGuide()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, files);
        QFETCH(QString, opened);
        QFETCH(bool, opens);
        QFETCH(QString, message);
        QTemporaryDir root(QDir::tempPath() + QStringLiteral("/справка-XXXXXX"));
        for (const QString &name : files) {
            QVERIFY(QDir(root.path()).mkpath(QFileInfo(name).path()));
            QFile file(root.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QDir(root.path()).mkpath(program));
        form->ProgramFolder = root.filePath(program);
        QList<QUrl> urls;
        const bool failsLater = message.startsWith('!');
        message.remove(QRegularExpression(QStringLiteral("^!")));
        form->OpenUrlFn = [&](const QUrl &url, std::function<void()> failed) {
            urls << url;
            if (failsLater)
                QTimer::singleShot(10, form, failed);
            return opens;
        };
        MessageBoxCollector boxes;
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form));
        QTest::keyClick(form, Qt::Key_F1);
        if (failsLater)
            QTRY_COMPARE(boxes.Texts.size(), 1);
        QCOMPARE(urls, opened.isEmpty() ? QList<QUrl>{} : QList<QUrl>{QUrl::fromLocalFile(root.filePath(opened))});
        message.replace(QStringLiteral("%1"), QDir::toNativeSeparators(root.filePath(opened)));
        QCOMPARE(boxes.Texts, message.isEmpty() ? QStringList{} : QStringList{message});
    }

    // The program run from its build finds the page the build made for it, with its pictures.
    void userGuideOfTheBuild()
    {
        const QString page = FindUserGuide(QFileInfo(QStringLiteral(KARVEN_APP_EXE)).absolutePath());
        QVERIFY2(!page.isEmpty(), "the build made no guide.html where the program looks");
        QVERIFY(QFileInfo(QFileInfo(page).dir(), QStringLiteral("img/main-window.png")).isFile());
    }

    void showNode_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("rows");
        QTest::newRow("root") << 0 << 49;
        QTest::newRow("ТПР по ТПУ1") << 1 << 6;
        QTest::newRow("Генератор I") << 39 << 8;
        QTest::newRow("Имитация ТС") << 48 << 1;
        QTest::newRow("leaf 7") << 7 << 1;
        QTest::newRow("last leaf") << 49 << 1;
    }
    void showNode()
    {
        QFETCH(int, index);
        QFETCH(int, rows);
        form->TreeView1->setCurrentItem(form->NodeAt(index));
        QCOMPARE(form->StringGrid1->rowCount(), rows);
        QCOMPARE(form->GridRowCount(), rows + 1);
        QCOMPARE(form->StringGrid1->horizontalHeaderItem(0)->text(), QStringLiteral("Параметр"));
        QCOMPARE(form->StringGrid1->horizontalHeaderItem(1)->text(), QStringLiteral("Значение"));
        // The rows are the nodes under the selected one in tree order (or the leaf itself):
        // groups with an empty value, parameters with a blank before their value text.
        const int first = form->NodeAt(index)->childCount() ? index + 1 : index;
        const QStringList names = Column(0), values = Column(1);
        for (int r = 0; r < rows; ++r) {
            QTreeWidgetItem *node = form->NodeAt(first + r);
            QCOMPARE(names[r], node->text(0));
            if (node->childCount())
                QCOMPARE(values[r], QString());
            else
                QCOMPARE(values[r], QLatin1Char(' ') + NodeValueText(first + r));
        }
        // Selecting again rebuilds rather than appends.
        form->ShowNode(form->NodeAt(index));
        QCOMPARE(form->StringGrid1->rowCount(), rows);
    }

    void gridValues()
    {
        form->TreeView1->setCurrentItem(form->NodeAt(0));
        const QStringList values = Column(1);
        QCOMPARE(values[6], QStringLiteral(" 0,00"));  // node 7
        QCOMPARE(values[1], QStringLiteral(" 2 детектора"));
        QCOMPARE(values[22], QStringLiteral(" 0.01"));  // node 23 keeps its point
        DeviceConfig.PackDelay = 6;
        DeviceConfig.ImitTcResistance = 4;
        DeviceConfig.Tpu1KFactor2 = 1.0f;
        form->ShowNode(form->NodeAt(0));
        QCOMPARE(form->StringGrid1->item(23, 1)->text(), QStringLiteral(" Ошибка данных"));
        QCOMPARE(form->StringGrid1->item(48, 1)->text(), QStringLiteral(" 5-й номинал"));
        QCOMPARE(form->StringGrid1->item(6, 1)->text(), QStringLiteral(" 1,00"));
    }

    void rightClickOnGroupOpensNoMenu()
    {
        QPoint at = NodePoint(33);  // "Генератор f"
        Click(Qt::RightButton, at);
        QCOMPARE(form->TreeView1->currentItem(), form->NodeAt(33));
        QCOMPARE(Column(0), (QStringList{"Значение частоты (f), Гц", "Амплитуда сигнала (U), В"}));
        QVERIFY(!form->PopupMenu1->isVisible());
        QVERIFY(!form->AutoPopup);
        QCOMPARE(EditedNodeIndex, 0);
        // Also right after a right click on a leaf had armed the menu.
        form->NodeAt(1)->setExpanded(true);
        Click(Qt::RightButton, NodePoint(3));
        QVERIFY(form->PopupMenu1->isVisible());
        form->PopupMenu1->hide();
        Click(Qt::RightButton, NodePoint(1));
        QVERIFY(!form->PopupMenu1->isVisible());
        QVERIFY(!form->AutoPopup);
    }

    void rightClickOnEmptySpaceDoesNothing()
    {
        form->TreeView1->setCurrentItem(form->NodeAt(15));
        const int rows = form->StringGrid1->rowCount();
        const QPoint below(20, form->TreeView1->viewport()->height() - 5);
        QVERIFY(!form->TreeView1->itemAt(below));
        Click(Qt::RightButton, below);
        QCOMPARE(form->TreeView1->currentItem(), form->NodeAt(15));
        QCOMPARE(form->StringGrid1->rowCount(), rows);
        QVERIFY(!form->PopupMenu1->isVisible());
        Click(Qt::LeftButton, below);
        QCOMPARE(form->TreeView1->currentItem(), form->NodeAt(15));
    }

    void rightClickOnBlankPartOfRow_data()
    {
        QTest::addColumn<QList<int>>("open");
        QTest::addColumn<int>("node");
        QTest::newRow("leaf, its group alone open") << QList<int>{48} << 49;
        QTest::newRow("leaf, every group open") << QList<int>{1, 8, 15, 20, 25, 30, 33, 36, 39, 48} << 49;
        QTest::newRow("leaf of a short group") << QList<int>{20} << 22;
        QTest::newRow("group, another group open") << QList<int>{33} << 48;
        QTest::newRow("group, none open") << QList<int>{} << 15;
    }
    // A right click near the right edge of a row finds the row's node, however wide the
    // texts shown are.
    void rightClickOnBlankPartOfRow()
    {
        QFETCH(QList<int>, open);
        QFETCH(int, node);
        for (int group : open)
            form->NodeAt(group)->setExpanded(true);
        const int y = NodePoint(node).y();
        Click(Qt::RightButton, QPoint(form->TreeView1->viewport()->width() - 3, y));
        QCOMPARE(form->TreeView1->currentItem(), form->NodeAt(node));
        const bool leaf = form->NodeAt(node)->childCount() == 0;
        QCOMPARE(form->PopupMenu1->isVisible(), leaf);
        QCOMPARE(EditedNodeIndex, leaf ? node : 0);
    }

    void leftClickOnLeafSelectsWithoutMenu()
    {
        form->NodeAt(20)->setExpanded(true);
        Click(Qt::LeftButton, NodePoint(22));
        QCOMPARE(form->TreeView1->currentItem(), form->NodeAt(22));
        QCOMPARE(form->StringGrid1->rowCount(), 1);
        QVERIFY(!form->PopupMenu1->isVisible());
        QVERIFY(!form->AutoPopup);
        KeyboardMenu();
        QVERIFY(!form->PopupMenu1->isVisible());
    }

    void rightClickOnLeafOpensMenu()
    {
        form->NodeAt(39)->setExpanded(true);
        Click(Qt::RightButton, NodePoint(43));
        QCOMPARE(form->TreeView1->currentItem(), form->NodeAt(43));
        QCOMPARE(Column(0), QStringList{"Шаг канала 1"});
        QCOMPARE(EditedNodeIndex, 43);
        QVERIFY(form->AutoPopup);
        QVERIFY(form->PopupMenu1->isVisible());
    }

    void keyboardMenuEditsSelectedLeaf()
    {
        form->NodeAt(8)->setExpanded(true);
        Click(Qt::RightButton, NodePoint(9));
        QVERIFY(form->PopupMenu1->isVisible());
        form->PopupMenu1->hide();
        // The keyboard moves on to another leaf: the menu edits that one.
        form->TreeView1->setFocus();
        form->TreeView1->setCurrentItem(form->NodeAt(9));
        QTest::keyClick(form->TreeView1, Qt::Key_Down);
        QCOMPARE(form->TreeView1->currentItem(), form->NodeAt(10));
        QVERIFY(form->AutoPopup);
        KeyboardMenu();
        QVERIFY(form->PopupMenu1->isVisible());
        QCOMPARE(EditedNodeIndex, 10);
        form->PopupMenu1->hide();
        // On a group or the root the keyboard opens nothing and the recorded leaf stays.
        form->TreeView1->setCurrentItem(form->NodeAt(8));
        KeyboardMenu();
        QVERIFY(!form->PopupMenu1->isVisible());
        form->TreeView1->setCurrentItem(form->NodeAt(0));
        KeyboardMenu();
        QVERIFY(!form->PopupMenu1->isVisible());
        QCOMPARE(EditedNodeIndex, 10);
        // A mouse press anywhere over the tree disarms it.
        form->TreeView1->setCurrentItem(form->NodeAt(11));
        Click(Qt::LeftButton, QPoint(20, form->TreeView1->viewport()->height() - 5));
        KeyboardMenu();
        QVERIFY(!form->PopupMenu1->isVisible());
    }

    void keyboardMenuNeedsARightClickFirst()
    {
        form->NodeAt(1)->setExpanded(true);
        form->TreeView1->setCurrentItem(form->NodeAt(2));
        KeyboardMenu();
        QVERIFY(!form->PopupMenu1->isVisible());
    }

    void declinedEditChangesNothing()
    {
        int calledWith = -1;
        form->EditParameterFn = [&](QWidget *, int index) {
            calledWith = index;
            return false;
        };
        form->NodeAt(0)->setText(0, QStringLiteral("Карвен-12Т"));
        form->NodeAt(20)->setExpanded(true);
        Click(Qt::RightButton, NodePoint(24));
        form->PopupMenu1->hide();
        const QStringList before = Column(1);
        DeviceConfig.PackDelay = 3;
        form->N13->trigger();
        QCOMPARE(calledWith, 24);
        QCOMPARE(form->NodeAt(0)->text(0), QStringLiteral("Карвен-12Т"));
        QCOMPARE(Column(1), before);  // grid not rebuilt
        QCOMPARE(DeviceConfig.PackDelay, uint8_t(3));
    }

    void declinedByTheDialogsToo()
    {
        // The real editing step: the root and a group have no dialog and change nothing.
        form->NodeAt(0)->setText(0, QStringLiteral("Карвен-12Т"));
        for (int index : {0, 39, 50}) {
            EditedNodeIndex = index;
            form->N13Click();
            QCOMPARE(form->NodeAt(0)->text(0), QStringLiteral("Карвен-12Т"));
        }
    }

    void acceptedEditMarksRootAndShowsValue()
    {
        form->EditParameterFn = [](QWidget *, int index) {
            if (index != 2)
                return false;
            DeviceConfig.Tpu1DetectorCount = 1;
            return true;
        };
        form->NodeAt(0)->setText(0, QStringLiteral("Карвен-12Т"));
        form->NodeAt(1)->setExpanded(true);
        Click(Qt::RightButton, NodePoint(2));
        QVERIFY(form->PopupMenu1->isVisible());
        // The user picks the item: the menu closes and the edit runs.
        form->N13->trigger();
        form->PopupMenu1->hide();
        QCOMPARE(form->NodeAt(0)->text(0), QStringLiteral("Карвен-12Т*"));
        QCOMPARE(Column(0), QStringList{"Число детекторов"});
        QCOMPARE(Column(1), QStringList{" 4 детектора"});
    }

    void aboutWindow()
    {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
        bool checked = false;
        OnModal([&](QWidget *w) {
            auto *box = qobject_cast<TfmAboutBox *>(w);
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), QStringLiteral("О программе"));
            QCOMPARE(box->size(), QSize(298, 213));
            QCOMPARE(box->ProductName->text(), QStringLiteral("Имя продукта: Карвен-12Т"));
            QCOMPARE(box->Version->text(), QStringLiteral("Версия: 1.0"));
            QCOMPARE(box->Copyright->text(), QStringLiteral("Разработчик:  ООО \"ТОРВИК-3\""));
            QCOMPARE(box->Comments->text(), QStringLiteral("Сайт разработчика: "));
            QCOMPARE(box->ProgramIcon->size(), QSize(97, 97));
            QVERIFY(box->ProgramIcon->hasScaledContents());
            QVERIFY(!box->ProgramIcon->pixmap().isNull());
            QCOMPARE(box->Label1->toolTip(), box->Label1->text());
            QCOMPARE(box->Label1->palette().color(QPalette::WindowText), QColor(0, 0, 128));
            QVERIFY(box->Label1->font().underline());
            QCOMPARE(box->Label1->cursor().shape(), Qt::PointingHandCursor);
            QVERIFY(box->OKButton->isDefault());
            QVERIFY(box->Panel1->geometry().bottom() < box->OKButton->y());
            // Every text fits inside the panel.
            for (QLabel *l : {box->ProductName, box->Version, box->Copyright, box->Comments,
                              static_cast<QLabel *>(box->Label1)}) {
                QVERIFY2(l->geometry().right() < box->Panel1->width(), qPrintable(l->text()));
                QVERIFY2(l->sizeHint().width() <= l->width(), qPrintable(l->text()));
            }
            QTest::mouseClick(box->Label1, Qt::LeftButton);
            QCOMPARE(catcher.urls, QList<QUrl>{QUrl(QStringLiteral("http://torvik3.example"))});
            checked = true;
            QTest::mouseClick(box->OKButton, Qt::LeftButton);
        });
        form->N10->trigger();  // returns when the window has closed
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QVERIFY(checked);
        QVERIFY(!QApplication::activeModalWidget());
    }

    void decodeJpeg_data()
    {
        QTest::addColumn<bool>("gray");
        QTest::newRow("colour") << false;
        QTest::newRow("grayscale") << true;
    }
    void decodeJpeg()
    {
        QFETCH(bool, gray);
        const QColor left = gray ? QColor(40, 40, 40) : QColor(255, 0, 0);
        const QColor right = gray ? QColor(220, 220, 220) : QColor(0, 0, 255);
        const QImage image = DecodeJpeg(EncodeJpeg(48, 24, left, right, gray));
        QCOMPARE(image.size(), QSize(48, 24));
        QVERIFY(Near(image.pixelColor(4, 12), left));
        QVERIFY(Near(image.pixelColor(43, 12), right));
    }

    void decodeShippedPicture()
    {
        QFile file(QStringLiteral(":/about.jpg"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QImage image = DecodeJpeg(file.readAll());
        QCOMPARE(image.size(), QSize(194, 194));
    }

    void decodeDamaged_data()
    {
        QTest::addColumn<QByteArray>("data");
        const QByteArray good = EncodeJpeg(32, 32, Qt::green, Qt::yellow);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not a jpeg") << QByteArray("GIF89a this is something else entirely");
        QTest::newRow("start marker only") << QByteArray("\xFF\xD8", 2);
        QTest::newRow("header cut short") << good.left(40);
        QByteArray badFrame = good;
        const int sof = badFrame.indexOf(QByteArray("\xFF\xC0", 2));
        QVERIFY(sof > 0);
        badFrame[sof + 4] = char(0x0F);  // sample precision 15: unsupported
        QTest::newRow("bad frame header") << badFrame;
        QByteArray noise = good;
        for (int i = 2; i < noise.size(); ++i)
            noise[i] = char((i * 7919) & 0xFF);
        QTest::newRow("noise after start marker") << noise;
    }
    void decodeDamaged()
    {
        QFETCH(QByteArray, data);
        QVERIFY(DecodeJpeg(data).isNull());
    }

    void decodeMutatedNeverBreaks()
    {
        // Single damaged bytes and cut-off tails anywhere in a valid picture: the decoder
        // either gives up or returns a picture of the declared size, never reads or
        // writes out of bounds (the sanitizer build watches).
        const QByteArray good = EncodeJpeg(32, 16, Qt::red, Qt::blue);
        uint32_t seed = 12345;
        int decoded = 0;
        for (int round = 0; round < 600; ++round) {
            QByteArray data = good;
            seed = seed * 1664525u + 1013904223u;
            const int at = int(seed % uint32_t(data.size()));
            if (round % 3 == 0)
                data.truncate(at);
            else
                data[at] = char(seed >> 24);
            const QImage image = DecodeJpeg(data);
            if (!image.isNull()) {
                ++decoded;
                QVERIFY(image.width() > 0 && image.height() > 0);
                QVERIFY(image.width() <= 65535 && image.height() <= 65535);
            }
        }
        QVERIFY(decoded > 0);
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
