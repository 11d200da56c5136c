#include "ConfigFileFormat.h"

#include "EditLimits.h"
#include "ParameterTree.h"
#include "ValueText.h"

#include <QHash>
#include <QStringDecoder>

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {

const char *const DeviceName = "Карвен-12Т";
// The decimal separator of the reals a file or a program reads.
const QString FilePoint = QStringLiteral(".");

// What a value of the field may be: within the editing dialog's limits, or (allowOutOfRange)
// anything its kind holds.
TAllowedValues AllowedValues(const ConfigField &field, bool allowOutOfRange)
{
    using K = TAllowedValues::TKind;
    const TEditLimits *limits = allowOutOfRange ? nullptr : EditLimitsOf(field.TreeIndex);
    TAllowedValues allowed;
    allowed.TreeIndex = field.TreeIndex;
    switch (field.Kind()) {
    case FieldKind::Code:
        allowed.Kind = limits && CodeCount(field.TreeIndex) > 0 ? K::Codes : K::AnyCode;
        break;
    case FieldKind::U16:
    case FieldKind::U32:
        allowed.Kind = K::Whole;
        allowed.Min = limits ? limits->Min : 0;
        allowed.Max = limits ? limits->Max : field.Kind() == FieldKind::U16 ? 65535.0L : 4294967295.0L;
        break;
    case FieldKind::Real:
        allowed.Kind = limits ? K::Real : K::AnyReal;
        if (limits) {
            allowed.Min = limits->Min;
            allowed.Max = limits->Max;
            allowed.Decimals = limits->Decimals;
        }
        break;
    }
    return allowed;
}

enum class TStored { Yes, NotAllowed, OutOfRange, Null };

// Stores value into the field when its kind and (unless allowOutOfRange) its range fit.
// Whether a number is whole is told by its digits: 999999.00000000001 is not, although its
// nearest double is.
TStored StoreValue(const ConfigField &field, const TJsonValue &value, bool allowOutOfRange, TDeviceConfig &config)
{
    const TEditLimits *limits = allowOutOfRange ? nullptr : EditLimitsOf(field.TreeIndex);
    if (value.IsNull() && field.Kind() == FieldKind::Real)
        return TStored::Null;
    if (!value.IsNumber() || !std::isfinite(value.Number))
        return TStored::NotAllowed;
    const double number = value.Number;
    const bool whole = IsWholeNumberText(value.Text);
    switch (field.Kind()) {
    case FieldKind::Code: {
        if (!whole || number < 0 || number > 255)
            return TStored::NotAllowed;
        if (limits && number >= CodeCount(field.TreeIndex))
            return TStored::OutOfRange;
        config.*std::get<uint8_t TDeviceConfig::*>(field.Member) = uint8_t(number);
        return TStored::Yes;
    }
    case FieldKind::U16:
    case FieldKind::U32: {
        const double top = field.Kind() == FieldKind::U16 ? 65535.0 : 4294967295.0;
        if (!whole || number < 0 || number > top)
            return TStored::NotAllowed;
        if (limits && (number < double(limits->Min) || number > double(limits->Max)))
            return TStored::OutOfRange;
        if (field.Kind() == FieldKind::U16)
            config.*std::get<uint16_t TDeviceConfig::*>(field.Member) = uint16_t(number);
        else
            config.*std::get<uint32_t TDeviceConfig::*>(field.Member) = uint32_t(number);
        return TStored::Yes;
    }
    case FieldKind::Real: {
        if (std::fabs(number) > double(FLT_MAX))
            return TStored::NotAllowed;
        const float stored = float(number);
        if (limits) {
            if (number < double(limits->Min) || number > double(limits->Max))
                return TStored::OutOfRange;
            // More decimals than the dialog takes: the value differs from its rounding.
            const double scale = std::pow(10.0, limits->Decimals);
            if (float(std::round(number * scale) / scale) != stored)
                return TStored::OutOfRange;
        }
        config.*std::get<float TDeviceConfig::*>(field.Member) = stored;
        return TStored::Yes;
    }
    }
    return TStored::NotAllowed;
}

// The file's "registers" as wire bytes, when they are 53 whole numbers from 0 to 65535.
bool ReadRegisters(const TJsonValue *value, TRegisterBytes &registers)
{
    if (!value || !value->IsArray() || value->Items.size() != size_t(ConfigRegisterCount))
        return false;
    for (int r = 0; r < ConfigRegisterCount; ++r) {
        const TJsonValue &item = value->Items[size_t(r)];
        if (!item.IsNumber() || !IsWholeNumberText(item.Text) || item.Number < 0 || item.Number > 65535)
            return false;
        const int word = int(item.Number);
        registers[size_t(2 * r)] = uint8_t(word >> 8);
        registers[size_t(2 * r + 1)] = uint8_t(word & 0xFF);
    }
    return true;
}

// Where the file says its values came from; what is missing or of another kind is passed over.
TConfigOrigin ReadOrigin(const TJsonValue &root)
{
    TConfigOrigin origin;
    auto text = [&](const char *key) {
        const TJsonValue *value = root.Member(key);
        return value && value->IsString() ? value->Text : QString();
    };
    origin.ReadAt = QDateTime::fromString(text("read_at"), Qt::ISODate);
    origin.Port = text("port");
    origin.OpenedFrom = text("opened_from");
    const TJsonValue *byHand = root.Member("changed_by_hand");
    origin.ChangedByHand = byHand && byHand->IsBool() && byHand->Bool;
    return origin;
}

TConfigProblem Problem(TConfigProblemKind kind, const ConfigField *field = nullptr, const QString &value = QString())
{
    TConfigProblem problem;
    problem.Kind = kind;
    problem.Field = field;
    problem.Value = value;
    return problem;
}

TConfigProblem JsonProblem(const TJsonRead &read)
{
    using K = TConfigProblemKind;
    TConfigProblem problem;
    switch (read.Error) {
    case TJsonError::Utf16: problem.Kind = K::Utf16; break;
    case TJsonError::Nul: problem.Kind = K::Nul; break;
    case TJsonError::Syntax: problem.Kind = K::NotJson; break;
    case TJsonError::KeyTwice: problem.Kind = K::KeyTwice; break;
    case TJsonError::TooDeep: problem.Kind = K::TooDeep; break;
    case TJsonError::None:
    case TJsonError::Unreadable: break;
    }
    problem.Line = read.Line;
    problem.Column = read.Column;
    problem.Detail = read.Detail;
    problem.Key = read.Key;
    problem.Path = read.Path;
    problem.Position = read.Place == TJsonPlace::Parameter ? read.Position : 0;
    return problem;
}

// What lies behind a syntax error a person would not read as such: bytes of another code
// page (Notepad's "ANSI"), or a decimal comma (the error is at the digits after a comma that
// follows digits).
TConfigProblemKind SyntaxCause(const QByteArray &text, int line, int column)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8(text);
    if (utf8.hasError())
        return TConfigProblemKind::NotUtf8;
    if (line <= 0 || column <= 0)
        return TConfigProblemKind::NotJson;
    const QString row = decoded.section(QLatin1Char('\n'), line - 1, line - 1);
    const int at = column - 1;
    if (at >= 2 && at < row.size() && row[at].isDigit() && row[at - 1] == QLatin1Char(',') && row[at - 2].isDigit())
        return TConfigProblemKind::DecimalComma;
    return TConfigProblemKind::NotJson;
}

}  // namespace

