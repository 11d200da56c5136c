// Pictures of the program's windows for the user guide. Runs the real main window and
// the real mode windows against a device (the simulator) on the given port, through the
// same menu handlers a person uses, waits until each window shows what a running device
// reports, and saves the window, as the screen shows it with the window manager's title
// bar, as a PNG:
//
//   karven-shots --port PATH --out DIR [--sys DIR] [--dev DIR] [--documents DIR]
//
// --sys and --dev name the folders the port list is read from instead of /sys and /dev
// (a computer's serial ports as the kernel shows them, for the picture of the list);
// --documents the user's documents folder that the pictures of the files show (else a
// temporary one).
//
// Exit status 0 when every picture was made, 1 otherwise. Meant for a display of its own
// (Xvfb) with a window manager: windows appear and are clicked by program.

#include "About.h"
#include "CPortCtl.h"
#include "CompareWindow.h"
#include "ConfigFileCommands.h"
#include "GeneratorWindow.h"
#include "Globals.h"
#include "InputDialog.h"
#include "MainForm.h"
#include "MeasureWindow.h"
#include "ModeWindow.h"
#include "NumberDialog.h"
#include "ProgramIdentity.h"
#include "ProverWindow.h"
#include "ModeMap.h"
#include "ModeRecordRows.h"
#include "RegisterMap.h"
#include "RxCalcEdit.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QImage>
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QProcess>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSettings>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QTableWidget>
#include <QThread>
#include <QToolTip>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <random>
#include <unistd.h>

