#pragma once
// The system's file calls beneath the rules that FileAccess.cpp keeps for every system (the
// size limit of a read, a record's whole rows, the cause of an error); FileAccess_<system>.cpp
// holds them. A handle is a descriptor (Linux) or a HANDLE (Windows), -1 for none.

#include "FileAccess.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

// Opens the file at path for reading; -1 with the failure when it cannot be opened.
intptr_t OpenToRead(const QString &path, TFileFailure &failure);
// Reads up to size bytes into buffer; got is 0 at the end of the data.
TFileFailure ReadSome(intptr_t handle, char *buffer, qint64 size, qint64 &got);
void CloseFile(intptr_t handle);
// Writes the row after the record's offset bytes of whole rows and puts it on the disk.
TFileFailure WriteRowAt(intptr_t handle, qint64 offset, const QByteArray &row);
// Cuts a disk file back to size bytes (what a failed write left is taken back).
void CutBackTo(intptr_t handle, qint64 size);
// The failure of a call on a record that is not open.
TFileFailure NotOpenFailure();

// The system's own words for an error code.
QString SystemErrorText(int systemError);
// System error codes of one cause. Any code of no listed cause is TFileCause::Other, 0 none.
struct TFileErrorCauses {
    QList<int> Errors;
    TFileCause Cause;
};
const QList<TFileErrorCauses> &SystemFileErrorCauses();
