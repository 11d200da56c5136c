// karven-cli: the device from the command line. Backs up, restores and compares the
// configuration, and logs a mode's readings, over the program's own exchanges; finds the
// passes of a recorded prover run and the series' results.

#include "Commands.h"
#include "Console.h"
#include "Output.h"
#include "Transaction.h"

#include <QCoreApplication>
#include <QHash>

#include <cmath>
#include <cstdio>

namespace {

enum CommandBits : unsigned {
    Ports = 1,
    Read = 2,
    Write = 4,
    Diff = 8,
    Mode = 16,
    Passes = 32,
    Link = Read | Write | Diff | Mode,  // they talk to the device
    All = Ports | Link | Passes,
};

struct TCommand {
    const char *Name;
    unsigned Bit;
    const char *Argument;  // the one positional argument, or empty
    const char *Summary;   // for the list of commands
    const char *Description;
};

const TCommand Commands[] = {
    {"ports", Ports, "", "the serial ports, with what the system knows of each",
     "Lists the serial ports the window program lists, with driver and USB product."},
    {"read", Read, "", "the configuration as a JSON file (or --table: the grid's rows)",
     "Reads registers 0..37 and 38..52 and writes the configuration as JSON."},
    {"write", Write, "FILE", "checks FILE, writes all 53 registers and reads them back",
     "Checks the whole FILE (- for standard input), writes all 53 registers in one request and reads them back."},
    {"diff", Diff, "FILE", "the parameters whose values on the device differ from FILE",
     "Lists the parameters whose values on the device differ from FILE, with what the values mean (status 1 when any do)."},
    {"mode", Mode, "NAME", "polls a mode: one CSV row (or JSON line) per answer",
     "Polls one mode with its window's requests, the next sent as soon as the line is quiet (the window waits two "
     "200 ms ticks between requests): one CSV row per values answer (per status answer for a mode without values)."},
    {"passes", Passes, "RECORD", "the passes of a recorded TPR-by-TPU run, K and the series' results",
     "Reads RECORD (- for standard input), the CSV of a TPR-by-TPU run as mode tpr-tpu1 and the window program write "
     "it, finds the passes of the prover's ball (a pass counts only when its closing detector is seen; one cut by the "
     "end of the record, a pause, a reset of the sums or the mode switched off is listed as cut) and prints as CSV, "
     "with a point as the decimal sign, a table of measurements (number, series, section, start and end in seconds "
     "from the first row, the line that closed it, N, T, f = N/T, V, Q = V/T in m3/h, the mean of the device's flow, "
     "K = N/V, its deviation from the mean in %, status, why cut), an empty line, and per series (1-2, and 3-4 with 4 "
     "detectors) n, the mean K, the relative standard deviation and the range in % and the verdict against --limit. "
     "No temperature or pressure correction is applied. Without --config or build options: 2 detectors, "
     "1-directional, over 1 pass. Status 1 when the limit does not hold for a series."},
};

struct TOption {
    const char *Long;
    char Short;
    const char *Value;  // the value's name, or nullptr for a switch
    unsigned Commands;
    const char *Description;
    bool Repeatable = false;  // may be given more than once
};

const TOption Options[] = {
    {"help", 'h', nullptr, All, "This help."},
    {"json", 0, nullptr, Ports, "A JSON list."},
    {"port", 0, "NAME", Link, PortOptionHelp},
    {"timeout", 0, "MS", Link,
     "Time for each answer from the request's last byte, in milliseconds: default 1000, at most 60000, at least the "
     "4 ms of quiet that end a request, a turnaround margin of 20 ms and the line time of the command's longest answer "
     "(117 for the configuration)."},
    {"retries", 0, "N", Link, "Times a request is sent again after a time-out or a bad answer: default 2, at most 10."},
    {"trace", 0, nullptr, Link, "Every frame sent and received, in hex with milliseconds, on standard error."},
    {"output", 'o', "FILE", Read,
     "Write to FILE instead of standard output. A regular file (a link: its target) is replaced as a whole once every "
     "byte is on the disk, keeping its mode and owner; on a failure it stays as it was. A FIFO or a device is written "
     "into; - and /dev/stdout are standard output where it stands."},
    {"table", 0, nullptr, Read, "The grid's rows (group, parameter, value text) instead of JSON."},
    {"dry-run", 0, nullptr, Write, "Check FILE and print the request frame in hex; send nothing."},
    {"allow-out-of-range", 0, nullptr, Write,
     "Take values the editing dialogs would not, and a null real with the words of the file's registers (a backup of "
     "such a device)."},
    {"start", 0, nullptr, Mode, "Start the mode first."},
    {"stop", 0, nullptr, Mode, StopOptionHelp},
    {"count", 0, "N", Mode, "End after N rows (1 to 1000000000)."},
    {"duration", 0, "S", Mode, "End after S seconds (above 0, at most 31536000: a year)."},
    {"json", 0, nullptr, Mode,
     "JSON lines instead of CSV: {\"time\", \"mode\", \"values\": {KEY: number or null, ...}} with the keys in the "
     "grid's order and the values at the registers' full precision."},
    {"volume", 0, "SECTION=V", Passes,
     "The calibrated volume of a section from the prover's certificate, in --unit: 1-2 (needed), 3-4 (with 4 "
     "detectors), 2-1 and 4-3 (a 2-directional prover over 1 pass, when a direction has its own; else as 1-2 and "
     "3-4). Over 2 passes a measurement covers 2 x V(1-2) (1-directional) or the round trip, given as 1-2 "
     "(2-directional).",
     true},
    {"unit", 0, "l|m3", Passes, "The unit of the volumes and of K (pulses per litre or per m3): default l."},
    {"limit", 0, "P", Passes, "The repeatability limit in %, compared unrounded with <= to the range (or --limit-of sko); without it, no verdict."},
    {"limit-of", 0, "range|sko", Passes, "The figure the limit applies to: default range."},
    {"exclude", 0, "N,...", Passes, "Leave these measurements (by number) out of the series."},
    {"from", 0, "S", Passes, "Only measurements that start at or after S seconds from the first row."},
    {"to", 0, "S", Passes, "Only measurements that end at or before S seconds from the first row."},
    {"config", 0, "FILE", Passes,
     "Take the prover's build (\"Число детекторов\", \"Тип ТПУ\", \"Способ расчета суммы\") of the record's channel from "
     "a configuration file as read and write take it; a code outside its list refuses it."},
    {"channel", 0, "1|2", Passes,
     "The record's channel, for --config: default the one its file name names (\"ТПР по ТПУ1 ...\" as the window "
     "program names it, or tpr-tpu1...)."},
    {"detectors", 0, "2|4", Passes, "The prover's detectors, without --config: default 2."},
    {"directions", 0, "1|2", Passes, "A 1- or 2-directional prover, without --config: default 1."},
    {"sum-method", 0, "1|2", Passes, "A measurement over 1 pass or 2 passes, without --config: default 1."},
    {"update", 0, "auto|detector|travel", Passes,
     "When the device sets a pass's values: at the closing detector, or moving while the ball travels; auto (the "
     "default) decides from the record and says so on standard error."},
};

// How each run ends, as the help lists it. The manual page is made from the help, and the
// companion's manual's and the user guide's tables are checked against it (tests/doc_tables.sh).
const struct {
    const char *Status;
    const char *Meaning;
} ExitStatuses[] = {
    {"0", "Done (diff: the device holds what the file says; passes: the limit holds, or none was given). Also a mode run that a signal or a closed pipe "
          "ended, the mode stopped when --stop asks for it."},
    {"1", "diff: some parameters differ. passes: the repeatability limit does not hold for a series."},
    {"2", "A bad command line, or several ports found without --port; a file that cannot be read or is refused "
          "(nothing was sent; passes: a record refused names its line); output that cannot be written (standard output "
          "or -o)."},
    {"3", "The port cannot be opened: no such port, no permission (the dialout group), busy, or no serial port at "
          "all (a regular file, a directory); no port found without --port."},
    {"4", "The device does not answer, or answers wrongly, after the retries; the port failed in the middle of a "
          "run; a write whose read-back differs or fails (the message says whether the device confirmed the write)."},
    {"128+N", "Signal N ended read, write or diff (130: Ctrl+C)."},
};

constexpr int OptionColumn = 26;
constexpr int StatusColumn = 9;
constexpr int LineWidth = 79;

void PrintTo(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

int Fail(int status, const QString &message)
{
    PrintTo(stderr, QStringLiteral("karven-cli: %1\n").arg(message));
    return status;
}

QString OptionName(const TOption &option)
{
    QString name = option.Short ? QStringLiteral("-%1, --%2").arg(QLatin1Char(option.Short)).arg(QLatin1String(option.Long))
                                : QStringLiteral("--%1").arg(QLatin1String(option.Long));
    if (option.Value)
        name += QLatin1Char(' ') + QLatin1String(option.Value);
    return name;
}

// text broken into lines of at most LineWidth, each after `indent` spaces but the first,
// which goes on from `column`.
QString Wrapped(const QString &text, int indent, int column)
{
    QString out;
    bool lineStart = true;
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!lineStart && column + 1 + word.size() > LineWidth) {
            out += QLatin1Char('\n') + QString(indent, QLatin1Char(' '));
            column = indent;
            lineStart = true;
        }
        if (!lineStart) {
            out += QLatin1Char(' ');
            ++column;
        }
        out += word;
        column += int(word.size());
        lineStart = false;
    }
    return out + QLatin1Char('\n');
}