namespace {

QString outDir;
QString documentsDir;  // the user's documents as the pictures of the files show them; empty: a temporary folder
bool failed = false;

void Fail(const QString &what)
{
    std::fprintf(stderr, "karven-shots: %s\n", qPrintable(what));
    failed = true;
}

// Keeps the event loop running until pred holds or the time is up. A message box that
// appears meanwhile, other than the one awaited, is a failure: its text is printed and the
// box closed.
bool WaitFor(const std::function<bool()> &pred, int ms, const QString &what, const QWidget *awaited = nullptr)
{
    const QDeadlineTimer deadline(ms);
    while (!pred()) {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box && box != awaited) {
            Fail(QStringLiteral("message box while waiting for %1: %2").arg(what, box->text()));
            box->accept();
            return false;
        }
        if (deadline.hasExpired()) {
            Fail(QStringLiteral("gave up waiting for %1").arg(what));
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

// Distinct colours of an image, counted up to a limit.
int ColourCount(const QImage &image, int limit)
{
    QSet<QRgb> colours;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height() && colours.size() < limit; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            colours.insert(line[x]);
    }
    return int(colours.size());
}

// The screen within rect, as the X server holds it.
QImage GrabScreen(const QRect &rect)
{
    return QGuiApplication::primaryScreen()->grabWindow(0, rect.x(), rect.y(), rect.width(), rect.height()).toImage();
}

// Gives window the focus, as a person sees a window being worked with: its title bar is
// drawn as the active one.
bool Activate(QWidget *window, const QString &name)
{
    if (!window->isActiveWindow())
        window->activateWindow();
    return WaitFor([&] { return window->isActiveWindow(); }, 3000, name + QStringLiteral(" active"), window);
}

// Waits until the window manager has framed window (it does so after the window is mapped).
bool Framed(QWidget *window, const QString &name)
{
    QWindow *handle = window->windowHandle();
    return handle && WaitFor([&] { return handle->frameGeometry().top() < handle->geometry().top(); }, 5000,
                             name + QStringLiteral(" in its frame"), window);
}

void SaveParts(const QString &name, const QList<QRect> &parts, const QWidget *window);

// Saves window with its title bar, and the popups over it (a menu, the calculator), as the
// screen shows them; what lies outside all of them is left transparent.
void Save(QWidget *window, const QString &name, const QList<QWidget *> &popups = {})
{
    if (!Framed(window, name))
        return;
    // A popup takes the focus itself; the window under it was made active before it opened.
    if (popups.isEmpty() && !Activate(window, name))
        return;
    QList<QRect> parts{window->windowHandle()->frameGeometry()};
    for (QWidget *popup : popups)
        parts << popup->geometry();
    SaveParts(name, parts, window);
}

// Saves the screen within the given rectangles (global coordinates), once it has settled;
// what lies outside all of them is left transparent. A message box other than window that
// appears meanwhile is a failure.
void SaveParts(const QString &name, const QList<QRect> &parts, const QWidget *window)
{
    QRect bounds;
    for (const QRect &part : parts)
        bounds |= part;

    // The screen is taken once it has settled: two grabs in a row alike (the title bar is
    // drawn by another process, and a repaint may be under way).
    QImage screen;
    const bool settled = WaitFor(
        [&] {
            const QImage before = GrabScreen(bounds);
            QThread::msleep(100);
            QCoreApplication::processEvents();
            screen = GrabScreen(bounds);
            return screen == before;
        },
        5000, name + QStringLiteral(" drawn"), window);
    if (!settled)
        return;

    QImage image(bounds.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    for (const QRect &part : parts)
        painter.drawImage(part.topLeft() - bounds.topLeft(), screen, part.translated(-bounds.topLeft()));
    painter.end();

    const QString path = QDir(outDir).filePath(name + QStringLiteral(".png"));
    // Text on a plain form gives dozens of shades; a blank or single-colour grab gives one.
    if (image.isNull() || ColourCount(image, 16) < 16) {
        Fail(QStringLiteral("%1: the window grab looks blank").arg(name));
        return;
    }
    if (!image.save(path, "PNG"))
        Fail(QStringLiteral("cannot write %1").arg(path));
    else
        std::printf("%s\n", qPrintable(path));
}

QStringList ColumnTexts(const QTableWidget *grid, int column)
{
    QStringList texts;
    for (int row = 0; row < grid->rowCount(); ++row) {
        const QTableWidgetItem *item = grid->item(row, column);
        texts << (item ? item->text() : QString());
    }
    return texts;
}

// Runs inside the mode window's modal loop: switches the mode on where the window can,
// waits until the window shows it running and (with a values grid) until the values have
// moved, saves the picture and leaves through "Выход".
void ShootModeWindow(const QString &name)
{
    TModeWindow *window = nullptr;
    if (!WaitFor([&] { return (window = qobject_cast<TModeWindow *>(QApplication::activeModalWidget())); },
                 5000, name + QStringLiteral(" window"))) {
        return;
    }
    const bool generator = qobject_cast<TGeneratorWindow *>(window) != nullptr;
    const TStatusTexts &texts = generator ? GeneratorStatusTexts : ModeStatusTexts;
    auto *measure = qobject_cast<TMeasureWindow *>(window);

    bool ok = WaitFor([&] { return window->lbRezim->text() == texts.LabelOn || window->lbRezim->text() == texts.LabelOff; },
                      8000, name + QStringLiteral(" status"));
    if (ok && window->Button1 && window->lbRezim->text() == texts.LabelOff) {
        window->Button1->click();
        ok = WaitFor([&] { return window->lbRezim->text() == texts.LabelOn; }, 8000,
                     name + QStringLiteral(" running"));
    }
    if (ok && measure) {
        // Values of a running mode: a values answer, then a later one that differs from it.
        ok = WaitFor([&] { return !ColumnTexts(measure->StringGrid1, 1).contains(QString()); }, 8000,
                     name + QStringLiteral(" values"));
        const QStringList first = ColumnTexts(measure->StringGrid1, 1);
        ok = ok && WaitFor([&] { return ColumnTexts(measure->StringGrid1, 1) != first; }, 8000,
                           name + QStringLiteral(" moving values"));
    }
    if (ok)
        Save(window, name);
    window->Button2->click();
}

// Runs inside a modal loop: waits for the modal window of type Modal, lets prepare open
// what the picture shows besides the window (returning those popups), saves it and closes
// it with close (an input dialog through "Отмена", a message box with OK).
template <typename Modal, typename Prepare, typename Close>
void ShootModal(const QString &name, Prepare prepare, Close close)
{
    Modal *modal = nullptr;
    if (!WaitFor([&] { return (modal = qobject_cast<Modal *>(QApplication::activeModalWidget())); },
                 5000, name))
        return;
    WaitFor([&] { return modal->isVisible(); }, 2000, name + QStringLiteral(" shown"), modal);
    if (!Activate(modal, name)) {
        close(modal);
        return;
    }
    const QList<QWidget *> popups = prepare(modal);
    Save(modal, name, popups);
    close(modal);
}

const auto NothingMore = [](QWidget *) { return QList<QWidget *>(); };

void ShootDialog(const QString &name)
{
    ShootModal<TInputDialog>(name, NothingMore, [](TInputDialog *dialog) { dialog->Button2->click(); });
}

// The number dialog with a number typed into its field, over the field's text as it opened,
// and the calculator dropped down, which starts from that number.
void ShootNumberDialog(const QString &name)
{
    const auto openCalculator = [&](TNumberDialog *dialog) {
        TRxCalcEdit *field = dialog->RxCalcEdit1;
        field->setFocus();
        field->selectAll();
        const QString typed = QStringLiteral("4500");
        for (const QChar digit : typed) {
            for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
                QKeyEvent key(type, Qt::Key_0 + digit.digitValue(), Qt::NoModifier, QString(digit));
                QApplication::sendEvent(field, &key);
            }
        }
        if (field->text() != typed) {
            Fail(QStringLiteral("%1: the field shows \"%2\" after %3 was typed").arg(name, field->text(), typed));
            return QList<QWidget *>();
        }
        field->OpenCalculator();
        if (!WaitFor([&] { return field->Calculator() && field->Calculator()->isVisible(); }, 2000,
                     name + QStringLiteral(" calculator")))
            return QList<QWidget *>();
        return QList<QWidget *>{field->Calculator()};
    };
    ShootModal<TNumberDialog>(name, openCalculator, [](TNumberDialog *dialog) {
        if (TRxCalculatorPopup *calculator = dialog->RxCalcEdit1->Calculator())
            calculator->hide();
        dialog->Button2->click();
    });
}

void ShootMessageBox(const QString &name)
{
    ShootModal<QMessageBox>(name, NothingMore, [](QMessageBox *box) { box->accept(); });
}

void ShootAbout(const QString &name)
{
    ShootModal<TfmAboutBox>(name, NothingMore, [](TfmAboutBox *box) { box->OKButton->click(); });
}

// The tooltip on show, or nullptr.
QWidget *VisibleToolTip()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->inherits("QTipLabel") && widget->isVisible())
            return widget;
    return nullptr;
}

