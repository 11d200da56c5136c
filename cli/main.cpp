// karven-cli: the device from the command line. Backs up, restores and compares the
// configuration, and logs a mode's readings, over the program's own exchanges.

#include "Commands.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

const char *const Overview =
    "The \"Карвен-12Т\" from the command line.\n"
    "\n"
    "Commands:\n"
    "  ports            the serial ports, with what the system knows of each\n"
    "  read [-o FILE]   the configuration as a JSON file (or --table: the grid's rows)\n"
    "  write FILE       checks the file, writes all 53 registers and reads them back\n"
    "  diff FILE        the parameters whose values differ from the file\n"
    "  mode NAME        polls a mode, one CSV row per answer\n"
    "\n"
    "karven-cli COMMAND --help tells more of each. Exit status: 0 done (diff: equal),\n"
    "1 diff: they differ, 2 usage or file error, 3 the port cannot be opened,\n"
    "4 the device does not answer, or answers wrongly, after the retries.\n";

void Print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

int Fail(int status, const QString &message)
{
    Print(stderr, QStringLiteral("karven-cli: %1\n").arg(message));
    return status;
}

struct TCommand {
    const char *Name;
    const char *Arguments;
    const char *Description;
    bool Link;  // talks to the device
};

const TCommand Commands[] = {
    {"ports", "", "Lists the serial ports the window program lists, with driver and USB product.", false},
    {"read", "", "Reads registers 0..37 and 38..52 and writes the configuration as JSON.", true},
    {"write", "FILE", "Checks the whole FILE, writes all 53 registers in one request and reads them back.", true},
    {"diff", "FILE", "Lists the parameters whose values on the device differ from FILE (status 1 when any do).", true},
    {"mode", "NAME", "Polls one mode as its window does: one CSV row per values answer.", true},
};

