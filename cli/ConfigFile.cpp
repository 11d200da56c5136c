#include "ConfigFile.h"

#include "EditLimits.h"
#include "ParameterTree.h"
#include "ValueText.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLocale>
#include <QVariant>

#include <charconv>
#include <cfloat>
#include <cctype>
#include <cmath>
#include <cstring>

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
    if (value.isUndefined())
        return QStringLiteral("nothing");
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

// The JSON reader keeps 1.0 as the whole number 1; the file's own text tells a real from a
// whole number. Walks a text the reader has accepted and gives, for each entry of the
// top-level "parameters" list, the literal text of its "value" (empty: no number there).
class TValueLiterals {
public:
    explicit TValueLiterals(const QByteArray &text) : text_(text) { Value(0); }
    QList<QByteArray> Literals;

private:
    void Space()
    {
        while (at_ < text_.size() && std::isspace(uchar(text_[at_])))
            ++at_;
    }
    QByteArray String()
    {
        const qsizetype start = ++at_;
        while (at_ < text_.size() && text_[at_] != '"')
            at_ += text_[at_] == '\\' ? 2 : 1;
        return text_.mid(start, at_++ - start);
    }
    // depth 0: the document; 1: an entry of "parameters"; 2: that entry's "value".
    void Value(int depth)
    {
        Space();
        if (at_ >= text_.size())
            return;
        const char c = text_[at_];
        if (c == '{') {
            ++at_;
            for (Space(); at_ < text_.size() && text_[at_] != '}'; Space()) {
                if (text_[at_] == ',') {
                    ++at_;
                    continue;
                }
                const QByteArray key = String();
                Space();
                ++at_;  // ':'
                if (depth == 0 && key == "parameters")
                    Parameters();
                else
                    Value(depth == 1 && key == "value" ? 2 : -1);
            }
            ++at_;
        } else if (c == '[') {
            ++at_;
            for (Space(); at_ < text_.size() && text_[at_] != ']'; Space()) {
                if (text_[at_] == ',')
                    ++at_;
                else
                    Value(-1);
            }
            ++at_;
        } else if (c == '"') {
            String();
        } else {
            const qsizetype start = at_;
            while (at_ < text_.size() && !std::strchr(",]} \t\r\n", text_[at_]))
                ++at_;
            if (depth == 2 && !Literals.isEmpty())
                Literals.last() = text_.mid(start, at_ - start);
        }
    }
    void Parameters()
    {
        Space();
        if (at_ >= text_.size() || text_[at_] != '[') {
            Value(-1);
            return;
        }
        ++at_;
        for (Space(); at_ < text_.size() && text_[at_] != ']'; Space()) {
            if (text_[at_] == ',') {
                ++at_;
                continue;
            }
            Literals.append(QByteArray());
            Value(1);
        }
        ++at_;
    }

    const QByteArray &text_;
    qsizetype at_ = 0;
};

bool IsWholeLiteral(const QJsonValue &value, const QByteArray &literal)
{
    return value.isDouble() && !literal.contains('.') && !literal.contains('e') && !literal.contains('E');
}

// Stores value into the field when its type and (unless allowOutOfRange) its range fit.
bool StoreValue(const ConfigField &field, const QJsonValue &value, const QByteArray &literal, bool allowOutOfRange,
                TDeviceConfig &config)
{
    const TEditLimits *limits = allowOutOfRange ? nullptr : EditLimitsOf(field.TreeIndex);
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    if (!std::isfinite(number))
        return false;
    switch (field.Kind()) {
    case FieldKind::Code: {
        if (!IsWholeLiteral(value, literal) || number < 0 || number > 255)
            return false;
        if (limits && number >= CodeCount(field.TreeIndex))
            return false;
        config.*std::get<uint8_t TDeviceConfig::*>(field.Member) = uint8_t(number);
        return true;
    }
    case FieldKind::U16:
    case FieldKind::U32: {
        const double top = field.Kind() == FieldKind::U16 ? 65535.0 : 4294967295.0;
        if (!IsWholeLiteral(value, literal) || number < 0 || number > top)
            return false;
        if (limits && (number < double(limits->Min) || number > double(limits->Max)))
            return false;
        if (field.Kind() == FieldKind::U16)
            config.*std::get<uint16_t TDeviceConfig::*>(field.Member) = uint16_t(number);
        else
            config.*std::get<uint32_t TDeviceConfig::*>(field.Member) = uint32_t(number);
        return true;
    }
    case FieldKind::Real: {
        if (std::fabs(number) > double(FLT_MAX))
            return false;
        const float stored = float(number);
        if (limits) {
            if (number < double(limits->Min) || number > double(limits->Max))
                return false;
            // More decimals than the dialog takes: the value differs from its rounding.
            const double scale = std::pow(10.0, limits->Decimals);
            if (float(std::round(number * scale) / scale) != stored)
                return false;
        }
        config.*std::get<float TDeviceConfig::*>(field.Member) = stored;
        return true;
    }
    }
    return false;
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

TConfigFileCheck ReadConfigFile(const QByteArray &text, bool allowOutOfRange)
{
    TConfigFileCheck check;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        check.Errors << QStringLiteral("not JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset);
        return check;
    }
    const QJsonObject root = document.object();
    const QJsonValue format = root.value(QStringLiteral("format"));
    if (!document.isObject() || !format.isDouble() || format.toDouble() != 1) {
        check.Errors << QStringLiteral("not a configuration file of format 1 (\"format\": %1)").arg(JsonOf(format));
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
    const QList<QByteArray> literals = TValueLiterals(text).Literals;
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QJsonObject entry = list.at(i).toObject();
        const QJsonValue name = entry.value(QStringLiteral("field"));
        const ConfigField *field = byName.value(name.toString(), nullptr);
        if (!list.at(i).isObject() || !field) {
            check.Errors << QStringLiteral("parameter %1 of the list: unknown parameter (\"field\": %2)")
                                .arg(i + 1)
                                .arg(JsonOf(name));
            continue;
        }
        if (seen.contains(field)) {
            check.Errors << QStringLiteral("%1: given twice").arg(Describe(*field));
            continue;
        }
        seen.insert(field, int(i));
        const QJsonValue value = entry.value(QStringLiteral("value"));
        const QByteArray literal = literals.value(i);
        if (!StoreValue(*field, value, literal, allowOutOfRange, check.Config))
            check.Errors << QStringLiteral("%1: value %2 is not allowed; it may be %3")
                                .arg(Describe(*field), literal.isEmpty() ? JsonOf(value) : QString::fromUtf8(literal),
                                     AllowedText(*field, allowOutOfRange));
    }
    for (const ConfigField &field : ConfigFields())
        if (!seen.contains(&field))
            check.Errors << QStringLiteral("%1: missing").arg(Describe(field));
    return check;
}
