#include "JsonReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace {

// The text of every number in the order the parser meets them: the parser hands over an
// integer's value alone, and "-0" would come back as "0".
std::vector<QString> NumberTexts(const QByteArray &text)
{
    std::vector<QString> numbers;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size;) {
        const char c = text[i];
        if (c == '"') {
            for (++i; i < size && text[i] != '"'; ++i)
                if (text[i] == '\\')
                    ++i;
            ++i;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            const qsizetype start = i;
            while (i < size && (std::isdigit(uchar(text[i])) || std::strchr("+-.eE", text[i]) != nullptr))
                ++i;
            numbers.push_back(QString::fromLatin1(text.constData() + start, int(i - start)));
        } else {
            ++i;
        }
    }
    return numbers;
}

// Builds the tree of the text from the parser's events and watches each object's keys.
class TTreeBuilder : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit TTreeBuilder(std::vector<QString> numbers) : numbers_(std::move(numbers)) {}

    TJsonRead Result;
    size_t ErrorPosition = 0;  // bytes read when the parser failed; 0: no parse error

    bool null() override { return Put(TJsonValue{}); }
    bool boolean(bool value) override
    {
        TJsonValue v;
        v.Type = TJsonValue::TType::Bool;
        v.Bool = value;
        return Put(std::move(v));
    }
    bool number_integer(number_integer_t value) override { return Number(double(value), QString::number(value)); }
    bool number_unsigned(number_unsigned_t value) override { return Number(double(value), QString::number(value)); }
    bool number_float(number_float_t value, const string_t &text) override
    {
        return Number(value, QString::fromStdString(text));
    }
    bool string(string_t &value) override
    {
        TJsonValue v;
        v.Type = TJsonValue::TType::String;
        v.Text = QString::fromStdString(value);
        return Put(std::move(v));
    }
    bool binary(binary_t &) override { return Put(TJsonValue{}); }

    bool start_object(std::size_t) override { return Open(TJsonValue::TType::Object); }
    bool key(string_t &value) override
    {
        TLevel &level = levels_.back();
        level.Key = QString::fromStdString(value);
        if (level.Keys.contains(level.Key)) {
            Result.Error = TJsonError::KeyTwice;
            Result.Key = level.Key;
            Locate();
            return false;
        }
        level.Keys.insert(level.Key);
        return true;
    }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override { return Open(TJsonValue::TType::Array); }
    bool end_array() override { return Close(); }

    bool parse_error(std::size_t position, const std::string &, const nlohmann::detail::exception &ex) override
    {
        ErrorPosition = position;
        Result.Error = TJsonError::Syntax;
        Result.Detail = Explanation(ex.what());
        return false;
    }

private:
    struct TLevel {
        TJsonValue Value;
        QString Key;
        QSet<QString> Keys;
    };

    bool Number(double value, const QString &fallback)
    {
        TJsonValue v;
        v.Type = TJsonValue::TType::Number;
        v.Number = value;
        v.Text = next_ < numbers_.size() ? numbers_[next_] : fallback;
        ++next_;
        return Put(std::move(v));
    }
    bool Open(TJsonValue::TType type)
    {
        if (levels_.size() >= size_t(JsonMaxDepth)) {
            Result.Error = TJsonError::TooDeep;
            return false;
        }
        TLevel level;
        level.Value.Type = type;
        levels_.push_back(std::move(level));
        return true;
    }
    bool Close()
    {
        TJsonValue value = std::move(levels_.back().Value);
        levels_.pop_back();
        return Put(std::move(value));
    }
    bool Put(TJsonValue &&value)
    {
        if (levels_.empty()) {
            Result.Root = std::move(value);
        } else if (levels_.back().Value.IsObject()) {
            levels_.back().Value.Members.push_back(TJsonMember{levels_.back().Key, std::move(value)});
        } else {
            levels_.back().Value.Items.push_back(std::move(value));
        }
        return true;
    }
    // The object the current key belongs to, as a person finds it in the file.
    void Locate()
    {
        if (levels_.size() == 1) {
            Result.Place = TJsonPlace::TopLevel;
        } else if (levels_.size() == 3 && levels_[1].Value.IsArray() && levels_[0].Key == QLatin1String("parameters")) {
            Result.Place = TJsonPlace::Parameter;
            Result.Position = int(levels_[1].Value.Items.size()) + 1;
        } else {
            Result.Place = TJsonPlace::Object;
            for (size_t i = 0; i + 1 < levels_.size(); ++i)
                Result.Path += QLatin1Char('/') + (levels_[i].Value.IsObject() ? levels_[i].Key
                                                                               : QString::number(levels_[i].Value.Items.size()));
        }
    }
    // The parser's message without its tag and its own position.
    static QString Explanation(const char *what)
    {
        QString text = QString::fromUtf8(what);
        if (text.startsWith(QLatin1Char('[')))
            text = text.mid(text.indexOf(QLatin1Char(']')) + 1).trimmed();
        if (text.startsWith(QLatin1String("parse error")) && text.contains(QLatin1String(": ")))
            text = text.mid(text.indexOf(QLatin1String(": ")) + 2);
        return text;
    }

    std::vector<TLevel> levels_;
    std::vector<QString> numbers_;
    size_t next_ = 0;
};

