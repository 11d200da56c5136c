#pragma once
// The one reading of a JSON text in the companion: strict JSON (RFC 8259) in UTF-8, a
// leading byte-order mark taken, and a key given twice in one object refused (the parser
// of the file sees every key; Qt's keeps one of the two silently).

#include <QByteArray>
#include <QJsonValue>
#include <QString>

struct TJsonRead {
    QJsonValue Root;
    QString Error;  // empty: read; else why not, with line and column where the text has them
    bool Syntax = false;  // the error is one of JSON itself (not a repeated key)
    bool Ok() const { return Error.isEmpty(); }
};

TJsonRead ReadJson(const QByteArray &text);