QString Paragraph(const QString &text)
{
    return Wrapped(text, 0, 0);
}

// "  NAME      text" with the text wrapped under its column.
QString Item(const QString &name, const QString &text, int column = OptionColumn)
{
    QString out = QStringLiteral("  ") + name;
    if (out.size() + 2 > column)
        out += QLatin1Char('\n') + QString(column, QLatin1Char(' '));
    else
        out += QString(column - out.size(), QLatin1Char(' '));
    return out + Wrapped(text, column, column);
}

QString OptionsText(unsigned exactly)
{
    QString text;
    for (const TOption &option : Options)
        if (option.Commands == exactly && QLatin1String(option.Long) != QLatin1String("help"))
            text += Item(OptionName(option), QString::fromUtf8(option.Description));
    return text;
}

QString OverviewHelp()
{
    QString text = QStringLiteral("Usage: karven-cli COMMAND [options]\n")
                 + Paragraph(QStringLiteral("karven-cli works with the \"Карвен-12Т\" from the command line: it backs up, "
                                            "restores and compares the configuration and logs a mode's readings, over the "
                                            "window program's own exchanges, and finds the passes of a recorded prover run."))
                 + QStringLiteral("\nCommands:\n");
    for (const TCommand &c : Commands)
        text += Item(QStringLiteral("%1 %2").arg(QLatin1String(c.Name), QLatin1String(c.Argument)).trimmed(),
                     QString::fromUtf8(c.Summary));
    text += QStringLiteral("\n")
          + Paragraph(QStringLiteral("karven-cli COMMAND --help tells the options of one command."))
          + QStringLiteral("\nOptions:\n");
    text += Item(QStringLiteral("-h, --help"), QStringLiteral("This help; after a command, that command's options."));
    text += Item(QStringLiteral("-v, --version"), QStringLiteral("The version."));
    text += QStringLiteral("\nOptions of read, write, diff and mode:\n") + OptionsText(Link);
    for (const TCommand &c : Commands)
        if (!OptionsText(c.Bit).isEmpty())
            text += QStringLiteral("\nOptions of %1:\n").arg(QLatin1String(c.Name)) + OptionsText(c.Bit);
    text += QStringLiteral("\n") + Paragraph(QStringLiteral("Modes: %1.").arg(ModeNames().join(QStringLiteral(", "))));
    // help2man makes the two headings below sections of the manual page.
    text += QStringLiteral("\nExit status:\n");
    for (const auto &status : ExitStatuses)
        text += Item(QLatin1String(status.Status), QString::fromUtf8(status.Meaning), StatusColumn);
    if (*RuntimeDirHelp)
        text += QStringLiteral("\nEnvironment:\n") + Item(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromUtf8(RuntimeDirHelp));
    return text;
}