// The port list dropped down, with the pointer resting on the entry of the port named entry
// until its tooltip shows. The picture is the lower left of the main window with the list
// and the tooltip over it.
void ShootPortList(TForm1 &form, const QString &name, const QString &entry)
{
    TComComboBox *box = form.ComComboBox1;
    const int row = box->findText(entry, Qt::MatchFixedString);
    if (row < 0) {
        Fail(QStringLiteral("%1: the port list has no %2").arg(name, entry));
        return;
    }
    const QString tipText = box->itemData(row, Qt::ToolTipRole).toString();
    if (!Activate(&form, name))
        return;
    box->showPopup();
    QAbstractItemView *view = box->view();
    QWidget *popup = view->window();
    if (WaitFor([&] { return popup->isVisible(); }, 2000, name + QStringLiteral(" dropped down"))) {
        const QRect item = view->visualRect(view->model()->index(row, 0));
        QCursor::setPos(view->viewport()->mapToGlobal(item.center()));
        QWidget *tip = nullptr;
        if (WaitFor([&] { return (tip = VisibleToolTip()) && QToolTip::text() == tipText; }, 5000,
                    name + QStringLiteral(" tooltip"))) {
            // The window from above its label to its bottom edge, as wide as the list and the
            // tooltip reach; the list and the tooltip may reach out of it.
            const QRect frame = form.windowHandle()->frameGeometry();
            const QRect label = QRect(form.Label1->mapToGlobal(QPoint(0, 0)), form.Label1->size());
            const QRect list = popup->geometry(), hint = tip->geometry();
            const QRect lower(QPoint(frame.left(), std::min(label.top(), list.top()) - 12),
                              QPoint(std::min(frame.right(), std::max(hint.right(), list.right()) + 12), frame.bottom()));
            SaveParts(name, {lower, list, hint}, &form);
        }
    }
    QCursor::setPos(form.windowHandle()->frameGeometry().topRight() + QPoint(40, 0));
    box->hidePopup();
}

