#include "ConfigFile.h"

#include "EditLimits.h"
#include "JsonReader.h"
#include "ParameterTree.h"
#include "ValueText.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QVariant>

#include <charconv>
#include <cfloat>
#include <cmath>

namespace {

const char *const DeviceName = "Карвен-12Т";

QString Json(const QString &text)
{
    // A JSON string literal, escaped as the JSON writer does it.
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString JsonOf(const QJsonValue &value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// The shortest decimal text that reads back as the same single-precision value.
QString ShortestFloatText(float value)
{
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? QString::fromLatin1(buffer, int(end - buffer)) : QString();
}

QString LimitText(long double value)
{
    return QString::number(double(value), 'f', std::floor(value) == value ? 0 : 2);
}

// What a value of the field may be, for the messages.
QString AllowedText(const ConfigField &field, bool allowOutOfRange)
{
    const TEditLimits *limits = EditLimitsOf(field.TreeIndex);
    switch (field.Kind()) {
    case FieldKind::Code: {
        if (allowOutOfRange || !limits || CodeCount(field.TreeIndex) == 0)
            return QStringLiteral("a code, a whole number from 0 to 255");
        QStringList codes;
        for (int code = 0; code < CodeCount(field.TreeIndex); ++code)
            codes << QStringLiteral("%1 (%2)").arg(code).arg(CodeText(field.TreeIndex, code));
        return QStringLiteral("one of the codes ") + codes.join(QStringLiteral(", "));
    }
    case FieldKind::U16:
    case FieldKind::U32: {
        const QString type = field.Kind() == FieldKind::U16 ? QStringLiteral("65535") : QStringLiteral("4294967295");
        if (allowOutOfRange || !limits)
            return QStringLiteral("a whole number from 0 to ") + type;
        return QStringLiteral("a whole number from %1 to %2").arg(LimitText(limits->Min), LimitText(limits->Max));
    }
    case FieldKind::Real:
        if (allowOutOfRange || !limits)
            return QStringLiteral("a real number");
        return QStringLiteral("a number from %1 to %2 with at most %3 decimal(s)")
            .arg(LimitText(limits->Min), LimitText(limits->Max))
            .arg(limits->Decimals);
    }
    return {};
}

bool IsWhole(double number)
{
    return std::floor(number) == number;
}

enum class TStored { Yes, No, Null };

// Stores value into the field when its type and (unless allowOutOfRange) its range fit.
TStored StoreValue(const ConfigField &field, const QJsonValue &value, bool allowOutOfRange, TDeviceConfig &config)
{
    const TEditLimits *limits = allowOutOfRange ? nullptr : EditLimitsOf(field.TreeIndex);
    if (value.isNull() && field.Kind() == FieldKind::Real)
        return TStored::Null;
    if (!value.isDouble())
        return TStored::No;
    const double number = value.toDouble();
    if (!std::isfinite(number))
        return TStored::No;
    switch (field.Kind()) {
    case FieldKind::Code: {
        if (!IsWhole(number) || number < 0 || number > 255)
            return TStored::No;
        if (limits && number >= CodeCount(field.TreeIndex))
            return TStored::No;
        config.*std::get<uint8_t TDeviceConfig::*>(field.Member) = uint8_t(number);
        return TStored::Yes;
    }
    case FieldKind::U16:
    case FieldKind::U32: {
        const double top = field.Kind() == FieldKind::U16 ? 65535.0 : 4294967295.0;
        if (!IsWhole(number) || number < 0 || number > top)
            return TStored::No;
        if (limits && (number < double(limits->Min) || number > double(limits->Max)))
            return TStored::No;
        if (field.Kind() == FieldKind::U16)
            config.*std::get<uint16_t TDeviceConfig::*>(field.Member) = uint16_t(number);
        else
            config.*std::get<uint32_t TDeviceConfig::*>(field.Member) = uint32_t(number);
        return TStored::Yes;
    }
    case FieldKind::Real: {
        if (std::fabs(number) > double(FLT_MAX))
            return TStored::No;
        const float stored = float(number);
        if (limits) {
            if (number < double(limits->Min) || number > double(limits->Max))
                return TStored::No;
            // More decimals than the dialog takes: the value differs from its rounding.
            const double scale = std::pow(10.0, limits->Decimals);
            if (float(std::round(number * scale) / scale) != stored)
                return TStored::No;
        }
        config.*std::get<float TDeviceConfig::*>(field.Member) = stored;
        return TStored::Yes;
    }
    }
    return TStored::No;
}

// The file's "registers" as wire bytes, when they are 53 whole numbers from 0 to 65535.
bool ReadRegisters(const QJsonValue &value, TRegisterBytes &registers)
{
    const QJsonArray list = value.toArray();
    if (!value.isArray() || list.size() != ConfigRegisterCount)
        return false;
    for (int r = 0; r < ConfigRegisterCount; ++r) {
        const double word = list.at(r).toDouble(-1);
        if (!list.at(r).isDouble() || !IsWhole(word) || word < 0 || word > 65535)
            return false;
        registers[size_t(2 * r)] = uint8_t(int(word) >> 8);
        registers[size_t(2 * r + 1)] = uint8_t(int(word) & 0xFF);
    }
    return true;
}

QString Describe(const ConfigField &field)
{
    return QStringLiteral("parameter %1 (%2 / %3)")
        .arg(QLatin1String(field.Name), ParameterGroupText(field.TreeIndex), ParameterNameText(field.TreeIndex));
}

}  // namespace

QString ParameterGroupText(int index)
{
    const int group = GroupOfNode(index);
    return group < 0 ? QString() : QString::fromUtf8(TreeNodes()[size_t(group)].Text);
}

QString ParameterNameText(int index)
{
    return index >= 0 && index < TreeNodeCount ? QString::fromUtf8(TreeNodes()[size_t(index)].Text) : QString();
}

QString FieldValueText(const ConfigField &field, const TDeviceConfig &config)
{
    return std::visit(
        [&](auto member) -> QString {
            const auto v = config.*member;
            using T = std::remove_cvref_t<decltype(v)>;
            if constexpr (std::is_same_v<T, float>)
                return std::isfinite(v) ? ShortestFloatText(v) : QStringLiteral("null");
            else
                return QString::number(v);
        },
        field.Member);
}

QString FieldMeaningText(const ConfigField &field, const TDeviceConfig &config)
{
    // The grid's text with a point whatever the user's locale, from the program's shared
    // record while it is made.
    const QLocale userLocale;
    QLocale::setDefault(QLocale::c());
    const TDeviceConfig saved = DeviceConfig;
    DeviceConfig = config;
    const QString text = NodeValueText(field.TreeIndex);
    DeviceConfig = saved;
    QLocale::setDefault(userLocale);
    return text;
}

QByteArray ConfigFileText(const TDeviceConfig &config, const TRegisterBytes &registers, const QString &port)
{
    // The value texts of the file use a point whatever the user's locale; the device's
    // record is the program's shared one while they are made.
    const QLocale userLocale;
    QLocale::setDefault(QLocale::c());
    const TDeviceConfig saved = DeviceConfig;
    DeviceConfig = config;

    QString text = QStringLiteral("{\n  \"format\": 1,\n  \"device\": %1,\n  \"read_at\": %2,\n  \"port\": %3,\n  \"parameters\": [\n")
                       .arg(Json(QString::fromUtf8(DeviceName)),
                            Json(QDateTime::currentDateTimeUtc().toString(Qt::ISODate)), Json(port));
    const auto fields = ConfigFields();
    for (size_t i = 0; i < fields.size(); ++i) {
        const ConfigField &field = fields[i];
        text += QStringLiteral("    {\"index\": %1, \"group\": %2, \"name\": %3, \"field\": %4, \"value\": %5, \"text\": %6}%7\n")
                    .arg(field.TreeIndex)
                    .arg(Json(ParameterGroupText(field.TreeIndex)), Json(ParameterNameText(field.TreeIndex)),
                         Json(QLatin1String(field.Name)), FieldValueText(field, config),
                         Json(NodeValueText(field.TreeIndex)), i + 1 < fields.size() ? QStringLiteral(",") : QString());
    }
    text += QStringLiteral("  ],\n  \"registers\": [");
    for (int r = 0; r < ConfigRegisterCount; ++r) {
        if (r)
            text += QStringLiteral(", ");
        text += QString::number(registers[2 * r] << 8 | registers[2 * r + 1]);
    }
    text += QStringLiteral("]\n}\n");

    DeviceConfig = saved;
    QLocale::setDefault(userLocale);
    return text.toUtf8();
}

TConfigFileCheck ReadConfigFile(const QByteArray &text, TFileUse use, bool allowOutOfRange)
{
    TConfigFileCheck check;
    const TJsonRead read = ReadJson(text);
    if (!read.Ok()) {
        check.Errors << (read.Syntax ? QStringLiteral("not JSON: %1").arg(read.Error) : read.Error);
        return check;
    }
    const QJsonObject root = read.Root.toObject();
    const QJsonValue format = root.value(QStringLiteral("format"));
    if (!read.Root.isObject() || !format.isDouble() || format.toDouble() != 1) {
        check.Errors << QStringLiteral("not a configuration file of format 1 (\"format\": %1)")
                            .arg(format.isUndefined() ? QStringLiteral("missing") : JsonOf(format));
        return check;
    }
    const QJsonValue parameters = root.value(QStringLiteral("parameters"));
    if (!parameters.isArray()) {
        check.Errors << QStringLiteral("\"parameters\" is not a list");
        return check;
    }

    QHash<QString, const ConfigField *> byName;
    for (const ConfigField &field : ConfigFields())
        byName.insert(QLatin1String(field.Name), &field);
    QHash<const ConfigField *, int> seen;
    const QJsonArray list = parameters.toArray();
    const bool registersRead = ReadRegisters(root.value(QStringLiteral("registers")), check.Registers);
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QJsonObject entry = list.at(i).toObject();
        const QJsonValue name = entry.value(QStringLiteral("field"));
        const ConfigField *field = byName.value(name.toString(), nullptr);
        if (!list.at(i).isObject() || !field) {
            check.Errors << QStringLiteral("parameter %1 of the list: unknown parameter (\"field\": %2)")
                                .arg(i + 1)
                                .arg(name.isUndefined() ? QStringLiteral("missing") : JsonOf(name));
            continue;
        }
        if (seen.contains(field)) {
            check.Errors << QStringLiteral("%1: given twice").arg(Describe(*field));
            continue;
        }
        seen.insert(field, int(i));
        const QJsonValue value = entry.value(QStringLiteral("value"));
        if (value.isUndefined()) {
            check.Errors << QStringLiteral("%1: the value is missing").arg(Describe(*field));
            continue;
        }
        switch (StoreValue(*field, value, allowOutOfRange, check.Config)) {
        case TStored::Yes:
            continue;
        case TStored::No:
            check.Errors << QStringLiteral("%1: value %2 is not allowed; it may be %3")
                                .arg(Describe(*field), JsonOf(value), AllowedText(*field, allowOutOfRange));
            continue;
        case TStored::Null:
            break;
        }
        // A real the device held as no number: compared as such; written back, when asked
        // to, with the words the file's registers recorded for it.
        check.Nulls << field;
        if (use == TFileUse::Compare)
            continue;
        if (!allowOutOfRange) {
            check.Errors << QStringLiteral("%1: value null (the device held no number) is not allowed; it may be %2, "
                                           "or with --allow-out-of-range the words the file's registers hold")
                                .arg(Describe(*field), AllowedText(*field, false));
            continue;
        }
        const QString words = QStringLiteral("registers %1..%2").arg(field->FirstRegister).arg(field->FirstRegister + 1);
        if (!registersRead) {
            check.Errors << QStringLiteral("%1: value null takes its words from \"registers\", which is not a list of "
                                           "%2 whole numbers from 0 to 65535")
                                .arg(Describe(*field))
                                .arg(ConfigRegisterCount);
            continue;
        }
        UnpackField(*field, check.Registers.data() + 2 * field->FirstRegister, check.Config);
        const float real = check.Config.*std::get<float TDeviceConfig::*>(field->Member);
        if (std::isfinite(real))
            check.Errors << QStringLiteral("%1: value null, but the file's %2 hold the number %3")
                                .arg(Describe(*field), words, ShortestFloatText(real));
    }
    for (const ConfigField &field : ConfigFields())
        if (!seen.contains(&field))
            check.Errors << QStringLiteral("%1: missing").arg(Describe(field));
    return check;
}
