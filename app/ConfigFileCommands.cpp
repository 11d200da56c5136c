#include "ConfigFileCommands.h"

#include "CompareWindow.h"
#include "FileAccess.h"
#include "FileMessages.h"
#include "Globals.h"
#include "Messages.h"
#include "RegisterMap.h"
#include "ValueText.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

#include <cmath>
#include <limits>

namespace {

const QString FileFilter = QStringLiteral("Файлы конфигурации (*.json);;Все файлы (*)");
// Reasons beyond this many go to the message's details, so that the box fits the screen.
constexpr int ReasonsShown = 12;

QString Shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// Why the program will not read or replace what path leads to: a folder, or what is no
// regular file (a FIFO or a device would keep the window waiting for its other end).
TFileFailure Unfit(const QString &path)
{
    const QFileInfo info(path);
    TFileFailure failure;
    if (info.isDir()) {
        failure.Cause = TFileCause::IsFolder;
    } else if (info.exists() && !info.isFile()) {
        failure.Cause = TFileCause::Other;
        failure.SystemText = QStringLiteral("это не обычный файл");
    }
    return failure;
}

// A value whose grid text reads the same as the other side's, told exactly: a real with all
// the digits it holds, a code beside its text.
QString ExactValueText(const ConfigField &field, const TDeviceConfig &config, const QString &shown)
{
    const QString value = FieldValueText(field, config);
    if (field.Kind() == FieldKind::Code)
        return QStringLiteral("%1 (код %2)").arg(shown, value);
    if (field.Kind() == FieldKind::Real)
        return QString(value).replace(QLatin1Char('.'), QLocale().decimalPoint());
    return value;
}

QString CauseMessage(const TFileFailure &failure)
{
    // Unfit's own words stand as they are.
    return failure.Cause == TFileCause::Other && failure.SystemError == 0 ? failure.SystemText : FileCauseMessage(failure);
}

}  // namespace

TConfigFileCommands::TConfigFileCommands(QWidget *window, std::function<void()> showOpened)
    : window_(window), showOpened_(std::move(showOpened))
{
}

void TConfigFileCommands::ReadFromDevice(const QString &port)
{
    origin_ = TConfigOrigin::Device(port);
    unsaved_ = false;
}

void TConfigFileCommands::MarkSaved()
{
    unsaved_ = false;
}

void TConfigFileCommands::ChangedByHand()
{
    origin_.ChangedByHand = true;
    unsaved_ = true;
}

QString TConfigFileCommands::DefaultFileName(const QDateTime &localTime)
{
    return QStringLiteral("Карвен-12Т %1.json").arg(localTime.toString(QStringLiteral("yyyy-MM-dd HH-mm")));
}

QString TConfigFileCommands::StartFolder() const
{
    return !folder_.isEmpty() && QFileInfo(folder_).isDir() ? folder_ : DocumentsFolder();
}

