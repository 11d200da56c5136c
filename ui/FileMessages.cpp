#include "FileMessages.h"

#include "ValueText.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>

namespace {

// A limit as the file writes numbers: with a point, decimals only where it has them.
QString LimitText(long double value)
{
    // With the decimal separator the words around it speak of ("знаков после запятой").
    return QString::number(double(value), 'f', std::floor(value) == value ? 0 : 2).replace(QLatin1Char('.'), QLocale().decimalPoint());
}

QString DecimalsText(int decimals)
{
    switch (decimals) {
    case 0:
        return QStringLiteral("без знаков после запятой");
    case 1:
        return QStringLiteral("не более одного знака после запятой");
    case 2:
        return QStringLiteral("не более двух знаков после запятой");
    default:
        return QStringLiteral("не более %1 знаков после запятой").arg(decimals);
    }
}

// The parameter as the tree names it, with the file's name of its field.
QString ParameterText(const ConfigField *field)
{
    if (!field)
        return QString();
    return QStringLiteral("«%1 / %2» (%3)")
        .arg(ParameterGroupText(field->TreeIndex), ParameterNameText(field->TreeIndex), QLatin1String(field->Name));
}

}  // namespace

QString AllowedValuesMessage(const TAllowedValues &allowed)
{
    using K = TAllowedValues::TKind;
    switch (allowed.Kind) {
    case K::AnyCode:
        return QStringLiteral("код, целое число от 0 до 255");
    case K::Codes: {
        QStringList codes;
        for (int code = 0; code < CodeCount(allowed.TreeIndex); ++code)
            codes << QStringLiteral("%1 (%2)").arg(code).arg(CodeText(allowed.TreeIndex, code));
        return QStringLiteral("один из кодов ") + codes.join(QStringLiteral(", "));
    }
    case K::Whole:
        return QStringLiteral("целое число от %1 до %2").arg(LimitText(allowed.Min), LimitText(allowed.Max));
    case K::AnyReal:
        return QStringLiteral("вещественное число");
    case K::Real:
        return QStringLiteral("число от %1 до %2, %3")
            .arg(LimitText(allowed.Min), LimitText(allowed.Max), DecimalsText(allowed.Decimals));
    }
    return {};
}

QString ProblemMessage(const TConfigProblem &problem)
{
    using K = TConfigProblemKind;
    const QString parameter = ParameterText(problem.Field);
    switch (problem.Kind) {
    case K::Utf16:
        return QStringLiteral("файл записан в кодировке UTF-16; сохраните его в UTF-8");
    case K::Nul:
        return QStringLiteral("строка %1, позиция %2: нулевой байт, которого в тексте быть не может")
            .arg(problem.Line)
            .arg(problem.Column);
    case K::NotJson:
        if (problem.Line <= 0)
            return QStringLiteral("текст не является JSON");
        return QStringLiteral("текст не является JSON: ошибка в строке %1, позиция %2").arg(problem.Line).arg(problem.Column);
    case K::Empty:
        return QStringLiteral("файл пуст");
    case K::NotUtf8:
        return QStringLiteral("файл записан не в кодировке UTF-8 (вероятно, в Windows-1251, которую Блокнот называет "
                              "ANSI); сохраните его в UTF-8: в Блокноте — «Сохранить как», кодировка «UTF-8»");
    case K::DecimalComma:
        return QStringLiteral("строка %1, позиция %2: в числе запятая вместо точки; число пишется с точкой: 12000.5, а не 12000,5")
            .arg(problem.Line)
            .arg(problem.Column);
    case K::KeyTwice: {
        const QString where = problem.Position > 0 ? QStringLiteral("в параметре %1 списка").arg(problem.Position)
                            : problem.Path.isEmpty() ? QStringLiteral("на верхнем уровне файла")
                                                     : QStringLiteral("в объекте %1").arg(problem.Path);
        return QStringLiteral("ключ «%1» задан дважды %2").arg(problem.Key, where);
    }
    case K::TooDeep:
        return QStringLiteral("вложенность глубже %1 уровней").arg(JsonMaxDepth);
    case K::Unreadable:
        return QStringLiteral("текст не удалось прочитать");
    case K::NotFormat1:
        return problem.Value.isEmpty() ? QStringLiteral("это не файл конфигурации: нет ключа «format»")
                                       : QStringLiteral("это не файл конфигурации формата 1 («format»: %1)").arg(problem.Value);
    case K::ParametersNotList:
        return QStringLiteral("«parameters» не является списком");
    case K::UnknownParameter:
        return problem.Value.isEmpty() ? QStringLiteral("параметр %1 списка: нет ключа «field»").arg(problem.Position)
                                       : QStringLiteral("параметр %1 списка: неизвестный параметр («field»: %2)")
                                             .arg(problem.Position)
                                             .arg(problem.Value);
    case K::GivenTwice:
        return QStringLiteral("%1: задан дважды").arg(parameter);
    case K::ValueMissing:
        return QStringLiteral("%1: нет значения").arg(parameter);
    case K::ValueNotAllowed:
    case K::OutOfRange: {
        QString words = QStringLiteral("%1: значение %2 недопустимо; допускается %3")
                            .arg(parameter, problem.Value, AllowedValuesMessage(problem.Allowed));
        // What the device can hold instead, shown as the grid would show it.
        if (!problem.Detail.isEmpty())
            words += QStringLiteral(" (открытое как есть, оно станет %1: прибор хранит число с одинарной точностью)")
                         .arg(FormatReal(problem.Detail.toFloat()));
        return words;
    }
    case K::NullNotAllowed:
        return QStringLiteral("%1: значение null (прибор хранил не число) недопустимо; допускается %2")
            .arg(parameter, AllowedValuesMessage(problem.Allowed));
    case K::NullWithoutRegisters:
        return QStringLiteral("%1: значение null берётся из «registers», а там не %2 целых чисел от 0 до 65535")
            .arg(parameter)
            .arg(ConfigRegisterCount);
    case K::NullButNumber: {
        const int first = problem.Field ? problem.Field->FirstRegister : 0;
        return QStringLiteral("%1: значение null, но регистры %2..%3 в файле хранят число %4")
            .arg(parameter)
            .arg(first)
            .arg(first + 1)
            .arg(problem.Value);
    }
    case K::Missing:
        return QStringLiteral("%1: параметра нет в файле").arg(parameter);
    }
    return {};
}

