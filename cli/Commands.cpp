#include "Commands.h"

#include "CPort.h"
#include "Causes.h"
#include "ConfigFileFormat.h"
#include "ConfigProblems.h"
#include "ExchangeResults.h"
#include "Console.h"
#include "ExchangeCycle.h"
#include "ModeMap.h"
#include "ModeRecordRows.h"
#include "Output.h"
#include "PortInfo.h"
#include "RegisterMap.h"
#include "Transaction.h"
#include "ValueText.h"
#include "modbus.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>

namespace {

void PrintError(const QString &text)
{
    const QByteArray bytes = QStringLiteral("karven-cli: %1\n").arg(text).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QByteArray Frame(const std::array<uint8_t, 8> &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
}

QByteArray Frame(const TRequestFields &fields)
{
    return Frame(BuildShortRequest(fields.Function, fields.First, fields.Second));
}

// A port's name as messages show it: one that holds a control character (a newline) in
// double quotes with that character escaped, so that the message stays on its lines and
// shows what the name holds.
QString Shown(const QString &name)
{
    const bool plain = std::none_of(name.begin(), name.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
    if (plain)
        return name;
    QString shown = QStringLiteral("\"");
    for (const QChar c : name) {
        switch (c.unicode()) {
        case '\n': shown += QStringLiteral("\\n"); break;
        case '\r': shown += QStringLiteral("\\r"); break;
        case '\t': shown += QStringLiteral("\\t"); break;
        case '"': shown += QStringLiteral("\\\""); break;
        case '\\': shown += QStringLiteral("\\\\"); break;
        default:
            if (c.category() == QChar::Other_Control)
                shown += QStringLiteral("\\x%1").arg(uint(c.unicode()), 2, 16, QLatin1Char('0'));
            else
                shown += c;
        }
    }
    return shown + QLatin1Char('"');
}

// The ports of the list, as the window program lists them. Qt warns on standard error when
// it falls back to its own runtime directory; that is no news to the user of a listing.
QStringList SerialPorts()
{
    QStringList ports;
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const QString userRoot = DefaultUserPortDirectory();
    qInstallMessageHandler(previous);
    try {
        ListSerialPorts(ports, QStringLiteral("/sys"), QStringLiteral("/dev"), userRoot);
    } catch (const std::exception &e) {
        throw TCliFailure(ExitPort, QStringLiteral("cannot list the serial ports: %1").arg(QString::fromStdString(e.what())));
    }
    return ports;
}

// The port of the run: the one named, else the only one the port list finds, named on
// standard error.
QString ChoosePort(const QString &named)
{
    if (!named.isEmpty())
        return named;
    const QStringList ports = SerialPorts();
    if (ports.isEmpty())
        throw TCliFailure(ExitPort, QStringLiteral("no serial port found; name one with --port"));
    if (ports.size() > 1) {
        QStringList shown;
        for (const QString &port : ports)
            shown << Shown(port);
        throw TCliFailure(ExitUsage, QStringLiteral("several serial ports found, choose one with --port: %1")
                                         .arg(shown.join(QStringLiteral(", "))));
    }
    PrintError(QStringLiteral("port %1 (the only one found)").arg(Shown(ports.first())));
    return ports.first();
}

// The port, open for the whole run, and the exchanges over it. While it is open, a request
// to end the run (Ctrl+C, SIGTERM, SIGHUP) ends the exchange in progress at once.
class TDeviceLink {
public:
    explicit TDeviceLink(const TLinkOptions &options)
        : timeoutMs_(options.TimeoutMs), transaction_(port_, TransactionOptions(options))
    {
        name_ = ChoosePort(options.Port);
        shown_ = Shown(name_);
        port_.SetPort(name_);
        try {
            transaction_.Open();
        } catch (const std::exception &e) {
            throw TCliFailure(ExitPort, QStringLiteral("cannot open port %1: %2")
                                            .arg(shown_, PortFailureCause(e, PortDevicePath(name_), TPortStage::Opening)));
        }
        QObject::connect(&watch_, &TInterruptWatch::requested, &watch_, [this] {
            if (!finishing_)
                transaction_.Interrupt();
        });
    }

    QString PortName() const { return name_; }
    QString ShownPortName() const { return shown_; }
    const TInterruptWatch &Watch() const { return watch_; }
    // The run is over and what follows (stopping the mode) goes on, whatever asked for the
    // end: a request that comes now, or came but is still on its way, ends nothing more (a
    // second one ends the process).
    void Finish()
    {
        finishing_ = true;
        transaction_.Resume();
    }
    // Whether the request last asked left the port, also one that failed.
    bool Sent() const { return transaction_.LastAttempts() > 0; }

    // The answer to frame; what is asked names the request in the message of a failure,
    // which says whether the request was sent (Sent() tells it too).
    QByteArray Ask(const QByteArray &frame, const QString &what)
    {
        TExchangeResult result;
        try {
            result = transaction_.Exchange(frame);
        } catch (const std::exception &e) {
            throw TCliFailure(ExitDevice, QStringLiteral("%1 on port %2: %3")
                                              .arg(what, shown_, PortFailureCause(e, PortDevicePath(name_), TPortStage::InUse)));
        }
        if (result.Outcome == TExchangeOutcome::Interrupted)
            throw TInterruptedRun(watch_.ExitStatus(),
                                  QStringLiteral("%1 on port %2: %3").arg(what, shown_, ExchangeResultText(result, timeoutMs_, watch_.What())));
        if (result.Ok())
            return result.Answer;
        QString text = QStringLiteral("%1 on port %2: %3").arg(what, shown_, ExchangeResultText(result, timeoutMs_));
        if (result.Outcome == TExchangeOutcome::NoAnswer || result.Outcome == TExchangeOutcome::BadCrc
            || result.Outcome == TExchangeOutcome::WrongAnswer) {
            // A program that shares the port without a lock takes answers meant for us.
            const QStringList sharers = PortSharers(PortDevicePath(name_));
            if (!sharers.isEmpty())
                text += QStringLiteral("; the port is open in %1 as well, which may take the answers")
                            .arg(sharers.join(QStringLiteral(", ")));
        }
        throw TCliFailure(ExitDevice, text);
    }

private:
    static TTransactionOptions TransactionOptions(const TLinkOptions &options)
    {
        TTransactionOptions t;
        t.TimeoutMs = options.TimeoutMs;
        t.Retries = options.Retries;
        if (options.Trace)
            t.Trace = [](const TTraceFrame &frame) {
                const QByteArray bytes = (TraceFrameText(frame) + QLatin1Char('\n')).toUtf8();
                std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
            };
        return t;
    }

    TInterruptWatch watch_;
    bool finishing_ = false;
    TComPort port_;
    QString name_;
    QString shown_;
    int timeoutMs_;
    TTransaction transaction_;
};

struct TDeviceConfigRead {
    TDeviceConfig Config{};
    TRegisterBytes Registers{};
};

struct TBlock {
    int Block, First, Count;
};
const TBlock ConfigBlocks[] = {{1, ConfigBlock1First, ConfigBlock1Count}, {2, ConfigBlock2First, ConfigBlock2Count}};

QByteArray BlockRequest(const TBlock &block)
{
    return Frame(BuildShortRequest(3, uint16_t(block.First), uint16_t(block.Count)));
}

TDeviceConfigRead ReadConfiguration(TDeviceLink &link)
{
    TDeviceConfigRead read;
    for (const TBlock &block : ConfigBlocks) {
        const QByteArray answer = link.Ask(BlockRequest(block),
                                           QStringLiteral("reading registers %1..%2").arg(block.First).arg(block.First + block.Count - 1));
        const auto *bytes = reinterpret_cast<const uint8_t *>(answer.constData());
        UnpackConfigBlockInto(read.Config, bytes, block.Block);
        std::copy(bytes + 3, bytes + 3 + 2 * block.Count, read.Registers.begin() + 2 * block.First);
    }
    return read;
}

}  // namespace

QByteArray ReadFileText(const QString &file)
{
    QFile in(file);
    if (file == QLatin1String("-") ? !in.open(stdin, QIODevice::ReadOnly) : !in.open(QIODevice::ReadOnly))
        throw TCliFailure(ExitUsage, QStringLiteral("%1: cannot read: %2").arg(file, in.errorString()));
    // Whatever the file is (a FIFO, /dev/zero), no more than the limit is read.
    const QByteArray text = in.read(ConfigFileMaxBytes + 1);
    if (in.error() != QFileDevice::NoError)
        throw TCliFailure(ExitUsage, QStringLiteral("%1: cannot read: %2").arg(file, in.errorString()));
    if (text.size() > ConfigFileMaxBytes)
        throw TCliFailure(ExitUsage, QStringLiteral("%1: refused: larger than %2 bytes, which no configuration file is")
                                         .arg(file)
                                         .arg(ConfigFileMaxBytes));
    return text;
}

namespace {

TConfigFileCheck CheckedFile(const QString &file, TFileUse use, bool allowOutOfRange)
{
    const TConfigFileCheck check = ReadConfigFile(ReadFileText(file), use, allowOutOfRange);
    if (!check.Ok()) {
        QStringList lines;
        for (const TConfigProblem &problem : check.Problems)
            lines << QStringLiteral("%1: %2").arg(file, ConfigProblemText(problem));
        lines << QStringLiteral("%1: refused, nothing was sent").arg(file);
        throw TCliFailure(ExitUsage, lines.join(QLatin1Char('\n')));
    }
    return check;
}

}  // namespace

QStringList ModeNames()
{
    QStringList names;
    for (const TModeMap &map : ModeMaps())
        names << QLatin1String(map.Name);
    return names;
}

QString ModeValueKeysText()
{
    // Modes that share their rows (TPR by TPU1 and TPU2) are listed together.
    QString text;
    const auto maps = ModeMaps();
    for (size_t i = 0; i < maps.size(); ++i) {
        if (maps[i].Rows.empty() || (i > 0 && maps[i - 1].Rows.data() == maps[i].Rows.data()))
            continue;
        QStringList names;
        for (size_t j = i; j < maps.size() && maps[j].Rows.data() == maps[i].Rows.data(); ++j)
            names << QLatin1String(maps[j].Name);
        text += QStringLiteral(" %1:\n").arg(names.join(QStringLiteral(", ")));
        for (const TValueRow &row : maps[i].Rows)
            text += QStringLiteral("  %1%2\n").arg(QLatin1String(row.Key), -18).arg(QString::fromUtf8(row.Caption));
    }
    return text;
}

int LeastTimeoutMs(const QString &command, const QString &modeName, int *answerLineMs)
{
    QList<QByteArray> requests;
    if (command == QLatin1String("mode")) {
        const TModeMap *map = FindModeMap(modeName);
        if (!map)
            return 0;
        requests << Frame(StatusRequestFields(map->StatusCoilCount));
        if (map->HasValues())
            requests << Frame(ValuesRequestFields(map->ValuesFirst, map->ValuesCount));
        if (map->Coil >= 0)
            requests << Frame(CommandRequestFields(uint16_t(map->Coil), CommandOn));
    } else {
        for (const TBlock &block : ConfigBlocks)
            requests << BlockRequest(block);
    }
    int least = 0, line = 0;
    for (const QByteArray &request : requests) {
        least = std::max(least, LeastAnswerTimeoutMs(request));
        line = std::max(line, AnswerLineTimeMs(request));
    }
    if (answerLineMs)
        *answerLineMs = line;
    return least;
}

int RunPorts(bool json)
{
    const QList<TPortDescription> ports = DescribePorts(SerialPorts());
    if (!json) {
        QString text;
        for (const TPortDescription &d : ports)
            text += QStringLiteral("%1\t%2\n").arg(d.Name, PortListingText(d));
        WriteOutput(text);
        return ExitOk;
    }
    QJsonArray list;
    for (const TPortDescription &d : ports) {
        static const char *const kinds[] = {"unknown", "usb", "uart", "virtual"};
        list.append(QJsonObject{{QStringLiteral("name"), d.Name},
                                {QStringLiteral("path"), d.Path},
                                {QStringLiteral("kind"), QLatin1String(kinds[int(d.Kind)])},
                                {QStringLiteral("driver"), d.Driver},
                                {QStringLiteral("maker"), d.Maker},
                                {QStringLiteral("product"), d.Product},
                                {QStringLiteral("serial"), d.Serial},
                                {QStringLiteral("by_id"), d.ById},
                                {QStringLiteral("pty"), d.Pty},
                                {QStringLiteral("text"), PortListingText(d)}});
    }
    WriteOutput(QJsonDocument(list).toJson(QJsonDocument::Indented));
    return ExitOk;
}

int RunRead(const TLinkOptions &options, const QString &output, bool table)
{
    TDeviceLink link(options);
    const TDeviceConfigRead read = ReadConfiguration(link);

    QByteArray text;
    if (table) {
        // The grid's rows in the user's locale.
        QString rows;
        for (const ConfigField &field : ConfigFields())
            rows += QStringLiteral("%1\t%2\t%3\n")
                        .arg(ParameterGroupText(field.TreeIndex), ParameterNameText(field.TreeIndex),
                             NodeValueTextOf(read.Config, field.TreeIndex));
        text = rows.toUtf8();
    } else {
        text = ConfigFileText(read.Config, read.Registers, TConfigOrigin::Device(link.PortName()));
    }
    if (output.isEmpty())
        WriteOutput(text);
    else
        WriteOutputFile(output, text);
    return ExitOk;
}

int RunWrite(const TLinkOptions &options, const QString &file, bool dryRun, bool allowOutOfRange)
{
    const TConfigFileCheck check = CheckedFile(file, TFileUse::Write, allowOutOfRange);
    TRegisterBytes registers = PackConfigRegistersOf(check.Config);
    // A real held as no number goes back with the very words it was read as.
    for (const ConfigField *field : check.Nulls)
        std::copy_n(check.Registers.begin() + 2 * field->FirstRegister, 4, registers.begin() + 2 * field->FirstRegister);
    const std::array<uint8_t, 115> frame = BuildConfigWriteRequest(registers);
    if (dryRun) {
        WriteOutput(HexBytes(frame.data(), int(frame.size())) + QLatin1Char('\n'));
        return ExitOk;
    }
    TDeviceLink link(options);
    try {
        link.Ask(QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size())),
                 QStringLiteral("writing registers 0..52"));
    } catch (const TCliFailure &failure) {
        throw TCliFailure(failure.Status, failure.Message + (link.Sent() ? QStringLiteral("\nthe device did not confirm the write: "
                                                                                            "it may hold the old values or the new ones")
                                                                          : QStringLiteral("\nthe write was not sent: the device holds "
                                                                                            "the values it held before")));
    }
    TDeviceConfigRead back;
    try {
        back = ReadConfiguration(link);
    } catch (const TCliFailure &failure) {
        throw TCliFailure(failure.Status, failure.Message + QStringLiteral("\nthe device confirmed the write; "
                                                                           "reading the values back failed, so they are written, not verified"));
    }
    QStringList differing;
    for (int r = 0; r < ConfigRegisterCount; ++r) {
        const int sent = registers[2 * r] << 8 | registers[2 * r + 1];
        const int held = back.Registers[2 * r] << 8 | back.Registers[2 * r + 1];
        if (sent != held)
            differing << QStringLiteral("register %1: sent %2, reads back %3").arg(r).arg(sent).arg(held);
    }
    if (!differing.isEmpty())
        throw TCliFailure(ExitDevice, QStringLiteral("the device on port %1 holds other values than were written:\n  ")
                                              .arg(link.ShownPortName())
                                          + differing.join(QStringLiteral("\n  ")));
    return ExitOk;
}

