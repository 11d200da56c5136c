#include "NumberRules.h"

#include <QLocale>
#include <QRegularExpression>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

TNumberSeparators TNumberSeparators::FromLocale(const QLocale &locale)
{
    TNumberSeparators seps;
    const QString decimal = locale.decimalPoint();
    const QString group = locale.groupSeparator();
    if (decimal.size() == 1)
        seps.Decimal = decimal.at(0);
    seps.Group = group.size() == 1 ? group.at(0) : QChar(u'\0');
    if (seps.Group == seps.Decimal)
        seps.Group = QChar(u'\0');
    return seps;
}

TNumberSeparators TNumberSeparators::Current()
{
    return FromLocale(QLocale());
}

QChar MapTypedSeparator(QChar key, const TNumberSeparators &seps)
{
    if ((key == u'.' || key == u',') && key != seps.Group)
        return seps.Decimal;
    return key;
}

QString NormaliseNumberText(const QString &text, const TNumberSeparators &seps)
{
    QString result;
    result.reserve(text.size());
    for (QChar c : text) {
        if (c.isSpace() || (!seps.Group.isNull() && c == seps.Group))
            continue;
        result.append(MapTypedSeparator(c, seps));
    }
    return result;
}

namespace {

// The normalised text rewritten with "." as the separator, for the parser.
std::string ToCNumber(const QString &normalised, const TNumberSeparators &seps)
{
    std::string s;
    s.reserve(normalised.size());
    for (QChar c : normalised) {
        if (c == seps.Decimal)
            s.push_back('.');
        else if (c.unicode() < 128)
            s.push_back(char(c.unicode()));
        else
            s.push_back('?');  // anything else makes the text no number
    }
    return s;
}

bool IsSignOnly(const std::string &s)
{
    return s == "-" || s == "+";
}

}  // namespace

