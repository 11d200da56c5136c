#include "JsonReader.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace {

// Deeper than any configuration file goes, shallow enough for any stack.
constexpr size_t MaxDepth = 64;

// Builds Qt's tree of the text from the parser's events and watches each object's keys.
class TTreeBuilder : public nlohmann::json_sax<nlohmann::json> {
public:
    QJsonValue Root;
    QString Error;
    size_t ErrorPosition = 0;  // bytes read when the parser failed; 0: no parse error

    bool null() override { return Put(QJsonValue(QJsonValue::Null)); }
    bool boolean(bool value) override { return Put(QJsonValue(value)); }
    bool number_integer(number_integer_t value) override { return Put(QJsonValue(double(value))); }
    bool number_unsigned(number_unsigned_t value) override { return Put(QJsonValue(double(value))); }
    bool number_float(number_float_t value, const string_t &) override { return Put(QJsonValue(value)); }
    bool string(string_t &value) override { return Put(QJsonValue(QString::fromStdString(value))); }
    bool binary(binary_t &) override { return Put(QJsonValue()); }

    bool start_object(std::size_t) override { return Open(true); }
    bool key(string_t &value) override
    {
        TLevel &level = levels_.back();
        level.Key = QString::fromStdString(value);
        if (level.Keys.contains(level.Key)) {
            Error = QStringLiteral("\"%1\" is given twice in %2").arg(level.Key, Where());
            return false;
        }
        level.Keys.insert(level.Key);
        return true;
    }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override { return Open(false); }
    bool end_array() override { return Close(); }

    bool parse_error(std::size_t position, const std::string &, const nlohmann::detail::exception &ex) override
    {
        ErrorPosition = position;
        Error = Explanation(ex.what());
        return false;
    }

private:
    struct TLevel {
        bool IsObject = false;
        QJsonObject Object;
        QJsonArray Array;
        QString Key;
        QSet<QString> Keys;
    };

    bool Open(bool object)
    {
        if (levels_.size() >= MaxDepth) {
            Error = QStringLiteral("nested deeper than %1 levels").arg(MaxDepth);
            return false;
        }
        levels_.push_back(TLevel{object, {}, {}, {}, {}});
        return true;
    }
    bool Close()
    {
        TLevel level = std::move(levels_.back());
        levels_.pop_back();
        return Put(level.IsObject ? QJsonValue(level.Object) : QJsonValue(level.Array));
    }
    bool Put(const QJsonValue &value)
    {
        if (levels_.empty()) {
            Root = value;
        } else if (levels_.back().IsObject) {
            levels_.back().Object.insert(levels_.back().Key, value);
        } else {
            levels_.back().Array.append(value);
        }
        return true;
    }
    // The object the current key belongs to, as a person finds it in the file.
    QString Where() const
    {
        if (levels_.size() == 1)
            return QStringLiteral("the file's top level");
        if (levels_.size() == 3 && !levels_[1].IsObject && levels_[0].Key == QLatin1String("parameters"))
            return QStringLiteral("parameter %1 of the list").arg(levels_[1].Array.size() + 1);
        QString path;
        for (size_t i = 0; i + 1 < levels_.size(); ++i)
            path += QLatin1Char('/') + (levels_[i].IsObject ? levels_[i].Key : QString::number(levels_[i].Array.size()));
        return QStringLiteral("the object at %1").arg(path);
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
};

// Line and column (in characters, both from 1) of the byte at offset.
QString LineAndColumn(const QByteArray &text, qsizetype offset)
{
    offset = std::clamp<qsizetype>(offset, 0, text.size());
    int line = 1;
    qsizetype lineStart = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    for (qsizetype i = 0; i < offset; ++i)
        if (text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    int column = 1;
    for (qsizetype i = lineStart; i < offset; ++i)
        if ((uchar(text[i]) & 0xC0) != 0x80)
            ++column;
    return QStringLiteral("line %1, column %2").arg(line).arg(column);
}

}  // namespace

TJsonRead ReadJson(const QByteArray &text)
{
    TTreeBuilder builder;
    const char *begin = text.constData();
    const bool read = nlohmann::json::sax_parse(begin, begin + text.size(), &builder);
    TJsonRead result;
    if (read) {
        result.Root = builder.Root;
    } else if (builder.ErrorPosition > 0) {
        result.Syntax = true;
        result.Error = QStringLiteral("%1: %2").arg(LineAndColumn(text, qsizetype(builder.ErrorPosition) - 1), builder.Error);
    } else {
        result.Error = builder.Error.isEmpty() ? QStringLiteral("cannot be read") : builder.Error;
    }
    return result;
}
