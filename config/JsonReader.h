#pragma once
// The one reading of a JSON text in both programs: strict JSON (RFC 8259) in UTF-8, a
// leading byte-order mark taken, a key given twice in one object refused (the parser of the
// file sees every key; Qt's keeps one of the two silently), a NUL byte anywhere refused
// (a parser that takes it for the end of the text would ignore what follows), and a text
// in UTF-16 told as such. Numbers keep the text the file writes them in, so that a refusal
// quotes them as the person wrote them and a whole number is judged by its digits, not by
// the nearest double.

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <vector>

struct TJsonMember;

struct TJsonValue {
    enum class TType { Null, Bool, Number, String, Array, Object };

    TType Type = TType::Null;
    bool Bool = false;
    double Number = 0;  // the nearest double (an infinity when the text is beyond one)
    QString Text;       // a string's text; a number's as the file writes it ("-0.0", "1e-400")
    std::vector<TJsonValue> Items;                        // an array's
    std::vector<TJsonMember> Members;  // an object's, in the file's order

    bool IsNull() const { return Type == TType::Null; }
    bool IsBool() const { return Type == TType::Bool; }
    bool IsNumber() const { return Type == TType::Number; }
    bool IsString() const { return Type == TType::String; }
    bool IsArray() const { return Type == TType::Array; }
    bool IsObject() const { return Type == TType::Object; }
    // An object's member, or nullptr (also for what is no object).
    const TJsonValue *Member(const char *key) const;
    // The value as compact JSON, numbers as the file writes them.
    QString JsonText() const;
};

struct TJsonMember {
    QString Name;
    TJsonValue Value;
};

// Whether the number text (JSON's grammar) stands for a whole number: no digit that is not
// zero after the point, once the exponent has moved it. "1000.0", "1e3", "1.5e1" are whole;
// "999999.00000000001" and "1e-400" are not.
bool IsWholeNumberText(QStringView text);

// Where a key was given twice.
enum class TJsonPlace {
    TopLevel,   // the text's top-level object
    Parameter,  // an object of the top-level list "parameters" (Position: its place, from 1)
    Object,     // another object (Path: "/key/2/key", list places from 0)
};

enum class TJsonError {
    None,
    Utf16,       // the text is UTF-16 (a byte-order mark, or every other byte zero)
    Nul,         // a NUL byte at Line, Column
    Syntax,      // not JSON at Line, Column; Detail: the parser's explanation (English)
    KeyTwice,    // Key given twice in one object (Place, Position, Path)
    TooDeep,     // nested deeper than JsonMaxDepth
    Unreadable,  // the parser gave up without saying where
};

constexpr int JsonMaxDepth = 64;

struct TJsonRead {
    TJsonValue Root;
    TJsonError Error = TJsonError::None;
    int Line = 0, Column = 0;  // both from 1, in characters; 0: the parser named no place
    QString Detail;
    QString Key;
    TJsonPlace Place = TJsonPlace::TopLevel;
    int Position = 0;
    QString Path;

    bool Ok() const { return Error == TJsonError::None; }
};

TJsonRead ReadJson(const QByteArray &text);

// A string as a JSON string literal, escaped as Qt's JSON writer escapes it.
QString JsonString(const QString &text);