int RunDiff(const TLinkOptions &options, const QString &file)
{
    // A backup may hold what the dialogs would not take: compare it as it is.
    const TConfigFileCheck wanted = CheckedFile(file, TFileUse::Compare, true);
    TDeviceLink link(options);
    const TDeviceConfigRead read = ReadConfiguration(link);
    QString lines;
    const QList<const ConfigField *> differing = DifferingFields(wanted, read.Config);
    for (const ConfigField *differs : differing) {
        const ConfigField &field = *differs;
        auto shown = [&](const TDeviceConfig &config, bool null) {
            if (null)
                return QStringLiteral("null");
            const QString value = FieldValueText(field, config);
            const QString meaning = FieldMeaningText(field, config);
            bool number = false;
            const double meant = meaning.toDouble(&number);
            if (meaning.isEmpty() || (number && meant == value.toDouble()))
                return value;
            return QStringLiteral("%1 (%2)").arg(value, meaning);
        };
        lines += QStringLiteral("%1\t%2 / %3\tfile %4\tdevice %5\n")
                     .arg(QLatin1String(field.Name), ParameterGroupText(field.TreeIndex), ParameterNameText(field.TreeIndex),
                          shown(wanted.Config, wanted.IsNull(field)), shown(read.Config, false));
    }
    WriteOutput(lines);
    return differing.isEmpty() ? ExitOk : ExitDiffers;
}