// Runs the main window's configuration read and saves the message box it ends with, which
// comes from a timer (the answer's time-out): the picture is taken inside the box's own
// loop, which a watch started before the read finds.
void ShootReadMessage(TForm1 &form, const QString &name)
{
    bool shot = false;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            watch.stop();
            ShootMessageBox(name);
            shot = true;
        }
    });
    watch.start();
    form.N6->trigger();
    WaitFor([&] { return shot; }, 8000, name);
}

// A right click on the tree's node of the given index, as a person makes it: for a
// parameter, the tree's context menu opens. Returns the menu once it shows.
QMenu *RightClickNode(TForm1 &form, int index)
{
    QTreeWidgetItem *node = form.NodeAt(index);
    form.TreeView1->scrollToItem(node);
    QWidget *viewport = form.TreeView1->viewport();
    const QPoint at = form.TreeView1->visualItemRect(node).center();
    QMouseEvent press(QEvent::MouseButtonPress, at, viewport->mapToGlobal(at), Qt::RightButton, Qt::RightButton,
                      Qt::NoModifier);
    QApplication::sendEvent(viewport, &press);
    QMenu *menu = form.PopupMenu1;
    if (!WaitFor([&] { return menu->isVisible(); }, 2000, QStringLiteral("the tree's context menu")))
        return nullptr;
    return menu;
}

// Runs inside a file dialog's loop: chooses path as a person types it and accepts.
void ChooseFile(const QString &path)
{
    QFileDialog *dialog = nullptr;
    if (!WaitFor([&] { return (dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())); }, 5000,
                 QStringLiteral("the file dialog")))
        return;
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (!name) {
        Fail(QStringLiteral("the file dialog has no name field"));
        dialog->reject();
        return;
    }
    name->setText(path);
    QMetaObject::invokeMethod(dialog, "accept");
}

// A drop-down menu of the menu bar, open, its item `item` under the pointer.
void ShootMenu(TForm1 &form, QMenu *menu, QAction *item, const QString &name)
{
    if (!Activate(&form, QStringLiteral("the main window")))
        return;
    form.menuBar()->setActiveAction(menu->menuAction());
    if (!WaitFor([&] { return menu->isVisible(); }, 2000, name))
        return;
    menu->setActiveAction(item);
    Save(&form, name, {menu});
    menu->hide();
    form.menuBar()->setActiveAction(nullptr);
}

void ShootProver(TForm1 &form, const QString &folder);