QString CommandHelp(const TCommand &command)
{
    QString text = QStringLiteral("Usage: karven-cli %1 [options]%2\n")
                       .arg(QLatin1String(command.Name),
                            *command.Argument ? QStringLiteral(" ") + QLatin1String(command.Argument) : QString())
                 + Paragraph(QString::fromUtf8(command.Description)) + QStringLiteral("\nOptions:\n");
    for (const TOption &option : Options)
        if (option.Commands & command.Bit)
            text += Item(OptionName(option), QString::fromUtf8(option.Description));
    if (command.Bit == Mode) {
        text += QStringLiteral("\nArguments:\n") + Item(QStringLiteral("NAME"), QStringLiteral("One of: ") + ModeNames().join(QStringLiteral(", ")) + QLatin1Char('.'));
        text += QStringLiteral("\nKeys of the values in --json lines, with the grid's captions:\n") + ModeValueKeysText();
    }
    return text;
}

// The command line of one command: its options by long name, and its positional arguments.
struct TParsed {
    QHash<QString, QString> Values;  // a switch maps to an empty value; a repeatable option to its last
    QHash<QString, QStringList> Lists;  // every value of a repeatable option
    QStringList Positional;
    bool Has(const char *name) const { return Values.contains(QLatin1String(name)); }
    QString Value(const char *name) const { return Values.value(QLatin1String(name)); }
};