TConfigOrigin TConfigOrigin::Device(const QString &port, const QDateTime &at)
{
    TConfigOrigin origin;
    origin.ReadAt = at;
    origin.Port = port;
    return origin;
}

bool TConfigFileCheck::OnlyOutOfRange() const
{
    return !Problems.isEmpty()
        && std::all_of(Problems.begin(), Problems.end(), [](const TConfigProblem &p) { return p.IsOutOfRange(); });
}

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
                return std::isfinite(v) ? ShortestRealText(v) : QStringLiteral("null");
            else
                return QString::number(v);
        },
        field.Member);
}

QString FieldMeaningText(const ConfigField &field, const TDeviceConfig &config)
{
    // The grid's text with a point whatever the user's locale.
    return NodeValueTextOf(config, field.TreeIndex, FilePoint);
}

QByteArray ConfigFileText(const TDeviceConfig &config, const TRegisterBytes &registers, const TConfigOrigin &origin)
{
    // The value texts of the file use a point whatever the user's locale.
    QString text = QStringLiteral("{\n  \"format\": 1,\n  \"device\": %1,\n").arg(JsonString(QString::fromUtf8(DeviceName)));
    if (origin.ReadAt.isValid())
        text += QStringLiteral("  \"read_at\": %1,\n").arg(JsonString(origin.ReadAt.toUTC().toString(Qt::ISODate)));
    if (origin.ReadAt.isValid() || !origin.Port.isEmpty())
        text += QStringLiteral("  \"port\": %1,\n").arg(JsonString(origin.Port));
    if (!origin.OpenedFrom.isEmpty())
        text += QStringLiteral("  \"opened_from\": %1,\n").arg(JsonString(origin.OpenedFrom));
    if (origin.ChangedByHand)
        text += QStringLiteral("  \"changed_by_hand\": true,\n");
    text += QStringLiteral("  \"parameters\": [\n");
    const auto fields = ConfigFields();
    for (size_t i = 0; i < fields.size(); ++i) {
        const ConfigField &field = fields[i];
        text += QStringLiteral("    {\"index\": %1, \"group\": %2, \"name\": %3, \"field\": %4, \"value\": %5, \"text\": %6}%7\n")
                    .arg(field.TreeIndex)
                    .arg(JsonString(ParameterGroupText(field.TreeIndex)), JsonString(ParameterNameText(field.TreeIndex)),
                         JsonString(QLatin1String(field.Name)), FieldValueText(field, config),
                         JsonString(NodeValueTextOf(config, field.TreeIndex, FilePoint)),
                         i + 1 < fields.size() ? QStringLiteral(",") : QString());
    }
    text += QStringLiteral("  ],\n  \"registers\": [");
    for (int r = 0; r < ConfigRegisterCount; ++r) {
        if (r)
            text += QStringLiteral(", ");
        text += QString::number(registers[2 * r] << 8 | registers[2 * r + 1]);
    }
    text += QStringLiteral("]\n}\n");
    return text.toUtf8();
}

