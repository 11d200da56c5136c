#pragma once
// The configuration file of karven-cli: JSON, UTF-8, format 1.
//
//   {"format": 1, "device": "Карвен-12Т", "read_at": "...", "port": "...",
//    "parameters": [{"index": 2, "group": "...", "name": "...", "field": "Tpu1DetectorCount",
//                    "value": 1, "text": "4 детектора"}, ...],
//    "registers": [53 numbers]}
//
// On reading a file the parameters are what counts (a person edits those); the registers
// are kept for the record. Values are codes, whole numbers or reals, never locale texts.

#include "Globals.h"
#include "RegisterMap.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>

using TRegisterBytes = std::array<uint8_t, 2 * ConfigRegisterCount>;

// The file's text for a configuration read from the device at `port`.
QByteArray ConfigFileText(const TDeviceConfig &config, const TRegisterBytes &registers, const QString &port);

// What reading a file gave: the configuration, or every reason it was refused.
struct TConfigFileCheck {
    TDeviceConfig Config{};
    QStringList Errors;
    bool Ok() const { return Errors.isEmpty(); }
};

// Checks the whole text: JSON, format 1, every parameter once and none unknown, values of
// the right type and, unless allowOutOfRange, within what the editing dialog allows.
TConfigFileCheck ReadConfigFile(const QByteArray &text, bool allowOutOfRange);

// The value of a field as the file holds it (a JSON number; null for a real that is no number).
QString FieldValueText(const ConfigField &field, const TDeviceConfig &config);

// The group and the name of a parameter as the tree shows them.
QString ParameterGroupText(int index);
QString ParameterNameText(int index);
