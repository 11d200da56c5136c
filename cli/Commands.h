#pragma once
// The commands of karven-cli. Each returns the exit status; a failure that ends a command
// is raised as TCliFailure with its status and message.

#include "Failure.h"

#include <QString>
#include <QStringList>

struct TLinkOptions {
    QString Port;  // as the port list names it: relative to /dev, or a full path; empty: the only port found
    int TimeoutMs = 1000;
    int Retries = 2;
    bool Trace = false;
};

struct TModeOptions {
    QString Name;
    bool Start = false;
    bool Stop = false;
    long long Count = 0;   // rows; 0: no limit
    double Duration = 0;   // seconds; 0: no limit
    bool Json = false;
};

// What `passes` is given: the record, the prover's build (from a configuration file or
// from options) and the user's settings.
struct TPassesOptions {
    QString Record;
    QString Config;     // a configuration file to take the channel's build from; empty: none
    int Channel = 0;    // 1 or 2; 0: from the record's file name
    int Detectors = 0;  // 2 or 4; 0: not given
    int Directions = 0;  // 1 or 2; 0: not given
    int SumPasses = 0;   // 1 or 2; 0: not given
    QStringList Volumes;  // "1-2=100.5", ...
    QString Limit, LimitOf, Exclude, Update, Unit, From, To;
};

int RunPorts(bool json);
int RunRead(const TLinkOptions &link, const QString &output, bool table);
int RunWrite(const TLinkOptions &link, const QString &file, bool dryRun, bool allowOutOfRange);
int RunDiff(const TLinkOptions &link, const QString &file);
int RunMode(const TLinkOptions &link, const TModeOptions &mode);
int RunPasses(const TPassesOptions &options);

// The whole text of a file (- for standard input), at most a configuration file's size;
// TCliFailure (ExitUsage) when it cannot be read or is larger.
QByteArray ReadFileText(const QString &file);

// The names `mode` takes, in the order of the device's coils.
QStringList ModeNames();
// The keys of a mode's values in --json lines with the grid's captions, one "key  caption"
// line per value, for the help.
QString ModeValueKeysText();
// The least --timeout of a command (the mode's name for `mode`) that can work: the quiet
// that ends a request, the turnaround margin and the line time of the longest answer it
// awaits, which goes to answerLineMs. 0 for a name that is no mode.
int LeastTimeoutMs(const QString &command, const QString &modeName, int *answerLineMs = nullptr);