std::optional<long double> ParseNumberText(const QString &text, const TNumberSeparators &seps)
{
    std::string s = ToCNumber(NormaliseNumberText(text, seps), seps);
    if (s.empty() || IsSignOnly(s))
        return 0.0L;
    static const QRegularExpression numberPattern(
        QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    if (!numberPattern.match(QString::fromLatin1(s.data(), qsizetype(s.size()))).hasMatch())
        return std::nullopt;
    bool negative = false;
    size_t start = 0;
    if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        start = 1;
    }
    long double value = 0;
    auto [end, ec] = std::from_chars(s.data() + start, s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

bool IsNumberOrStart(const QString &text, const TNumberSeparators &seps)
{
    if (ParseNumberText(text, seps))
        return true;
    const std::string s = ToCNumber(NormaliseNumberText(text, seps), seps);
    return s == "." || s == "-." || s == "+.";
}

int CountDecimals(const QString &normalisedText, const TNumberSeparators &seps)
{
    const qsizetype sep = normalisedText.indexOf(seps.Decimal);
    if (sep < 0)
        return 0;
    qsizetype end = normalisedText.size();
    for (qsizetype i = sep + 1; i < normalisedText.size(); ++i) {
        if (normalisedText.at(i) == u'e' || normalisedText.at(i) == u'E') {
            end = i;
            break;
        }
    }
    return int(end - sep - 1);
}

bool IsAcceptableTyping(const QString &text, const TNumberSeparators &seps, int decimalPlaces,
                        bool nonNegative)
{
    // A space or a group separator makes no number, wherever it stands: the text being
    // edited is never grouped. A group separator meant as the decimal point ("1,5" where
    // "," groups) would otherwise be dropped and the value taken ten times too large.
    const auto grouping = [&seps](QChar c) {
        return c.isSpace() || (!seps.Group.isNull() && c == seps.Group);
    };
    if (std::any_of(text.cbegin(), text.cend(), grouping))
        return false;
    const QString normalised = NormaliseNumberText(text, seps);
    if (CountDecimals(normalised, seps) > std::max(decimalPlaces, 0))
        return false;
    if (!IsNumberOrStart(normalised, seps))
        return false;
    if (nonNegative) {
        if (normalised.startsWith(u'-'))
            return false;
        const auto value = ParseNumberText(normalised, seps);
        if (value && *value < 0)
            return false;
    }
    return true;
}

long double ClampValue(long double value, long double minValue, long double maxValue)
{
    if (maxValue > minValue) {
        if (value < minValue)
            return minValue;
        if (value > maxValue)
            return maxValue;
    } else if (maxValue < minValue) {
        if (maxValue == 0) {
            if (value < minValue)
                return minValue;
        } else if (minValue == 0) {
            if (value > maxValue)
                return maxValue;
        }
    }
    return value;
}

long double TextToValue(const QString &text, const TNumberSeparators &seps, long double minValue,
                        long double maxValue)
{
    const auto value = ParseNumberText(text, seps);
    if (!value)
        return minValue;
    return ClampValue(*value, minValue, maxValue);
}

long double RoundToDecimals(long double value, int decimals)
{
    decimals = std::clamp(decimals, 0, 18);
    const long double scale = std::pow(10.0L, decimals);
    const long double scaled = value * scale;
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 1e18L)
        return value;
    return std::round(scaled) / scale;
}

namespace {

// Fixed-point text of a value with "." as the separator and no grouping.
QString FixedText(long double value, int decimals)
{
    return QString::number(double(RoundToDecimals(value, decimals)), 'f', std::clamp(decimals, 0, 18));
}

// Drops trailing zeros after the point down to `keep` decimals, and a bare point.
QString TrimDecimals(QString s, int keep)
{
    const qsizetype point = s.indexOf(u'.');
    if (point < 0)
        return s;
    qsizetype minEnd = point + 1 + keep;
    while (s.size() > minEnd && s.endsWith(u'0'))
        s.chop(1);
    if (s.endsWith(u'.'))
        s.chop(1);
    return s;
}

QString LocaliseSeparators(const QString &s, const TNumberSeparators &seps, bool grouping)
{
    QString intPart = s;
    QString fracPart;
    const qsizetype point = s.indexOf(u'.');
    if (point >= 0) {
        intPart = s.left(point);
        fracPart = s.mid(point + 1);
    }
    QString sign;
    if (intPart.startsWith(u'-')) {
        sign = QStringLiteral("-");
        intPart.remove(0, 1);
    }
    if (grouping && !seps.Group.isNull()) {
        for (qsizetype i = intPart.size() - 3; i > 0; i -= 3)
            intPart.insert(i, seps.Group);
    }
    QString result = sign + intPart;
    if (point >= 0)
        result += seps.Decimal + fracPart;
    return result;
}

bool IsNegativeZeroText(const QString &s)
{
    for (QChar c : s)
        if (c != u'-' && c != u'0' && c != u'.')
            return false;
    return s.startsWith(u'-');
}

}  // namespace

QString FormatEditing(long double value, int decimals, const TNumberSeparators &seps)
{
    if (value == 0)
        return QString();
    QString s = TrimDecimals(FixedText(value, decimals), 0);
    if (IsNegativeZeroText(s))
        s.remove(0, 1);
    return LocaliseSeparators(s, seps, false);
}

QString FormatDisplay(long double value, const QString &displayFormat, const TNumberSeparators &seps)
{
    if (displayFormat.isEmpty()) {
        QString s = QString::number(double(value), 'g', 15);
        return LocaliseSeparators(s, seps, false);
    }
    const qsizetype point = displayFormat.indexOf(u'.');
    const QString intFormat = point < 0 ? displayFormat : displayFormat.left(point);
    const QString fracFormat = point < 0 ? QString() : displayFormat.mid(point + 1);
    const bool grouping = intFormat.contains(u',');
    const int required = int(fracFormat.count(u'0'));
    const int optional = int(fracFormat.count(u'#'));
    QString s = TrimDecimals(FixedText(value, required + optional), required);
    if (IsNegativeZeroText(s))
        s.remove(0, 1);
    return LocaliseSeparators(s, seps, grouping);
}