// The configuration files: the menu, the comparison with last month's backup (two values
// differ) and the message on a file edited by hand that is refused; then the record of the
// mode windows switched on, in its menu, and off again.
void ShootFiles(TForm1 &form)
{
    ShootMenu(form, form.N1, form.SaveToFile, QStringLiteral("menu-configuration"));

    QTemporaryDir temp;
    const QString folder = documentsDir.isEmpty() ? QDir(temp.path()).filePath(QStringLiteral("Документы")) : documentsDir;
    QDir().mkpath(folder);
    TDeviceConfig backup = DeviceConfig;
    backup.PackCount += 500;
    backup.TqVoltage = (backup.TqVoltage + 1) % 9;
    const QDateTime monthAgo(QDate(2026, 11, 9), QTime(8, 15), Qt::UTC);
    const QString backupPath = QDir(folder).filePath(TConfigFileCommands::DefaultFileName(monthAgo.toLocalTime()));
    QString text = QString::fromUtf8(
        ConfigFileText(backup, PackConfigRegistersOf(backup), TConfigOrigin::Device(form.ComPort1->Port(), monthAgo)));
    QFile out(backupPath);
    if (!out.open(QIODevice::WriteOnly) || out.write(text.toUtf8()) < 0) {
        Fail(QStringLiteral("cannot write %1").arg(backupPath));
        return;
    }
    out.close();
    QTimer::singleShot(0, [backupPath] {
        ChooseFile(backupPath);
        // Once the file dialog's loop has ended, inside the comparison's.
        QTimer::singleShot(100, [] {
            ShootModal<TCompareWindow>(QStringLiteral("compare-window"), NothingMore,
                                       [](TCompareWindow *window) { window->CloseButton->click(); });
        });
    });
    form.CompareWithFile->trigger();  // returns when the comparison has closed

    // The backup edited by hand: a code written as its text, a count beyond the dialog's
    // range, a period with a fraction.
    auto value = [&](const char *field, const QString &json) {
        text.replace(QRegularExpression(QStringLiteral("(\"field\": \"%1\", \"value\": )[^,]*").arg(QLatin1String(field))),
                     QStringLiteral("\\1") + json);
    };
    value("PackVoltage", QStringLiteral("\"0,25\""));
    value("TqN1Max", QStringLiteral("10000000"));
    value("GenTPeriod", QStringLiteral("50.5"));
    const QString editedPath = QDir(folder).filePath(QStringLiteral("Карвен-12Т правка.json"));
    QFile edited(editedPath);
    if (!edited.open(QIODevice::WriteOnly) || edited.write(text.toUtf8()) < 0) {
        Fail(QStringLiteral("cannot write %1").arg(editedPath));
        return;
    }
    edited.close();
    QTimer::singleShot(0, [] { ShootMessageBox(QStringLiteral("message-file-refused")); });
    form.FileCommands().OpenFile(editedPath);

    QTimer::singleShot(0, [folder] { ChooseFile(folder); });
    form.RecordReadings->trigger();
    if (!form.RecordReadings->isChecked()) {
        Fail(QStringLiteral("the record of readings did not switch on"));
        return;
    }
    ShootMenu(form, form.N11, form.RecordReadings, QStringLiteral("menu-record"));
    // A mode window keeping its record: the caption names the file.
    QTimer::singleShot(0, [] { ShootModeWindow(QStringLiteral("mode-record")); });
    form.TQ1->trigger();
    form.RecordReadings->trigger();  // off: no dialog

    ShootProver(form, folder);
}

// A prover run as the TPR-by-TPU window records it: a one-directional prover with 2
// detectors, 12 passes of about 20 s at a steady flow, the values set at the closing detector.
QByteArray ProverRecord()
{
    QByteArray text = TModeRecordRows(ModeMapOf(TModeId::TprTpu1)).CsvHeader().toUtf8();
    std::mt19937 random(29);
    std::normal_distribution<double> spread(0, 1);
    const QDateTime start(QDate(2026, 12, 9), QTime(7, 15), Qt::UTC);
    double n = 0, s1 = 0;
    uint32_t whole = 0, s2 = 0, t = 0, s3 = 0;
    for (int r = 0; r < 12 * 30 + 8; ++r) {
        const double f = 250 * (1 + 0.002 * spread(random));
        if (r % 30 == 25) {
            t = uint32_t(20.05e6 * (1 + 0.0005 * spread(random)));
            n = 100.02 * (1 + 0.00008 * spread(random)) * 50.125;
            whole = uint32_t(n);
            s1 += n, s2 += whole, s3 += t;
        }
        text += QStringLiteral("%1,on,%2,%3,%4,%5,%6,%7,%8,%9,0,0,0,0,0,0,0,0,0,0,0,0\n")
                    .arg(TModeRecordRows::TimeText(start.addSecs(r)))
                    .arg(f, 0, 'f', 3)
                    .arg(f / 100.02 * 3.6 * (1 + 0.001 * spread(random)), 0, 'f', 4)
                    .arg(n, 0, 'f', 2)
                    .arg(s1, 0, 'f', 2)
                    .arg(whole)
                    .arg(s2)
                    .arg(t)
                    .arg(s3)
                    .toUtf8();
    }
    return text;
}