QString FileCauseMessage(const TFileFailure &failure)
{
    switch (failure.Cause) {
    case TFileCause::None:
        return QString();
    case TFileCause::NoSpace:
        return QStringLiteral("на диске нет места");
    case TFileCause::NoPermission:
        return QStringLiteral("нет прав доступа к файлу или папке");
    case TFileCause::ReadOnly:
        return QStringLiteral("диск доступен только для чтения");
    case TFileCause::BadName:
        return QStringLiteral("система не принимает такое имя файла (%1)").arg(failure.SystemText);
    case TFileCause::IsFolder:
        return QStringLiteral("это папка, а не файл");
    case TFileCause::FolderNoWrite:
        return QStringLiteral("нет прав на запись в папку");
    case TFileCause::NoFolder:
        return QStringLiteral("нет такого файла или папки");
    case TFileCause::LinkLoop:
        return QStringLiteral("символические ссылки ведут по кругу");
    case TFileCause::TooLarge:
        return QStringLiteral("файл слишком велик для файла конфигурации");
    case TFileCause::Other:
        break;
    }
    return QStringLiteral("ошибка системы %1: %2").arg(failure.SystemError).arg(failure.SystemText);
}

QString EarlierFileMessage(const TFileFailure &failure, bool existed, const QString &path)
{
    if (!failure.WrittenTo.isEmpty())
        return QStringLiteral("Прежнего файла под этим именем больше нет. Конфигурация записана в файл %1; "
                              "переименуйте его в «%2».")
            .arg(QDir::toNativeSeparators(failure.WrittenTo), QFileInfo(path).fileName());
    return existed ? QStringLiteral("Прежний файл остался без изменений.") : QString();
}

QString OriginMessage(const TConfigOrigin &origin)
{
    QStringList parts;
    if (origin.ReadAt.isValid())
        parts << QStringLiteral("считаны из прибора %1, порт %2")
                     .arg(origin.ReadAt.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm")), origin.Port);
    if (!origin.OpenedFrom.isEmpty())
        parts << QStringLiteral("открыты из файла %1").arg(origin.OpenedFrom);
    if (origin.ChangedByHand)
        parts << QStringLiteral("изменены вручную");
    return parts.join(QStringLiteral("; "));
}

QString ReasonList(const QStringList &reasons)
{
    QString text;
    for (const QString &reason : reasons)
        text += QStringLiteral("\n• ") + reason;
    return text.mid(1);
}