// Line and column (in characters, both from 1) of the byte at offset.
void LineAndColumn(const QByteArray &text, qsizetype offset, int &line, int &column)
{
    offset = std::clamp<qsizetype>(offset, 0, text.size());
    line = 1;
    qsizetype lineStart = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    for (qsizetype i = 0; i < offset; ++i)
        if (text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    column = 1;
    for (qsizetype i = lineStart; i < offset; ++i)
        if ((uchar(text[i]) & 0xC0) != 0x80)
            ++column;
}

// A JSON text begins with an ASCII character (white space or the value's first); in UTF-16
// that is one zero byte beside one that is not.
bool LooksUtf16(const QByteArray &text)
{
    if (text.startsWith("\xFF\xFE") || text.startsWith("\xFE\xFF"))
        return true;
    return text.size() >= 2 && (text[0] == '\0') != (text[1] == '\0');
}

}  // namespace

const TJsonValue *TJsonValue::Member(const char *key) const
{
    for (const auto &[name, value] : Members)
        if (name == QLatin1String(key))
            return &value;
    return nullptr;
}

QString TJsonValue::JsonText() const
{
    switch (Type) {
    case TType::Null: return QStringLiteral("null");
    case TType::Bool: return Bool ? QStringLiteral("true") : QStringLiteral("false");
    case TType::Number: return Text;
    case TType::String: return JsonString(Text);
    case TType::Array: {
        QStringList items;
        for (const TJsonValue &item : Items)
            items << item.JsonText();
        return QLatin1Char('[') + items.join(QLatin1Char(',')) + QLatin1Char(']');
    }
    case TType::Object: {
        QStringList members;
        for (const auto &[name, value] : Members)
            members << JsonString(name) + QLatin1Char(':') + value.JsonText();
        return QLatin1Char('{') + members.join(QLatin1Char(',')) + QLatin1Char('}');
    }
    }
    return {};
}

bool IsWholeNumberText(QStringView text)
{
    // digits [. digits] [e [sign] digits], a sign before
    qsizetype i = text.startsWith(QLatin1Char('-')) ? 1 : 0;
    QString digits;
    qsizetype point = -1;
    for (; i < text.size() && (text[i].isDigit() || text[i] == QLatin1Char('.')); ++i) {
        if (text[i] == QLatin1Char('.'))
            point = digits.size();
        else
            digits += text[i];
    }
    if (point < 0)
        point = digits.size();
    long long exponent = 0;
    if (i < text.size() && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        bool ok = false;
        exponent = text.mid(i + 1).toLongLong(&ok);
        if (!ok)  // beyond any long long: a huge shift either way
            exponent = text.mid(i + 1).startsWith(QLatin1Char('-')) ? -(1LL << 40) : (1LL << 40);
    }
    // The digits from this place on stand after the point.
    const long long fraction = std::max<long long>(0, point + exponent);
    for (long long d = fraction; d < digits.size(); ++d)
        if (digits[qsizetype(d)] != QLatin1Char('0'))
            return false;
    return true;
}

QString JsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

TJsonRead ReadJson(const QByteArray &text)
{
    TJsonRead result;
    if (LooksUtf16(text)) {
        result.Error = TJsonError::Utf16;
        return result;
    }
    if (const qsizetype nul = text.indexOf('\0'); nul >= 0) {
        result.Error = TJsonError::Nul;
        LineAndColumn(text, nul, result.Line, result.Column);
        return result;
    }
    TTreeBuilder builder(NumberTexts(text));
    const char *begin = text.constData();
    if (nlohmann::json::sax_parse(begin, begin + text.size(), &builder))
        return builder.Result;
    result = builder.Result;
    result.Root = TJsonValue{};
    if (result.Error == TJsonError::Syntax && builder.ErrorPosition > 0)
        LineAndColumn(text, qsizetype(builder.ErrorPosition) - 1, result.Line, result.Column);
    else if (result.Error == TJsonError::None)
        result.Error = TJsonError::Unreadable;
    return result;
}