QString TConfigFileCommands::DocumentsFolder()
{
    // A documents folder that is not there would be taken by the dialogs as a file name.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void TConfigFileCommands::NoteFolder(const QString &path)
{
    folder_ = QFileInfo(path).absolutePath();
}

bool TConfigFileCommands::DeviceIdle() const
{
    if (!ExchangeUnderWay())
        return true;
    ShowWarning(window_, QStringLiteral("Идёт обмен с прибором. Дождитесь его окончания и повторите."));
    return false;
}

void TConfigFileCommands::Save()
{
    if (!DeviceIdle())
        return;
    if (!origin_.ReadAt.isValid() && origin_.OpenedFrom.isEmpty()) {
        const QString text = QStringLiteral("Конфигурация ещё не считана из прибора и не открыта из файла: в программе "
                                            "нулевые значения%1.\n\nСохранить их в файл?")
                                 .arg(origin_.ChangedByHand ? QStringLiteral(", часть из них изменена вручную") : QString());
        if (!AskQuestion(window_, text, QStringLiteral("Сохранить"), QStringLiteral("Отмена")))
            return;
    }
    // A name typed without an extension gets ".json", before the dialog asks about
    // replacing a file: the Open filter and a drop take the file afterwards.
    QFileDialog dialog(window_, QStringLiteral("Сохранить конфигурацию в файл"), StartFolder(), FileFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("json"));
    dialog.selectFile(DefaultFileName(QDateTime::currentDateTime()));
    const QString path = dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    if (path.isEmpty() || !DeviceIdle() || !MayReplace(path))
        return;

    const bool existed = QFileInfo(path).isFile();
    TFileFailure failure = Unfit(path);
    if (!failure.Failed())
        failure = WriteFileWhole(path, ConfigFileText(DeviceConfig, PackConfigRegistersOf(DeviceConfig), origin_));
    if (failure.Failed()) {
        QString after = EarlierFileMessage(failure, existed, path);
        if (!after.isEmpty())
            after.prepend(QStringLiteral("\n\n"));
        ShowWarning(window_, QStringLiteral("Конфигурация не сохранена.\n\nФайл: %1\nПричина: %2.%3")
                                 .arg(Shown(path), CauseMessage(failure), after));
        return;
    }
    unsaved_ = false;
    NoteFolder(path);
}

bool TConfigFileCommands::MayReplace(const QString &path) const
{
    // The dialog has asked whether to replace the file; what protects it is asked about
    // once more, by name.
    const QFileInfo info(path);
    if (!info.isFile())
        return true;
    QStringList protections;
    // Its owner's write permission off: protected, also for a user (root) the system lets write.
    if (!info.permission(QFileDevice::WriteOwner) || !info.isWritable())
        protections << QStringLiteral("файл защищён от записи (только для чтения)");
    if (const QString group = GroupLostOnReplace(path); !group.isEmpty())
        protections << QStringLiteral("файл принадлежит группе «%1», а новый файл будет принадлежать вашей группе").arg(group);
    if (protections.isEmpty())
        return true;
    return AskQuestion(window_, QStringLiteral("Файл защищён от замены: %1.\n\nФайл: %2\n\nЗаменить его всё же?")
                                    .arg(protections.join(QStringLiteral("; ")), Shown(path)),
                       QStringLiteral("Заменить"), QStringLiteral("Отмена"));
}

bool TConfigFileCommands::ReadWhole(const QString &path, const QString &what, QByteArray &bytes) const
{
    TFileRead read;
    read.Failure = Unfit(path);
    if (!read.Failure.Failed())
        read = ReadFileWhole(path, ConfigFileMaxBytes);
    if (!read.Failure.Failed()) {
        bytes = read.Bytes;
        return true;
    }
    ShowWarning(window_, QStringLiteral("%1\n\nФайл: %2\nПричина: %3.").arg(what, Shown(path), CauseMessage(read.Failure)));
    return false;
}

void TConfigFileCommands::ShowRefusal(const QString &head, const QString &path, const QList<TConfigProblem> &problems,
                               const QString &tail) const
{
    QStringList reasons;
    for (const TConfigProblem &problem : problems)
        reasons << ProblemMessage(problem);
    QString text = QStringLiteral("%1\n\nФайл: %2\n\n").arg(head, Shown(path));
    if (reasons.size() == 1) {
        text += QStringLiteral("Причина: %1.").arg(reasons.first());
    } else {
        text += QStringLiteral("Причины:\n") + ReasonList(reasons.mid(0, ReasonsShown));
        if (reasons.size() > ReasonsShown)
            text += QStringLiteral("\n… и ещё %1 (все причины — в подробностях)").arg(reasons.size() - ReasonsShown);
    }
    if (!tail.isEmpty())
        text += QStringLiteral("\n\n") + tail;
    ShowWarning(window_, text, reasons.size() > ReasonsShown ? ReasonList(reasons) : QString());
}

void TConfigFileCommands::Open()
{
    if (!DeviceIdle())
        return;
    const QString path = QFileDialog::getOpenFileName(window_, QStringLiteral("Открыть конфигурацию из файла"),
                                                      StartFolder(), FileFilter);
    if (!path.isEmpty())
        OpenFile(path);
}

bool TConfigFileCommands::OpenFile(const QString &path)
{
    if (!DeviceIdle())
        return false;
    const QString notOpened = QStringLiteral("Конфигурация из файла не открыта.");
    QByteArray bytes;
    if (!ReadWhole(path, notOpened, bytes))
        return false;
    const QString unchanged = QStringLiteral("Значения в программе не изменены.");

    TConfigFileCheck check = ReadConfigFile(bytes, TFileUse::Write, false);
    if (check.OnlyOutOfRange()) {
        QStringList reasons;
        for (const TConfigProblem &problem : check.Problems)
            reasons << ProblemMessage(problem);
        const bool more = reasons.size() > ReasonsShown;
        const QString text = QStringLiteral("В файле есть значения вне пределов, которые допускают окна ввода "
                                            "параметров.\n\nФайл: %1\n\n%2\n\nОткрыть файл с этими значениями?")
                                 .arg(Shown(path), ReasonList(reasons.mid(0, ReasonsShown))
                                                       + (more ? QStringLiteral("\n… и ещё %1 (все значения — в подробностях)")
                                                                     .arg(reasons.size() - ReasonsShown)
                                                               : QString()));
        if (!AskQuestion(window_, text, QStringLiteral("Открыть"), QStringLiteral("Не открывать"),
                         more ? ReasonList(reasons) : QString()))
            return false;
        check = ReadConfigFile(bytes, TFileUse::Write, true);
    }
    if (!check.Ok()) {
        ShowRefusal(notOpened, path, check.Problems, unchanged);
        return false;
    }
    if (unsaved_
        && !AskQuestion(window_,
                        QStringLiteral("Значения в программе изменены вручную и ещё не записаны в прибор и не сохранены "
                                       "в файл.\n\nЗаменить их значениями из файла?"),
                        QStringLiteral("Заменить"), QStringLiteral("Отмена")))
        return false;
    // The questions' loops let a read started before them run on; it may still be under way.
    if (!DeviceIdle())
        return false;

    DeviceConfig = check.Config;
    origin_ = check.Origin;
    origin_.OpenedFrom = Shown(QFileInfo(path).absoluteFilePath());
    unsaved_ = false;
    NoteFolder(path);
    if (showOpened_)
        showOpened_();
    return true;
}

void TConfigFileCommands::Compare()
{
    if (!DeviceIdle())
        return;
    const QString path = QFileDialog::getOpenFileName(window_, QStringLiteral("Сравнить с файлом"), StartFolder(), FileFilter);
    if (path.isEmpty() || !DeviceIdle())
        return;
    const QString notCompared = QStringLiteral("Сравнение не выполнено.");
    QByteArray bytes;
    if (!ReadWhole(path, notCompared, bytes))
        return;
    // A backup may hold what the dialogs would not take: it is compared as it is.
    TConfigFileCheck check = ReadConfigFile(bytes, TFileUse::Compare, true);
    if (!check.Ok()) {
        ShowRefusal(notCompared, path, check.Problems, QString());
        return;
    }
    NoteFolder(path);
    const QList<const ConfigField *> differing = DifferingFields(check, DeviceConfig);
    // Compared with the program's zeros, the user is told they are no values of a device.
    const QString zeros = origin_.ReadAt.isValid() || !origin_.OpenedFrom.isEmpty()
                            ? QString()
                            : QStringLiteral("Значения в программе: конфигурация ещё не считана из прибора и не открыта "
                                             "из файла, в программе нулевые значения%1.")
                                  .arg(origin_.ChangedByHand ? QStringLiteral(", часть из них изменена вручную") : QString());
    if (differing.isEmpty()) {
        ShowInformation(window_, QStringLiteral("Конфигурации совпадают") + (zeros.isEmpty() ? QString() : QStringLiteral("\n\n") + zeros));
        return;
    }
    // A null in the file is a real the device held as no number: shown as the grid shows one.
    for (const ConfigField *field : check.Nulls)
        check.Config.*std::get<float TDeviceConfig::*>(field->Member) = std::numeric_limits<float>::quiet_NaN();
    QList<TDifferenceRow> rows;
    for (const ConfigField *field : differing) {
        TDifferenceRow row{ParameterGroupText(field->TreeIndex), ParameterNameText(field->TreeIndex),
                           NodeValueTextOf(check.Config, field->TreeIndex), NodeValueTextOf(DeviceConfig, field->TreeIndex)};
        if (row.InFile == row.InProgram) {
            row.InFile = ExactValueText(*field, check.Config, row.InFile);
            row.InProgram = ExactValueText(*field, DeviceConfig, row.InProgram);
        }
        rows << row;
    }
    QString about = QStringLiteral("Файл: %1").arg(Shown(path));
    if (const QString origin = OriginMessage(check.Origin); !origin.isEmpty())
        about += QStringLiteral("\nЗначения в файле: ") + origin;
    if (!zeros.isEmpty())
        about += QStringLiteral("\n") + zeros;
    about += QStringLiteral("\nПараметров с разными значениями: %1").arg(differing.size());
    TCompareWindow window(window_, about, rows);
    window.exec();
}
