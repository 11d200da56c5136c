#pragma once
// Where the companion's results go, every write, flush and close checked: standard output,
// and the file that -o names. A write that waits for its reader (a full pipe nobody reads,
// a FIFO nobody opens) never holds up a request to end the run.

#include "Failure.h"

#include <QByteArray>
#include <QString>

#include <functional>

// Standard output failed: the message names the cause; Gone when the reader has gone
// (a closed pipe), which ends a mode's log like the end of a count.
class TOutputFailure : public TCliFailure {
public:
    TOutputFailure(const QString &message, bool gone) : TCliFailure(ExitUsage, message), Gone(gone) {}
    bool Gone;
};

// Writes bytes to standard output where it stands (TOutputFailure when that fails;
// TInterruptedRun when a request to end the run came while the write waited). Nothing to
// write is no write: it cannot fail.
void WriteOutput(const QByteArray &bytes);
void WriteOutput(const QString &text);
// At the end of a run: standard output flushed and closed (TOutputFailure when that fails).
// Once a write has failed or was cut short, that stands and nothing more is tried.
void CloseOutput();

// Writes bytes to what -o names: a standard stream the process has open ("-",
// /dev/stdout, /dev/fd/1) where it stands, with the checks of standard output; anything
// else through the core's WriteFileWhole (a regular file replaced whole, anything else
// written into). TCliFailure (ExitUsage) when that fails, TInterruptedRun when a request to
// end the run came while the write waited for a reader.
void WriteOutputFile(const QString &path, const QByteArray &bytes);

// Runs call, which may wait for as long as the other end wants, on a thread of its own
// while a watch for requests to end the run lives (TInterruptWatch::Live()): true when it
// finished, false when such a request came first (or had come already), leaving the call
// to finish or wait on its own. The call owns what it uses. Without a watch it simply runs.
bool RunUnlessInterrupted(std::function<void()> call);