// The processing window over that record, from its menu item, with the prover's data typed
// in and one measurement left out; then the first page of its protocol, rendered from the PDF.
void ShootProver(TForm1 &form, const QString &folder)
{
    const QString record = QDir(folder).filePath(QStringLiteral("ТПР по ТПУ1 2026-12-09 10-15-00.csv"));
    QFile out(record);
    if (!out.open(QIODevice::WriteOnly) || out.write(ProverRecord()) < 0) {
        Fail(QStringLiteral("cannot write %1").arg(record));
        return;
    }
    out.close();
    // The channel's build as the configuration gives it.
    DeviceConfig.Tpu1DetectorCount = 0, DeviceConfig.Tpu1TpuType = 0, DeviceConfig.Tpu1SumMethod = 0;
    DeviceConfig.Tpu1KFactor2 = 100;
    QTemporaryDir work;
    const QString pdf = QDir(work.path()).filePath(QStringLiteral("протокол.pdf"));
    QTimer::singleShot(0, [record, pdf] {
        ChooseFile(record);
        QTimer::singleShot(100, [pdf] {
            ShootModal<TfmProverRun>(
                QStringLiteral("prover-window"),
                [](TfmProverRun *window) {
                    if (!WaitFor([&] { return !window->Reading() && window->Table->rowCount() > 0; }, 10000,
                                 QStringLiteral("the record's measurements"), window))
                        return QList<QWidget *>();
                    window->ProverName->setText(QStringLiteral("ТПУ «Сапфир-500»"));
                    window->ProverSerial->setText(QStringLiteral("0147"));
                    window->CertificateDate->setText(QStringLiteral("14.03.2026"));
                    window->Volume12->setValue(50.125);
                    window->Organisation->setText(QStringLiteral("ООО «Метрология»"));
                    window->Laboratory->setText(QStringLiteral("Лаборатория расходометрии"));
                    window->TransducerType->setText(QStringLiteral("ТПР-50"));
                    window->TransducerSerial->setText(QStringLiteral("21-0815"));
                    window->Operator->setText(QStringLiteral("Иванов И. И."));
                    window->Table->item(6, 0)->setCheckState(Qt::Unchecked);
                    WaitFor([&] { return window->Result().Series.size() == 1 && window->Result().Series[0].Count == 11; }, 2000,
                            QStringLiteral("the measurement left out"), window);
                    return QList<QWidget *>();
                },
                [pdf](TfmProverRun *window) {
                    if (window->SaveProtocolTo(pdf)) {
                        QProcess render;
                        render.start(QStringLiteral("pdftoppm"), {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("60"),
                                                                   QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                                                                   QStringLiteral("1"), QStringLiteral("-singlefile"), pdf,
                                                                   QDir(outDir).filePath(QStringLiteral("prover-protocol"))});
                        if (!render.waitForFinished(30000) || render.exitCode() != 0)
                            Fail(QStringLiteral("pdftoppm did not render the protocol"));
                    } else {
                        Fail(QStringLiteral("the protocol was not saved"));
                    }
                    window->CloseButton->click();
                });
        });
    });
    form.ProcessRecord->trigger();  // returns when the window has closed
}