TParsed Parse(const TCommand &command, const QStringList &arguments)
{
    const QString name = QLatin1String(command.Name);
    auto usage = [&](const QString &text) {
        return TCliFailure(ExitUsage, QStringLiteral("%1: %2 (karven-cli %1 --help lists the options)").arg(name, text));
    };
    TParsed parsed;
    bool optionsEnd = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString argument = arguments[i];
        if (optionsEnd || argument == QLatin1String("-") || !argument.startsWith(QLatin1Char('-'))) {
            parsed.Positional << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnd = true;
            continue;
        }
        // --name, --name=value, -x, -xvalue
        QString key, value;
        bool inlineValue = false;
        const TOption *option = nullptr;
        if (argument.startsWith(QLatin1String("--"))) {
            const qsizetype equals = argument.indexOf(QLatin1Char('='));
            key = argument.mid(2, equals < 0 ? -1 : equals - 2);
            inlineValue = equals >= 0;
            value = inlineValue ? argument.mid(equals + 1) : QString();
            for (const TOption &o : Options)
                if ((o.Commands & command.Bit) && key == QLatin1String(o.Long))
                    option = &o;
        } else {
            key = argument.mid(1, 1);
            for (const TOption &o : Options)
                if ((o.Commands & command.Bit) && o.Short && key == QLatin1Char(o.Short))
                    option = &o;
            inlineValue = argument.size() > 2;
            value = argument.mid(2);
        }
        if (!option)
            throw usage(QStringLiteral("unknown option %1").arg(argument.section(QLatin1Char('='), 0, 0)));
        const QString shown = QStringLiteral("--") + QLatin1String(option->Long);
        if (parsed.Values.contains(QLatin1String(option->Long)) && !option->Repeatable)
            throw usage(QStringLiteral("%1 is given twice").arg(shown));
        if (!option->Value && inlineValue)
            throw usage(QStringLiteral("%1 takes no value").arg(shown));
        if (option->Value && !inlineValue) {
            if (i + 1 >= arguments.size())
                throw usage(QStringLiteral("%1 needs a value (%2)").arg(shown, QLatin1String(option->Value)));
            value = arguments[++i];
        }
        parsed.Values.insert(QLatin1String(option->Long), value);
        parsed.Lists[QLatin1String(option->Long)] << value;
    }
    const int wanted = *command.Argument ? 1 : 0;
    if (parsed.Positional.size() > wanted)
        throw TCliFailure(ExitUsage, wanted ? QStringLiteral("%1 takes one %2; \"%3\" is one too many")
                                                  .arg(name, QLatin1String(command.Argument), parsed.Positional[1])
                                            : QStringLiteral("%1 takes no argument; \"%2\" is one too many")
                                                  .arg(name, parsed.Positional[0]));
    return parsed;
}

