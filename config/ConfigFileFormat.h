#pragma once
// The configuration file of both programs: JSON, UTF-8 (a leading byte-order mark is taken),
// format 1.
//
//   {"format": 1, "device": "Карвен-12Т",
//    "read_at": "2026-12-09T00:11:07Z", "port": "/dev/ttyUSB0",
//    "opened_from": "...", "changed_by_hand": true,
//    "parameters": [{"index": 2, "group": "...", "name": "...", "field": "Tpu1DetectorCount",
//                    "value": 1, "text": "4 детектора"}, ...],
//    "registers": [53 numbers]}
//
// Where the values came from:
//   "read_at", "port"   read from the device at that time (UTC) on that port;
//   "opened_from"       opened from that file (its "read_at" and "port", when it had them,
//                       are carried over);
//   "changed_by_hand"   true: changed by hand after that (or, with none of the keys above,
//                       the program's zeros changed by hand).
// A key is written only when it says something: a configuration read by the companion
// carries "read_at" and "port" alone. A file without any of them holds values that were
// neither read nor opened.
//
// On reading a file the parameters are what counts (a person edits those); the registers
// are the record of the device as read, and give the words of a real that the device held
// as no number (its value null). Values are codes, whole numbers or reals, never locale
// texts; a whole number may be written as a real (1000.0). A key given twice in one object
// refuses the file; a key the reader does not know is passed over, so that a file of a
// later version of either program stays readable.

#include "Globals.h"
#include "JsonReader.h"
#include "RegisterMap.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <array>

using TRegisterBytes = std::array<uint8_t, 2 * ConfigRegisterCount>;

// The largest file read: a configuration file is about 8 kB.
constexpr qint64 ConfigFileMaxBytes = 1 << 20;

// Where a configuration's values came from.
struct TConfigOrigin {
    QDateTime ReadAt;     // read from the device at this time; invalid: not read (or not known)
    QString Port;         // on this port
    QString OpenedFrom;   // opened from this file; empty: not opened from a file
    bool ChangedByHand = false;

    // Read from the device on port, now.
    static TConfigOrigin Device(const QString &port, const QDateTime &at = QDateTime::currentDateTimeUtc());
    bool operator==(const TConfigOrigin &) const = default;
};

// The file's text for a configuration and the register words it was read as (or packs
// to), with where its values came from.
QByteArray ConfigFileText(const TDeviceConfig &config, const TRegisterBytes &registers, const TConfigOrigin &origin);

// What the file is read for: a write needs register words for a null value, a comparison
// does not.
enum class TFileUse { Write, Compare };

// What a value of a parameter may be, as a refusal tells it.
struct TAllowedValues {
    enum class TKind {
        AnyCode,  // a whole number from 0 to 255
        Codes,    // one of the codes of the tree leaf TreeIndex (CodeCount, CodeText)
        Whole,    // a whole number from Min to Max
        AnyReal,  // a real number
        Real,     // a number from Min to Max with at most Decimals decimals
    };
    TKind Kind = TKind::AnyCode;
    int TreeIndex = 0;
    long double Min = 0, Max = 0;
    int Decimals = 0;
};

enum class TConfigProblemKind {
    Utf16,              // the text is UTF-16
    Nul,                // a NUL byte at Line, Column
    NotJson,            // not JSON at Line, Column (0: no place); Detail: the parser's words (English)
    Empty,              // the file holds nothing (or only blanks)
    NotUtf8,            // not JSON, and not UTF-8 either (a legacy code page such as Windows-1251)
    DecimalComma,       // not JSON at Line, Column: a number written with a decimal comma (12000,5)
    KeyTwice,           // Key given twice in one object: the top level, parameter Position of the list, or the object at Path
    TooDeep,            // nested deeper than JsonMaxDepth levels
    Unreadable,         // the JSON reading gave up without a reason
    NotFormat1,         // "format" is not 1 (Value; empty: missing), or the text is no object
    ParametersNotList,  // "parameters" is not a list
    UnknownParameter,   // entry Position of the list names no parameter ("field": Value; empty: missing)
    GivenTwice,         // Field is given twice in the list
    ValueMissing,       // Field has no "value"
    ValueNotAllowed,    // Field's Value is not of its kind at all; it may be Allowed
    OutOfRange,         // Field's Value is of its kind but outside what the editing dialog allows (Allowed);
                        // Detail: what a real becomes in single precision, when that is another value
    NullNotAllowed,     // Field's value is null (the device held no number); out of range like the above
    NullWithoutRegisters,  // Field's null takes its words from "registers", which are not 53 words
    NullButNumber,      // Field's null, but the file's registers hold the number Value
    Missing,            // Field is not in the list
};

struct TConfigProblem {
    TConfigProblemKind Kind = TConfigProblemKind::Unreadable;
    const ConfigField *Field = nullptr;
    QString Value;     // the value as the file writes it (JSON text)
    TAllowedValues Allowed;
    int Position = 0;
    int Line = 0, Column = 0;
    QString Detail;
    QString Key;
    QString Path;

    // Refused only for what --allow-out-of-range (the window program: "open anyway") takes.
    bool IsOutOfRange() const
    {
        return Kind == TConfigProblemKind::OutOfRange || Kind == TConfigProblemKind::NullNotAllowed;
    }
};

// What reading a file gave: the configuration, or every reason it was refused (each
// program words the reasons for its users).
struct TConfigFileCheck {
    TDeviceConfig Config{};
    // The fields whose value is null (a real the device held as no number). For a write
    // their words are in Registers, and Config holds the reals those words make.
    QList<const ConfigField *> Nulls;
    TRegisterBytes Registers{};
    TConfigOrigin Origin;  // as the file records it
    QList<TConfigProblem> Problems;

    bool Ok() const { return Problems.isEmpty(); }
    bool IsNull(const ConfigField &field) const { return Nulls.contains(&field); }
    // Refused, and only for values outside what the editing dialogs allow: taken when read
    // again with allowOutOfRange.
    bool OnlyOutOfRange() const;
};

// Checks the whole text: JSON, format 1, every parameter once and none unknown, values of
// the right type and, unless allowOutOfRange, within what the editing dialog allows (a null
// value is out of range).
TConfigFileCheck ReadConfigFile(const QByteArray &text, TFileUse use, bool allowOutOfRange);

// The parameters whose values in a file read for a comparison differ from config's, in
// register order. Values are compared as the device holds them (their register words); a
// null in the file equals any real in config that is no number.
QList<const ConfigField *> DifferingFields(const TConfigFileCheck &file, const TDeviceConfig &config);

// The value of a field as the file holds it (a JSON number; null for a real that is no number).
QString FieldValueText(const ConfigField &field, const TDeviceConfig &config);
// What the value means, as the grid shows it (with a point): "0.25" for code 4 of a voltage.
QString FieldMeaningText(const ConfigField &field, const TDeviceConfig &config);

// The group and the name of a parameter as the tree shows them.
QString ParameterGroupText(int index);
QString ParameterNameText(int index);
