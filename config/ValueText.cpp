#include "ValueText.h"

#include "Globals.h"
#include "RegisterMap.h"

#include <QLocale>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace {

const char *const DataErrorText = "Ошибка данных";

struct CodeList {
    std::initializer_list<int> Indices;
    std::initializer_list<const char *> Texts;
};

const CodeList CodeLists[] = {
    {{2, 9}, {"2 детектора", "4 детектора"}},
    {{3, 10}, {"НО", "НЗ"}},
    {{4, 11}, {"раздельная", "совместная"}},
    {{5, 12}, {"1-направленная", "2-направленная"}},
    {{6, 13}, {"за 1 проход", "за 2 прохода"}},
    {{23, 29, 35, 38}, {"0.01", "0.025", "0.05", "0.1", "0.25", "0.5", "1", "2.5", "5"}},
    {{24}, {"0", "0.1", "0.5", "1", "2", "5"}},
    {{31}, {"0.2", "1", "5"}},
    {{42, 45}, {"4-20 мА", "0-20 мА"}},
    {{43, 46}, {"10 мкА/1%", "100 мкА/2%", "1000 мкА/5%", "4000 мкА/10%"}},
    {{44, 47}, {"в мкА", "в %"}},
    {{49}, {"1-й номинал", "2-й номинал", "3-й номинал", "4-й номинал", "5-й номинал"}},
};

const CodeList *CodeListOf(int index)
{
    for (const CodeList &list : CodeLists)
        for (int i : list.Indices)
            if (i == index)
                return &list;
    return nullptr;
}

constexpr int SignificantDigits = 10;

}  // namespace

uint32_t WordSwappedCount(const uint8_t *bytes)
{
    return uint32_t(bytes[2]) << 24 | uint32_t(bytes[3]) << 16 | uint32_t(bytes[0]) << 8
         | uint32_t(bytes[1]);
}

float WordSwappedFloat(const uint8_t *bytes)
{
    return std::bit_cast<float>(WordSwappedCount(bytes));
}

QString ShortestRealText(float value)
{
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::isfinite(value) && ec == std::errc() ? QString::fromLatin1(buffer, int(end - buffer)) : QString();
}

QString FormatReal(double value)
{
    return FormatReal(value, QLocale().decimalPoint());
}

QString FormatReal(double value, const QString &point)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");

    // The value rounded to 10 significant digits, as a decimal digit string and exponent:
    // value = d.ddddddddd × 10^exponent.
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*e", SignificantDigits - 1, std::fabs(value));
    char digits[SignificantDigits + 1];
    int n = 0;
    const char *p = buf;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digits[n++] = *p;
    digits[n] = 0;
    const int exponent = (*p == 'e') ? std::atoi(p + 1) : 0;
    const bool negative = std::signbit(value);

    if (exponent >= SignificantDigits) {
        // More than 10 integer digits: d[,ddd]E+XX, trailing zeros of the mantissa dropped.
        int last = n - 1;
        while (last > 0 && digits[last] == '0')
            --last;
        QString text = negative ? QStringLiteral("-") : QString();
        text += QChar(digits[0]);
        if (last > 0) {
            text += point;
            text += QString::fromLatin1(digits + 1, last);
        }
        text += QString::asprintf("E+%02d", exponent);
        return text;
    }

    // Fixed notation: the 10-digit decimal value rounded half away from zero to hundredths.
    // digits × 10^(exponent - 9) = hundredths × 10^-2.
    const long long mantissa = std::atoll(digits);
    const int shift = exponent - (SignificantDigits - 1) + 2;
    long long hundredths;
    if (shift >= 0) {
        hundredths = mantissa;
        for (int i = 0; i < shift; ++i)
            hundredths *= 10;
    } else if (-shift > SignificantDigits + 1) {
        hundredths = 0;  // far below 0.005
    } else {
        long long divisor = 1;
        for (int i = 0; i < -shift; ++i)
            divisor *= 10;
        hundredths = (mantissa + divisor / 2) / divisor;
    }
    QString text;
    if (negative && hundredths != 0)
        text += QLatin1Char('-');
    text += QString::number(hundredths / 100);
    text += point;
    text += QStringLiteral("%1").arg(hundredths % 100, 2, 10, QLatin1Char('0'));
    return text;
}

QString FormatCount(uint32_t value)
{
    return QString::number(value);
}

int CodeCount(int index)
{
    const CodeList *list = CodeListOf(index);
    return list ? int(list->Texts.size()) : 0;
}

QString CodeText(int index, int code)
{
    const CodeList *list = CodeListOf(index);
    if (!list || code < 0 || code >= int(list->Texts.size()))
        return {};
    return QString::fromUtf8(list->Texts.begin()[code]);
}

QString NodeValueText(int index)
{
    return NodeValueTextOf(DeviceConfig, index);
}

QString NodeValueTextOf(const TDeviceConfig &config, int index)
{
    return NodeValueTextOf(config, index, QLocale().decimalPoint());
}

QString NodeValueTextOf(const TDeviceConfig &config, int index, const QString &point)
{
    const ConfigField *field = FieldOfNode(index);
    if (!field)
        return {};
    if (const CodeList *list = CodeListOf(index)) {
        const uint8_t code = config.*std::get<uint8_t TDeviceConfig::*>(field->Member);
        if (code < list->Texts.size())
            return QString::fromUtf8(list->Texts.begin()[code]);
        return QString::fromUtf8(DataErrorText);
    }
    return std::visit(
        [&config, &point](auto member) -> QString {
            const auto v = config.*member;
            using T = std::remove_cvref_t<decltype(v)>;
            if constexpr (std::is_same_v<T, float>)
                return FormatReal(v, point);
            else
                return FormatCount(v);
        },
        field->Member);
}
