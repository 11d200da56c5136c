#pragma once
// Where the companion's results go, every write, flush and close checked: standard output,
// and the file that -o names.

#include "Commands.h"

#include <QByteArray>
#include <QString>

// Standard output failed: the message names the cause; Gone when the reader has gone
// (a closed pipe), which ends a mode's log like the end of a count.
class TOutputFailure : public TCliFailure {
public:
    TOutputFailure(const QString &message, bool gone) : TCliFailure(ExitUsage, message), Gone(gone) {}
    bool Gone;
};

// Writes bytes to standard output and flushes them (TOutputFailure when that fails).
void WriteOutput(const QByteArray &bytes);
void WriteOutput(const QString &text);
// At the end of a run: standard output flushed and closed (TOutputFailure when that fails).
// Once a write has failed, that failure stands and nothing more is tried.
void CloseOutput();

// Writes bytes to the file at path as a whole: a regular file (or one to be made) gets the
// bytes under a temporary name beside it, flushed to the disk, then renamed over it; a link
// is followed to its target; an existing file keeps its permissions, a new one gets those
// the umask leaves. Anything else (a FIFO, a device such as /dev/stdout) is written
// straight into, never replaced. TCliFailure (ExitUsage) when that fails.
void WriteFileWhole(const QString &path, const QByteArray &bytes);