int NumberOption(const QCommandLineParser &parser, const QString &name, long long min, bool &ok)
{
    const long long value = parser.value(name).toLongLong(&ok);
    ok = ok && value >= min && value <= 1'000'000'000;
    return int(value);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("karven-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KARVEN_VERSION));
    const QStringList arguments = QCoreApplication::arguments();

    const QString first = arguments.value(1);
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        Print(stdout, QStringLiteral("karven-cli " KARVEN_VERSION "\n"));
        return ExitOk;
    }
    if (first.isEmpty() || first == QLatin1String("--help") || first == QLatin1String("-h")) {
        Print(first.isEmpty() ? stderr : stdout,
              QStringLiteral("Usage: karven-cli COMMAND [options]\n") + QString::fromUtf8(Overview));
        return first.isEmpty() ? ExitUsage : ExitOk;
    }
    const TCommand *command = nullptr;
    for (const TCommand &c : Commands)
        if (first == QLatin1String(c.Name))
            command = &c;
    if (!command)
        return Fail(ExitUsage, QStringLiteral("unknown command \"%1\" (karven-cli --help lists them)").arg(first));

    const QString name = QLatin1String(command->Name);
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(command->Description));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("This help."));
    parser.addOption(help);
    if (command->Link) {
        parser.addOption({QStringLiteral("port"),
                          QStringLiteral("The serial port: relative to /dev (ttyUSB0) or a full path. Default: the only port found."),
                          QStringLiteral("NAME")});
        parser.addOption({QStringLiteral("timeout"), QStringLiteral("Time for each answer (default 1000)."),
                          QStringLiteral("MS"), QStringLiteral("1000")});
        parser.addOption({QStringLiteral("retries"), QStringLiteral("Times a request is sent again (default 2)."),
                          QStringLiteral("N"), QStringLiteral("2")});
        parser.addOption({QStringLiteral("trace"), QStringLiteral("Every frame sent and received, in hex with milliseconds, on stderr.")});
    }
    if (name == QLatin1String("ports") || name == QLatin1String("mode"))
        parser.addOption({QStringLiteral("json"), name == QLatin1String("ports") ? QStringLiteral("A JSON list.")
                                                                                 : QStringLiteral("JSON lines instead of CSV.")});
    if (name == QLatin1String("read")) {
        parser.addOption({{QStringLiteral("o"), QStringLiteral("output")}, QStringLiteral("Write to FILE instead of stdout."), QStringLiteral("FILE")});
        parser.addOption({QStringLiteral("table"), QStringLiteral("The grid's rows (group, parameter, value text) instead of JSON.")});
    }
    if (name == QLatin1String("write")) {
        parser.addOption({QStringLiteral("dry-run"), QStringLiteral("Print the request frame and send nothing.")});
        parser.addOption({QStringLiteral("allow-out-of-range"),
                          QStringLiteral("Take values the editing dialogs would not (a backup of such a device).")});
    }
    if (name == QLatin1String("mode")) {
        parser.addOption({QStringLiteral("start"), QStringLiteral("Switch the mode on first.")});
        parser.addOption({QStringLiteral("stop"), QStringLiteral("Switch the mode off at the end.")});
        parser.addOption({QStringLiteral("count"), QStringLiteral("End after N rows."), QStringLiteral("N")});
        parser.addOption({QStringLiteral("duration"), QStringLiteral("End after S seconds."), QStringLiteral("S")});
    }
    if (*command->Arguments)
        parser.addPositionalArgument(QLatin1String(command->Arguments),
                                     name == QLatin1String("mode") ? QStringLiteral("One of: ") + ModeNames().join(QStringLiteral(", "))
                                                                   : QStringLiteral("The configuration file (JSON, format 1)."));

    QStringList rest = arguments;
    rest.removeAt(1);
    if (!parser.parse(rest))
        return Fail(ExitUsage, parser.errorText());
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        text.replace(QStringLiteral("karven-cli [options]"), QStringLiteral("karven-cli %1 [options]").arg(name));
        Print(stdout, text);
        return ExitOk;
    }
    const QStringList positional = parser.positionalArguments();
    const int wanted = *command->Arguments ? 1 : 0;
    if (positional.size() != wanted)
        return Fail(ExitUsage, wanted ? QStringLiteral("%1 needs %2 (karven-cli %1 --help)").arg(name, QLatin1String(command->Arguments))
                                      : QStringLiteral("%1 takes no argument: %2").arg(name, positional.join(QLatin1Char(' '))));

    TLinkOptions link;
    if (command->Link) {
        bool ok = true;
        link.Port = parser.value(QStringLiteral("port"));
        link.TimeoutMs = NumberOption(parser, QStringLiteral("timeout"), 1, ok);
        if (!ok)
            return Fail(ExitUsage, QStringLiteral("--timeout takes milliseconds, a whole number above 0"));
        link.Retries = NumberOption(parser, QStringLiteral("retries"), 0, ok);
        if (!ok)
            return Fail(ExitUsage, QStringLiteral("--retries takes a whole number, 0 or more"));
        link.Trace = parser.isSet(QStringLiteral("trace"));
    }

    try {
        if (name == QLatin1String("ports"))
            return RunPorts(parser.isSet(QStringLiteral("json")));
        if (name == QLatin1String("read"))
            return RunRead(link, parser.value(QStringLiteral("o")), parser.isSet(QStringLiteral("table")));
        if (name == QLatin1String("write"))
            return RunWrite(link, positional.first(), parser.isSet(QStringLiteral("dry-run")),
                            parser.isSet(QStringLiteral("allow-out-of-range")));
        if (name == QLatin1String("diff"))
            return RunDiff(link, positional.first());
        TModeOptions mode;
        mode.Name = positional.first();
        mode.Start = parser.isSet(QStringLiteral("start"));
        mode.Stop = parser.isSet(QStringLiteral("stop"));
        mode.Json = parser.isSet(QStringLiteral("json"));
        if (parser.isSet(QStringLiteral("count"))) {
            bool ok = true;
            mode.Count = NumberOption(parser, QStringLiteral("count"), 1, ok);
            if (!ok)
                return Fail(ExitUsage, QStringLiteral("--count takes a whole number above 0"));
        }
        if (parser.isSet(QStringLiteral("duration"))) {
            bool ok = false;
            mode.Duration = parser.value(QStringLiteral("duration")).toDouble(&ok);
            if (!ok || !(mode.Duration > 0))
                return Fail(ExitUsage, QStringLiteral("--duration takes seconds, a number above 0"));
        }
        return RunMode(link, mode);
    } catch (const TCliFailure &failure) {
        return Fail(failure.Status, failure.Message);
    }
}
