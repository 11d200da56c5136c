#pragma once
// The configuration file of karven-cli: JSON, UTF-8 (a leading byte-order mark is taken),
// format 1.
//
//   {"format": 1, "device": "Карвен-12Т", "read_at": "...", "port": "...",
//    "parameters": [{"index": 2, "group": "...", "name": "...", "field": "Tpu1DetectorCount",
//                    "value": 1, "text": "4 детектора"}, ...],
//    "registers": [53 numbers]}
//
// On reading a file the parameters are what counts (a person edits those); the registers
// are the record of the device as read, and give the words of a real that the device held
// as no number (its value null). Values are codes, whole numbers or reals, never locale
// texts; a whole number may be written as a real (1000.0). A key given twice in one object
// refuses the file.

#include "Globals.h"
#include "RegisterMap.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

using TRegisterBytes = std::array<uint8_t, 2 * ConfigRegisterCount>;

// The largest file read: a configuration file is about 8 kB.
constexpr qint64 ConfigFileMaxBytes = 1 << 20;

// The file's text for a configuration read from the device at `port`.
QByteArray ConfigFileText(const TDeviceConfig &config, const TRegisterBytes &registers, const QString &port);

// What the file is read for: a write needs register words for a null value, a comparison
// does not.
enum class TFileUse { Write, Compare };

// What reading a file gave: the configuration, or every reason it was refused.
struct TConfigFileCheck {
    TDeviceConfig Config{};
    // The fields whose value is null (a real the device held as no number). For a write
    // their words are in Registers, and Config holds the reals those words make.
    QList<const ConfigField *> Nulls;
    TRegisterBytes Registers{};
    QStringList Errors;
    bool Ok() const { return Errors.isEmpty(); }
    bool IsNull(const ConfigField &field) const { return Nulls.contains(&field); }
};

// Checks the whole text: JSON, format 1, every parameter once and none unknown, values of
// the right type and, unless allowOutOfRange, within what the editing dialog allows (a null
// value is out of range).
TConfigFileCheck ReadConfigFile(const QByteArray &text, TFileUse use, bool allowOutOfRange);

// The value of a field as the file holds it (a JSON number; null for a real that is no number).
QString FieldValueText(const ConfigField &field, const TDeviceConfig &config);
// What the value means, as the grid shows it (with a point): "0.25" for code 4 of a voltage.
QString FieldMeaningText(const ConfigField &field, const TDeviceConfig &config);

// The group and the name of a parameter as the tree shows them.
QString ParameterGroupText(int index);
QString ParameterNameText(int index);