// A whole number of the option within [least, most], or a usage failure that says so.
long long WholeOption(const TParsed &parsed, const char *name, long long least, long long most, const QString &what)
{
    bool ok = false;
    const long long value = parsed.Value(name).toLongLong(&ok);
    if (!ok || value < least || value > most)
        throw TCliFailure(ExitUsage, QStringLiteral("--%1 takes %2, a whole number from %3 to %4, not \"%5\"")
                                         .arg(QLatin1String(name), what)
                                         .arg(least)
                                         .arg(most)
                                         .arg(parsed.Value(name)));
    return value;
}

int Run(const QStringList &arguments)
{
    const QString first = arguments.value(1);
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        WriteOutput(QStringLiteral("karven-cli " KARVEN_VERSION "\n"));
        return ExitOk;
    }
    if (first.isEmpty()) {
        PrintTo(stderr, OverviewHelp());
        return ExitUsage;
    }
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        WriteOutput(OverviewHelp());
        return ExitOk;
    }
    const TCommand *command = nullptr;
    for (const TCommand &c : Commands)
        if (first == QLatin1String(c.Name))
            command = &c;
    if (!command)
        throw TCliFailure(ExitUsage, first.startsWith(QLatin1Char('-'))
                                         ? QStringLiteral("unknown option %1 before the command (karven-cli --help lists the commands)").arg(first)
                                         : QStringLiteral("unknown command \"%1\" (karven-cli --help lists them)").arg(first));

    const TParsed parsed = Parse(*command, arguments.mid(2));
    if (parsed.Has("help")) {
        WriteOutput(CommandHelp(*command));
        return ExitOk;
    }
    const QString name = QLatin1String(command->Name);
    if (*command->Argument && parsed.Positional.isEmpty())
        throw TCliFailure(ExitUsage, QStringLiteral("%1 needs %2 (karven-cli %1 --help)").arg(name, QLatin1String(command->Argument)));
    const QString argument = parsed.Positional.value(0);

    TLinkOptions link;
    if (command->Bit & Link) {
        link.Port = parsed.Value("port");
        if (parsed.Has("port") && link.Port.isEmpty())
            throw TCliFailure(ExitUsage, QStringLiteral("--port names no port"));
        if (parsed.Has("output") && parsed.Value("output").isEmpty())
            throw TCliFailure(ExitUsage, QStringLiteral("--output names no file"));
        if (command->Bit == Write && link.Port.isEmpty() && !parsed.Has("dry-run"))
            throw TCliFailure(ExitUsage, QStringLiteral("write needs --port NAME: it changes the device, so the port is never guessed"));
        if (parsed.Has("timeout")) {
            // A shorter wait gives up on an answer still coming, and the retry meets it on the line.
            int lineMs = 0;
            const int least = std::max(1, LeastTimeoutMs(name, argument, &lineMs));
            link.TimeoutMs = int(WholeOption(parsed, "timeout", 1, 60000, QStringLiteral("milliseconds")));
            if (link.TimeoutMs < least)
                throw TCliFailure(ExitUsage, QStringLiteral("--timeout %1 is too short: after the %2 ms of quiet that end a request "
                                                            "and a turnaround margin of %3 ms, the longest answer of %4 takes %5 ms "
                                                            "on the line, so the least time-out is %6")
                                                 .arg(link.TimeoutMs)
                                                 .arg(QString::number(DefaultSilenceMs, 'f', 0))
                                                 .arg(TurnaroundMarginMs)
                                                 .arg(command->Bit == Mode ? QStringLiteral("mode ") + argument : name)
                                                 .arg(lineMs)
                                                 .arg(least));
        }
        if (parsed.Has("retries"))
            link.Retries = int(WholeOption(parsed, "retries", 0, 10, QStringLiteral("the times a request is sent again")));
        link.Trace = parsed.Has("trace");
    }

    switch (command->Bit) {
    case Ports:
        return RunPorts(parsed.Has("json"));
    case Read:
        return RunRead(link, parsed.Value("output"), parsed.Has("table"));
    case Write:
        return RunWrite(link, argument, parsed.Has("dry-run"), parsed.Has("allow-out-of-range"));
    case Diff:
        return RunDiff(link, argument);
    case Passes: {
        TPassesOptions passes;
        passes.Record = argument;
        passes.Config = parsed.Value("config");
        if (parsed.Has("config") && passes.Config.isEmpty())
            throw TCliFailure(ExitUsage, QStringLiteral("--config names no file"));
        if (parsed.Has("channel"))
            passes.Channel = int(WholeOption(parsed, "channel", 1, 2, QStringLiteral("the channel")));
        if (parsed.Has("detectors")) {
            const QString detectors = parsed.Value("detectors");
            if (detectors != QLatin1String("2") && detectors != QLatin1String("4"))
                throw TCliFailure(ExitUsage, QStringLiteral("--detectors takes 2 or 4, not \"%1\"").arg(detectors));
            passes.Detectors = detectors.toInt();
        }
        if (parsed.Has("directions"))
            passes.Directions = int(WholeOption(parsed, "directions", 1, 2, QStringLiteral("the directions")));
        if (parsed.Has("sum-method"))
            passes.SumPasses = int(WholeOption(parsed, "sum-method", 1, 2, QStringLiteral("the passes of a measurement")));
        passes.Volumes = parsed.Lists.value(QStringLiteral("volume"));
        passes.Limit = parsed.Value("limit");
        passes.LimitOf = parsed.Value("limit-of");
        passes.Exclude = parsed.Value("exclude");
        passes.Update = parsed.Value("update");
        passes.Unit = parsed.Value("unit");
        passes.From = parsed.Value("from");
        passes.To = parsed.Value("to");
        return RunPasses(passes);
    }
    default:
        break;
    }
    TModeOptions mode;
    mode.Name = argument;
    mode.Start = parsed.Has("start");
    mode.Stop = parsed.Has("stop");
    mode.Json = parsed.Has("json");
    if (parsed.Has("count"))
        mode.Count = WholeOption(parsed, "count", 1, 1'000'000'000, QStringLiteral("rows"));
    if (parsed.Has("duration")) {
        bool ok = false;
        mode.Duration = parsed.Value("duration").toDouble(&ok);
        if (!ok || !std::isfinite(mode.Duration) || mode.Duration <= 0 || mode.Duration > 31'536'000)
            throw TCliFailure(ExitUsage, QStringLiteral("--duration takes seconds, a number above 0 and at most 31536000, not \"%1\"")
                                             .arg(parsed.Value("duration")));
    }
    return RunMode(link, mode);
}

}  // namespace

int main(int argc, char **argv)
{
    PrepareConsole();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("karven-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KARVEN_VERSION));

    int status = ExitOk;
    try {
        status = Run(QCoreApplication::arguments());
    } catch (const TCliFailure &failure) {
        status = Fail(failure.Status, failure.Message);
    }
    try {
        CloseOutput();
    } catch (const TCliFailure &failure) {
        if (status == ExitOk)
            status = Fail(failure.Status, failure.Message);
    }
    return status;
}
