#include "ConfigProblems.h"

#include "JsonReader.h"
#include "ValueText.h"

#include <QStringList>

#include <cmath>

namespace {

QString LimitText(long double value)
{
    return QString::number(double(value), 'f', std::floor(value) == value ? 0 : 2);
}

QString Describe(const ConfigField *field)
{
    if (!field)
        return QString();
    return QStringLiteral("parameter %1 (%2 / %3)")
        .arg(QLatin1String(field->Name), ParameterGroupText(field->TreeIndex), ParameterNameText(field->TreeIndex));
}

}  // namespace

QString AllowedValuesText(const TAllowedValues &allowed)
{
    using K = TAllowedValues::TKind;
    switch (allowed.Kind) {
    case K::AnyCode:
        return QStringLiteral("a code, a whole number from 0 to 255");
    case K::Codes: {
        QStringList codes;
        for (int code = 0; code < CodeCount(allowed.TreeIndex); ++code)
            codes << QStringLiteral("%1 (%2)").arg(code).arg(CodeText(allowed.TreeIndex, code));
        return QStringLiteral("one of the codes ") + codes.join(QStringLiteral(", "));
    }
    case K::Whole:
        return QStringLiteral("a whole number from %1 to %2").arg(LimitText(allowed.Min), LimitText(allowed.Max));
    case K::AnyReal:
        return QStringLiteral("a real number");
    case K::Real:
        return QStringLiteral("a number from %1 to %2 with at most %3 decimal(s)")
            .arg(LimitText(allowed.Min), LimitText(allowed.Max))
            .arg(allowed.Decimals);
    }
    return {};
}

QString ConfigProblemText(const TConfigProblem &problem)
{
    using K = TConfigProblemKind;
    const QString parameter = Describe(problem.Field);
    switch (problem.Kind) {
    case K::Utf16:
        return QStringLiteral("the file is UTF-16; save it as UTF-8");
    case K::Nul:
        return QStringLiteral("not JSON: line %1, column %2: a NUL byte, which no text holds").arg(problem.Line).arg(problem.Column);
    case K::NotJson:
        if (problem.Line <= 0)
            return problem.Detail;
        return QStringLiteral("not JSON: line %1, column %2: %3").arg(problem.Line).arg(problem.Column).arg(problem.Detail);
    case K::Empty:
        return QStringLiteral("the file is empty");
    case K::NotUtf8:
        return QStringLiteral("the file is not in UTF-8 (perhaps Windows-1251, which Notepad calls ANSI); "
                              "save it in UTF-8");
    case K::DecimalComma:
        return QStringLiteral("not JSON: line %1, column %2: a number with a decimal comma; write 12000.5, not 12000,5")
            .arg(problem.Line)
            .arg(problem.Column);
    case K::KeyTwice: {
        const QString where = problem.Position > 0 ? QStringLiteral("parameter %1 of the list").arg(problem.Position)
                            : problem.Path.isEmpty() ? QStringLiteral("the file's top level")
                                                     : QStringLiteral("the object at %1").arg(problem.Path);
        return QStringLiteral("\"%1\" is given twice in %2").arg(problem.Key, where);
    }
    case K::TooDeep:
        return QStringLiteral("nested deeper than %1 levels").arg(JsonMaxDepth);
    case K::Unreadable:
        return QStringLiteral("cannot be read");
    case K::NotFormat1:
        return QStringLiteral("not a configuration file of format 1 (\"format\": %1)")
            .arg(problem.Value.isEmpty() ? QStringLiteral("missing") : problem.Value);
    case K::ParametersNotList:
        return QStringLiteral("\"parameters\" is not a list");
    case K::UnknownParameter:
        return QStringLiteral("parameter %1 of the list: unknown parameter (\"field\": %2)")
            .arg(problem.Position)
            .arg(problem.Value.isEmpty() ? QStringLiteral("missing") : problem.Value);
    case K::GivenTwice:
        return QStringLiteral("%1: given twice").arg(parameter);
    case K::ValueMissing:
        return QStringLiteral("%1: the value is missing").arg(parameter);
    case K::ValueNotAllowed:
    case K::OutOfRange:
        return QStringLiteral("%1: value %2 is not allowed; it may be %3%4")
            .arg(parameter, problem.Value, AllowedValuesText(problem.Allowed),
                 problem.Detail.isEmpty() ? QString()
                                          : QStringLiteral(" (taken as it is, it becomes %1 in the device's single precision)")
                                                .arg(problem.Detail));
    case K::NullNotAllowed:
        return QStringLiteral("%1: value null (the device held no number) is not allowed; it may be %2, "
                              "or with --allow-out-of-range the words the file's registers hold")
            .arg(parameter, AllowedValuesText(problem.Allowed));
    case K::NullWithoutRegisters:
        return QStringLiteral("%1: value null takes its words from \"registers\", which is not a list of "
                              "%2 whole numbers from 0 to 65535")
            .arg(parameter)
            .arg(ConfigRegisterCount);
    case K::NullButNumber: {
        const int first = problem.Field ? problem.Field->FirstRegister : 0;
        return QStringLiteral("%1: value null, but the file's registers %2..%3 hold the number %4")
            .arg(parameter)
            .arg(first)
            .arg(first + 1)
            .arg(problem.Value);
    }
    case K::Missing:
        return QStringLiteral("%1: missing").arg(parameter);
    }
    return {};
}