void ShootAll(TForm1 &form)
{
    form.show();
    if (!WaitFor([&] { return form.isVisible(); }, 5000, QStringLiteral("the main window")))
        return;

    // The configuration read, as from the menu; done when the root loses its asterisk.
    form.N6->trigger();
    QTreeWidgetItem *root = form.NodeAt(0);
    if (!WaitFor([&] { return root->text(0) == QString::fromUtf8(RootTextSaved) && form.GridRowCount() > 2; },
                 10000, QStringLiteral("the configuration read")))
        return;
    form.TreeView1->expandAll();
    form.TreeView1->setCurrentItem(root);
    form.TreeView1->verticalScrollBar()->setValue(0);
    form.StringGrid1->scrollToTop();
    Save(&form, QStringLiteral("main-window"));

    // The port list, with the tooltip of a USB adapter.
    ShootPortList(form, QStringLiteral("port-list"), QStringLiteral("ttyUSB0"));

    // The tree's context menu, after a right click on "Напряжение (U), В" of the pulse
    // pack, with the pointer on its item; then that item's input dialog.
    if (!Activate(&form, QStringLiteral("the main window")))
        return;
    if (QMenu *menu = RightClickNode(form, 23)) {
        menu->setActiveAction(form.N13);
        Save(&form, QStringLiteral("tree-context-menu"), {menu});
        menu->hide();
        QTimer::singleShot(0, [] { ShootDialog(QStringLiteral("dialog-voltage")); });
        form.N13->trigger();  // returns when the dialog has closed
    }

    // The number dialog of a K-factor, with its calculator.
    if (QMenu *menu = RightClickNode(form, 7)) {
        menu->hide();
        QTimer::singleShot(0, [] { ShootNumberDialog(QStringLiteral("dialog-number")); });
        form.N13->trigger();
    }

    // The About window, from its menu item.
    QTimer::singleShot(0, [] { ShootAbout(QStringLiteral("about")); });
    form.N10->trigger();

    // The mode windows, each from its menu item. The pulse pack runs on while the frequency
    // counter, which watches it, is shown.
    const struct {
        const char *name;
        QAction *item;
    } modes[] = {
        {"mode-tpr-tpu1", form.N12},   {"mode-tpr-tpr", form.N3},   {"mode-pack", form.N2},
        {"mode-freq", form.N14},       {"mode-tq", form.TQ1},       {"mode-tpu-imitation", form.N4},
        {"mode-gen-f", form.f1},       {"mode-gen-t", form.T1},     {"mode-tc-imitation", form.N5},
    };
    for (const auto &mode : modes) {
        const QString name = QString::fromLatin1(mode.name);
        QTimer::singleShot(0, [name] { ShootModeWindow(name); });
        mode.item->trigger();  // returns when the window has closed
    }

    ShootFiles(form);

    // The main window's busy-port box with its cause, for a port that has gone: the read
    // from a port whose link no longer exists.
    form.ComPort1->SetPort(form.ComPort1->Port() + QStringLiteral(".gone"));
    QTimer::singleShot(0, [] { ShootMessageBox(QStringLiteral("message-port-gone")); });
    form.N6->trigger();

    // "Нет связи!": the read from a port where nothing answers, a pseudo-terminal whose other
    // side stays silent. The failed read above has left the port closed.
    const int silent = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (silent < 0 || ::grantpt(silent) != 0 || ::unlockpt(silent) != 0) {
        Fail(QStringLiteral("no pseudo-terminal for the port where nothing answers"));
    } else {
        form.ComPort1->SetPort(QString::fromLocal8Bit(::ptsname(silent)));
        ShootReadMessage(form, QStringLiteral("message-no-answer"));
    }
    if (silent >= 0)
        ::close(silent);
}

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    SetProgramIdentity();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Pictures of the program's windows for the user guide."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("The device's port."), QStringLiteral("PATH"));
    const QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("Folder for the PNG files."), QStringLiteral("DIR"));
    const QCommandLineOption sysOption(QStringLiteral("sys"), QStringLiteral("The port list's /sys."), QStringLiteral("DIR"));
    const QCommandLineOption devOption(QStringLiteral("dev"), QStringLiteral("The port list's /dev."), QStringLiteral("DIR"));
    const QCommandLineOption documentsOption(QStringLiteral("documents"), QStringLiteral("The user's documents folder."),
                                             QStringLiteral("DIR"));
    parser.addOptions({portOption, outOption, sysOption, devOption, documentsOption});
    parser.process(app);
    if (!parser.isSet(portOption) || !parser.isSet(outOption)) {
        std::fprintf(stderr, "karven-shots: --port and --out are needed\n");
        return 2;
    }
    outDir = parser.value(outOption);
    QDir().mkpath(outDir);
    if (parser.isSet(sysOption))
        TComComboBox::ListSysRoot = parser.value(sysOption);
    if (parser.isSet(devOption))
        TComComboBox::ListDevRoot = parser.value(devOption);
    documentsDir = parser.value(documentsOption);

    // The processing window's profiles and last record in a folder of the run's own.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());

    TForm1 form;
    if (!form.CreatedOk())
        return 1;
    form.ComPort1->SetPort(parser.value(portOption));
    form.ComComboBox1->SetComPort(form.ComPort1);  // selects the entry of the port

    QTimer::singleShot(0, [&] {
        ShootAll(form);
        QCoreApplication::exit(failed ? 1 : 0);
    });
    return app.exec();
}
