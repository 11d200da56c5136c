#pragma once
// Number rules of the numeric field: which text a key may produce, how text becomes a
// value, how a value is held within its bounds and how it is shown. No widgets here.

#include <QChar>
#include <QString>
#include <optional>

class QLocale;

// The two separators of a locale, as the field uses them.
struct TNumberSeparators {
    QChar Decimal = u'.';
    QChar Group = u',';
    static TNumberSeparators FromLocale(const QLocale &locale);
    static TNumberSeparators Current();  // the default locale
};

// A typed "." or "," stands for the decimal separator, unless it is the group separator
// (which the field then refuses).
QChar MapTypedSeparator(QChar key, const TNumberSeparators &seps);

// Drops spaces and group separators and turns "." and "," (where not the group
// separator) into the decimal separator.
QString NormaliseNumberText(const QString &text, const TNumberSeparators &seps);

// The value of a text: empty text and a lone sign count as 0; nullopt when the text is no number.
std::optional<long double> ParseNumberText(const QString &text, const TNumberSeparators &seps);

// True when the text is a number or the start of one ("-", ",", "-,").
bool IsNumberOrStart(const QString &text, const TNumberSeparators &seps);

// Count of digits after the decimal separator, up to an exponent letter.
int CountDecimals(const QString &normalisedText, const TNumberSeparators &seps);

// Whether the field takes a text produced by a typed key or a paste: never one with a
// space or the group separator.
bool IsAcceptableTyping(const QString &text, const TNumberSeparators &seps, int decimalPlaces,
                        bool nonNegative);

// The field refuses a minus sign when its range holds no negative value.
inline bool RangeIsNonNegative(long double minValue, long double maxValue)
{
    return minValue >= 0 && maxValue > 0;
}

// The field's clamp rule for every ordering of the bounds.
long double ClampValue(long double value, long double minValue, long double maxValue);

// The text converted and clamped; unconvertible text reads as minValue.
long double TextToValue(const QString &text, const TNumberSeparators &seps, long double minValue,
                        long double maxValue);

// Rounds half away from zero to `decimals` places.
long double RoundToDecimals(long double value, int decimals);

// Text while the field is being edited: at most `decimals` decimals, no grouping, no
// trailing zeros; 0 gives an empty text.
QString FormatEditing(long double value, int decimals, const TNumberSeparators &seps);

// Text of an unfocused field through a display format: "," before the point asks for
// grouping, each "0" after the point is a decimal always shown, each "#" one shown when
// not zero ("0" a whole number, ",0.##" grouping with at most two decimals).
QString FormatDisplay(long double value, const QString &displayFormat, const TNumberSeparators &seps);
