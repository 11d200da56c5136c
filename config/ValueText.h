#pragma once
// Number formats and value texts shared by the main window and the mode windows.

#include <QString>
#include <cstdint>

struct TDeviceConfig;

// Word-swapped values: four bytes b0 b1 b2 b3 as received form the pattern b2 b3 b0 b1.
uint32_t WordSwappedCount(const uint8_t *bytes);
float WordSwappedFloat(const uint8_t *bytes);

// A real in fixed notation with two decimals (10 significant digits, exponent notation
// above 10 integer digits), the locale's decimal separator, no group separators;
// "NAN", "INF", "-INF" for values that are not finite.
QString FormatReal(double value);
// The same with the given decimal separator (".": for programs, whatever the locale).
QString FormatReal(double value, const QString &point);
// The shortest decimal text that reads back as the same single-precision real, with a
// point ("12000", "0.1"); empty for a real that is no number.
QString ShortestRealText(float value);
// An unsigned count in decimal, no separators.
QString FormatCount(uint32_t value);

// The value text of tree node `index` from DeviceConfig, without the leading blank;
// "Ошибка данных" for a code outside its list; empty for an index with no value.
QString NodeValueText(int index);
// The same text from another record than the program's.
QString NodeValueTextOf(const TDeviceConfig &config, int index);
// The same with the given decimal separator for reals ("." for files and programs, whatever
// the locale).
QString NodeValueTextOf(const TDeviceConfig &config, int index, const QString &point);

// The code list of tree leaf `index`: how many codes it has (0: the leaf holds no code) and
// the text of one.
int CodeCount(int index);
QString CodeText(int index, int code);