namespace {

using TModeCommand = std::function<void(uint8_t)>;

// Starts the mode; a start that may have reached the device says so.
void StartMode(TDeviceLink &link, const TModeCommand &command, const QString &name)
{
    try {
        command(CommandOn);
    } catch (const TInterruptedRun &) {
        throw;
    } catch (const TCliFailure &start) {
        if (!link.Sent())
            throw;
        throw TCliFailure(start.Status, start.Message + QStringLiteral("\nthe device did not confirm the start: mode %1 may be running")
                                                            .arg(name));
    }
}

// Reads the mode's state and values and writes a row of them, until the count or the time
// is reached or the run is asked to end.
void PollMode(TDeviceLink &link, const TModeMap &map, const TModeOptions &mode)
{
    TModeRecordRows record(map);
    if (!mode.Json)
        WriteOutput(record.CsvHeader());
    QElapsedTimer clock;
    clock.start();
    long long rows = 0;
    const QByteArray statusFrame = Frame(StatusRequestFields(map.StatusCoilCount));
    const QByteArray valuesFrame = Frame(ValuesRequestFields(map.ValuesFirst, map.ValuesCount));
    while (!link.Watch().Requested()) {
        record.TakeStatus(link.Ask(statusFrame, QStringLiteral("reading the mode's state")));
        if (map.HasValues())
            record.TakeValues(link.Ask(valuesFrame, QStringLiteral("reading the mode's values")));
        const QDateTime time = QDateTime::currentDateTimeUtc();
        WriteOutput(mode.Json ? record.JsonLine(time) : record.CsvRow(time));
        ++rows;
        if (mode.Count > 0 && rows >= mode.Count)
            break;
        if (mode.Duration > 0 && clock.elapsed() >= qint64(mode.Duration * 1000))
            break;
    }
}

// Stops the mode; what the stop did is added to the run's failure, or is the failure.
void StopMode(TDeviceLink &link, const TModeCommand &command, const QString &name, std::optional<TCliFailure> &failure)
{
    link.Finish();
    try {
        command(CommandOff);
        if (failure)
            failure->Message += QStringLiteral("\nmode %1 was stopped").arg(name);
    } catch (const TCliFailure &stop) {
        const QString stopText = stop.Message + QStringLiteral("; mode %1 may still be running").arg(name);
        if (failure)
            failure->Message += QStringLiteral("\n") + stopText;
        else
            failure = TCliFailure(stop.Status, stopText);
    }
}

}  // namespace