TConfigFileCheck ReadConfigFile(const QByteArray &text, TFileUse use, bool allowOutOfRange)
{
    using K = TConfigProblemKind;
    TConfigFileCheck check;
    if (text.trimmed().isEmpty() || text.trimmed() == QByteArrayLiteral("\xEF\xBB\xBF")) {
        check.Problems << Problem(K::Empty);
        return check;
    }
    const TJsonRead read = ReadJson(text);
    if (!read.Ok()) {
        TConfigProblem problem = JsonProblem(read);
        if (problem.Kind == K::NotJson)
            problem.Kind = SyntaxCause(text, problem.Line, problem.Column);
        check.Problems << problem;
        return check;
    }
    const TJsonValue &root = read.Root;
    const TJsonValue *format = root.Member("format");
    if (!root.IsObject() || !format || !format->IsNumber() || format->Number != 1) {
        check.Problems << Problem(K::NotFormat1, nullptr, format ? format->JsonText() : QString());
        return check;
    }
    const TJsonValue *parameters = root.Member("parameters");
    if (!parameters || !parameters->IsArray()) {
        check.Problems << Problem(K::ParametersNotList);
        return check;
    }
    check.Origin = ReadOrigin(root);

    QHash<QString, const ConfigField *> byName;
    for (const ConfigField &field : ConfigFields())
        byName.insert(QLatin1String(field.Name), &field);
    QHash<const ConfigField *, int> seen;
    const bool registersRead = ReadRegisters(root.Member("registers"), check.Registers);
    for (size_t i = 0; i < parameters->Items.size(); ++i) {
        const TJsonValue &entry = parameters->Items[i];
        const TJsonValue *name = entry.Member("field");
        const ConfigField *field = name && name->IsString() ? byName.value(name->Text, nullptr) : nullptr;
        if (!field) {
            TConfigProblem problem = Problem(K::UnknownParameter, nullptr, name ? name->JsonText() : QString());
            problem.Position = int(i) + 1;
            check.Problems << problem;
            continue;
        }
        if (seen.contains(field)) {
            check.Problems << Problem(K::GivenTwice, field);
            continue;
        }
        seen.insert(field, int(i));
        const TJsonValue *value = entry.Member("value");
        if (!value) {
            check.Problems << Problem(K::ValueMissing, field);
            continue;
        }
        const TStored stored = StoreValue(*field, *value, allowOutOfRange, check.Config);
        if (stored == TStored::Yes)
            continue;
        if (stored != TStored::Null) {
            TConfigProblem problem = Problem(stored == TStored::OutOfRange ? K::OutOfRange : K::ValueNotAllowed, field,
                                             value->JsonText());
            problem.Allowed = AllowedValues(*field, allowOutOfRange);
            if (stored == TStored::OutOfRange && field->Kind() == FieldKind::Real) {
                // Taken anyway it is stored in single precision: 16777217 becomes 16777216.
                const QString becomes = ShortestRealText(float(value->Number));
                if (becomes.toDouble() != value->Number)
                    problem.Detail = becomes;
            }
            check.Problems << problem;
            continue;
        }
        // A real the device held as no number: compared as such; written back, when asked
        // to, with the words the file's registers recorded for it.
        check.Nulls << field;
        if (use == TFileUse::Compare)
            continue;
        if (!allowOutOfRange) {
            TConfigProblem problem = Problem(K::NullNotAllowed, field, QStringLiteral("null"));
            problem.Allowed = AllowedValues(*field, false);
            check.Problems << problem;
            continue;
        }
        if (!registersRead) {
            check.Problems << Problem(K::NullWithoutRegisters, field, QStringLiteral("null"));
            continue;
        }
        UnpackField(*field, check.Registers.data() + 2 * field->FirstRegister, check.Config);
        const float real = check.Config.*std::get<float TDeviceConfig::*>(field->Member);
        if (std::isfinite(real))
            check.Problems << Problem(K::NullButNumber, field, ShortestRealText(real));
    }
    for (const ConfigField &field : ConfigFields())
        if (!seen.contains(&field))
            check.Problems << Problem(K::Missing, &field);
    return check;
}

QList<const ConfigField *> DifferingFields(const TConfigFileCheck &file, const TDeviceConfig &config)
{
    QList<const ConfigField *> differing;
    for (const ConfigField &field : ConfigFields()) {
        if (file.IsNull(field)) {
            // null stands for a real that is no number: any such real equals it.
            if (!std::isfinite(config.*std::get<float TDeviceConfig::*>(field.Member)))
                continue;
        } else {
            uint8_t a[4] = {}, b[4] = {};
            PackField(field, file.Config, a);
            PackField(field, config, b);
            if (std::equal(a, a + 2 * field.RegisterCount(), b))
                continue;
        }
        differing << &field;
    }
    return differing;
}