int RunMode(const TLinkOptions &options, const TModeOptions &mode)
{
    const TModeMap *map = FindModeMap(mode.Name);
    if (!map)
        throw TCliFailure(ExitUsage, QStringLiteral("unknown mode \"%1\"; the modes are: %2")
                                         .arg(mode.Name, ModeNames().join(QStringLiteral(", "))));
    if ((mode.Start || mode.Stop) && map->Coil < 0)
        throw TCliFailure(ExitUsage, QStringLiteral("mode %1 is only watched: it cannot be started or stopped").arg(mode.Name));

    TDeviceLink link(options);
    const TModeCommand command = [&](uint8_t value) {
        link.Ask(Frame(CommandRequestFields(uint16_t(map->Coil), value)),
                 QStringLiteral("%1 mode %2").arg(value == CommandOn ? QStringLiteral("starting") : QStringLiteral("stopping"), mode.Name));
    };

    // Once the port is open every ending switches the mode off when asked to: the end of the
    // count or the time, a request to end, a reader that has gone, and a failure of the
    // device, the port or the output (a start that got no answer may have started it).
    std::optional<TCliFailure> failure;
    try {
        if (mode.Start)
            StartMode(link, command, mode.Name);
        PollMode(link, *map, mode);
    } catch (const TInterruptedRun &) {
        // asked to end: as the end of the count
    } catch (const TOutputFailure &output) {
        if (!output.Gone)
            failure = output;
    } catch (const TCliFailure &error) {
        failure = error;
    }
    if (mode.Stop)
        StopMode(link, command, mode.Name, failure);
    if (failure)
        throw *failure;
    return ExitOk;
}
