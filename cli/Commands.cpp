#include "Commands.h"

#include "CPort.h"
#include "ConfigFile.h"
#include "ExchangeCycle.h"
#include "ModeMap.h"
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
#include <QLocale>
#include <QTemporaryFile>
#include <QTextStream>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <memory>

namespace {

volatile std::sig_atomic_t Interrupted = 0;

extern "C" void OnInterrupt(int)
{
    Interrupted = 1;
}

void Print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QByteArray Frame(const std::array<uint8_t, 8> &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
}

QByteArray Frame(const TRequestFields &fields)
{
    return Frame(BuildShortRequest(fields.Function, fields.First, fields.Second));
}

// Why the port could not be opened, as a person can act on it.
QString OpenFailureText(const QString &port, const std::exception &e)
{
    const int err = PortFailureErrno(e);
    const QString head = QStringLiteral("cannot open port %1: ").arg(port);
    switch (ClassifyOpenFailure(err)) {
    case TOpenFailure::Gone:
        return head + QStringLiteral("there is no such port (not present, or unplugged)");
    case TOpenFailure::NoPermission:
        return head + QStringLiteral("no permission; a member of the dialout group may open serial ports: "
                                     "sudo usermod -aG dialout $USER, then log in again");
    case TOpenFailure::Busy: {
        const QString path = port.startsWith(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port;
        const QStringList holders = PortHolders(path);
        return head + QStringLiteral("the port is busy, another program holds it")
             + (holders.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(holders.join(QStringLiteral(", "))));
    }
    case TOpenFailure::None:
    case TOpenFailure::Other:
        break;
    }
    return head + QString::fromStdString(e.what());
}

// The port of the run: the one named, else the only one the port list finds.
QString ChoosePort(const QString &named)
{
    if (!named.isEmpty())
        return named;
    QStringList ports;
    try {
        ListSerialPorts(ports);
    } catch (const std::exception &e) {
        throw TCliFailure(ExitPort, QStringLiteral("cannot list the serial ports: %1").arg(QString::fromStdString(e.what())));
    }
    if (ports.size() == 1)
        return ports.first();
    if (ports.isEmpty())
        throw TCliFailure(ExitPort, QStringLiteral("no serial port found; name one with --port"));
    throw TCliFailure(ExitUsage, QStringLiteral("several serial ports found, choose one with --port: %1")
                                     .arg(ports.join(QStringLiteral(", "))));
}

// The port, open for the whole run, and the exchanges over it.
class TDeviceLink {
public:
    explicit TDeviceLink(const TLinkOptions &options)
        : timeoutMs_(options.TimeoutMs), transaction_(port_, TransactionOptions(options))
    {
        name_ = ChoosePort(options.Port);
        port_.SetPort(name_);
        try {
            transaction_.Open();
        } catch (const std::exception &e) {
            throw TCliFailure(ExitPort, OpenFailureText(name_, e));
        }
    }

    QString PortName() const { return name_; }

    // The answer to frame; what is asked names the request in the message of a failure.
    QByteArray Ask(const QByteArray &frame, const QString &what)
    {
        TExchangeResult result;
        try {
            result = transaction_.Exchange(frame);
        } catch (const std::exception &e) {
            throw TCliFailure(ExitDevice, QStringLiteral("%1: the port failed: %2").arg(what, QString::fromStdString(e.what())));
        }
        if (!result.Ok())
            throw TCliFailure(ExitDevice, QStringLiteral("%1: %2").arg(what, result.Describe(timeoutMs_)));
        return result.Answer;
    }

private:
    static TTransactionOptions TransactionOptions(const TLinkOptions &options)
    {
        TTransactionOptions t;
        t.TimeoutMs = options.TimeoutMs;
        t.Retries = options.Retries;
        if (options.Trace)
            t.Trace = [](const QString &line) { Print(stderr, line + QLatin1Char('\n')); };
        return t;
    }

    TComPort port_;
    QString name_;
    int timeoutMs_;
    TTransaction transaction_;
};

struct TDeviceConfigRead {
    TDeviceConfig Config{};
    TRegisterBytes Registers{};
};

TDeviceConfigRead ReadConfiguration(TDeviceLink &link)
{
    TDeviceConfigRead read;
    const struct {
        int Block, First, Count;
    } blocks[] = {{1, ConfigBlock1First, ConfigBlock1Count}, {2, ConfigBlock2First, ConfigBlock2Count}};
    for (const auto &block : blocks) {
        const QByteArray answer = link.Ask(Frame(BuildShortRequest(3, uint16_t(block.First), uint16_t(block.Count))),
                                           QStringLiteral("reading registers %1..%2").arg(block.First).arg(block.First + block.Count - 1));
        const auto *bytes = reinterpret_cast<const uint8_t *>(answer.constData());
        UnpackConfigBlockInto(read.Config, bytes, block.Block);
        std::copy(bytes + 3, bytes + 3 + 2 * block.Count, read.Registers.begin() + 2 * block.First);
    }
    return read;
}

QByteArray ReadFileText(const QString &file)
{
    QFile in(file);
    if (file == QLatin1String("-") ? !in.open(stdin, QIODevice::ReadOnly) : !in.open(QIODevice::ReadOnly))
        throw TCliFailure(ExitUsage, QStringLiteral("%1: cannot read: %2").arg(file, in.errorString()));
    return in.readAll();
}

TDeviceConfig CheckedFile(const QString &file, bool allowOutOfRange)
{
    const TConfigFileCheck check = ReadConfigFile(ReadFileText(file), allowOutOfRange);
    if (!check.Ok()) {
        QStringList lines;
        for (const QString &error : check.Errors)
            lines << QStringLiteral("%1: %2").arg(file, error);
        lines << QStringLiteral("%1: refused, nothing was sent").arg(file);
        throw TCliFailure(ExitUsage, lines.join(QLatin1Char('\n')));
    }
    return check.Config;
}

QString CsvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

QStringList ModeNames()
{
    QStringList names;
    for (const TModeMap &map : ModeMaps())
        names << QLatin1String(map.Name);
    return names;
}

int RunPorts(bool json)
{
    QStringList ports;
    try {
        ListSerialPorts(ports);
    } catch (const std::exception &e) {
        throw TCliFailure(ExitPort, QStringLiteral("cannot list the serial ports: %1").arg(QString::fromStdString(e.what())));
    }
    if (!json) {
        for (const QString &name : ports)
            Print(stdout, QStringLiteral("%1\t%2\n").arg(name, DescribePort(name).Text()));
        return ExitOk;
    }
    QJsonArray list;
    for (const QString &name : ports) {
        const TPortDescription d = DescribePort(name);
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
                                {QStringLiteral("text"), d.Text()}});
    }
    Print(stdout, QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Indented)));
    return ExitOk;
}

int RunRead(const TLinkOptions &options, const QString &output, bool table)
{
    TDeviceLink link(options);
    const TDeviceConfigRead read = ReadConfiguration(link);

    QByteArray text;
    if (table) {
        // The grid's rows in the user's locale.
        const TDeviceConfig saved = DeviceConfig;
        DeviceConfig = read.Config;
        QString rows;
        for (const ConfigField &field : ConfigFields())
            rows += QStringLiteral("%1\t%2\t%3\n")
                        .arg(ParameterGroupText(field.TreeIndex), ParameterNameText(field.TreeIndex),
                             NodeValueText(field.TreeIndex));
        DeviceConfig = saved;
        text = rows.toUtf8();
    } else {
        text = ConfigFileText(read.Config, read.Registers, link.PortName());
    }
    if (output.isEmpty() || output == QLatin1String("-")) {
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        std::fflush(stdout);
        return ExitOk;
    }
    // The file appears whole or not at all: written beside its place, then renamed over it.
    QTemporaryFile file(output + QStringLiteral(".XXXXXX"));
    file.setAutoRemove(true);
    if (!file.open() || file.write(text) != text.size() || !file.flush()
        || !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther)
        || std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(output).constData()) != 0)
        throw TCliFailure(ExitUsage, QStringLiteral("%1: cannot write: %2")
                                         .arg(output, file.error() != QFile::NoError ? file.errorString()
                                                                                     : QString::fromLocal8Bit(std::strerror(errno))));
    file.setAutoRemove(false);
    return ExitOk;
}

int RunWrite(const TLinkOptions &options, const QString &file, bool dryRun, bool allowOutOfRange)
{
    const TDeviceConfig config = CheckedFile(file, allowOutOfRange);
    const TRegisterBytes registers = PackConfigRegistersOf(config);
    const std::array<uint8_t, 115> frame = BuildConfigWriteRequest(registers);
    if (dryRun) {
        Print(stdout, HexBytes(frame.data(), int(frame.size())) + QLatin1Char('\n'));
        return ExitOk;
    }
    TDeviceLink link(options);
    link.Ask(QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size())),
             QStringLiteral("writing registers 0..52"));
    const TDeviceConfigRead back = ReadConfiguration(link);
    QStringList differing;
    for (int r = 0; r < ConfigRegisterCount; ++r) {
        const int sent = registers[2 * r] << 8 | registers[2 * r + 1];
        const int held = back.Registers[2 * r] << 8 | back.Registers[2 * r + 1];
        if (sent != held)
            differing << QStringLiteral("register %1: sent %2, reads back %3").arg(r).arg(sent).arg(held);
    }
    if (!differing.isEmpty())
        throw TCliFailure(ExitDevice, QStringLiteral("the device holds other values than were written:\n  ")
                                          + differing.join(QStringLiteral("\n  ")));
    return ExitOk;
}

int RunDiff(const TLinkOptions &options, const QString &file)
{
    // A backup may hold what the dialogs would not take: compare it as it is.
    const TDeviceConfig wanted = CheckedFile(file, true);
    TDeviceLink link(options);
    const TDeviceConfigRead read = ReadConfiguration(link);
    int differing = 0;
    for (const ConfigField &field : ConfigFields()) {
        uint8_t a[4] = {}, b[4] = {};
        PackField(field, wanted, a);
        PackField(field, read.Config, b);
        if (std::equal(a, a + 2 * field.RegisterCount(), b))
            continue;
        ++differing;
        Print(stdout, QStringLiteral("%1\t%2 / %3\tfile %4\tdevice %5\n")
                          .arg(QLatin1String(field.Name), ParameterGroupText(field.TreeIndex),
                               ParameterNameText(field.TreeIndex), FieldValueText(field, wanted),
                               FieldValueText(field, read.Config)));
    }
    return differing ? ExitDiffers : ExitOk;
}

int RunMode(const TLinkOptions &options, const TModeOptions &mode)
{
    const TModeMap *map = FindModeMap(mode.Name);
    if (!map)
        throw TCliFailure(ExitUsage, QStringLiteral("unknown mode \"%1\"; the modes are: %2")
                                         .arg(mode.Name, ModeNames().join(QStringLiteral(", "))));
    if ((mode.Start || mode.Stop) && map->Coil < 0)
        throw TCliFailure(ExitUsage, QStringLiteral("mode %1 is only watched: it cannot be started or stopped").arg(mode.Name));

    TDeviceLink link(options);
    Interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previousInt {}, previousTerm {};
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
    struct Restore {
        struct sigaction &i, &t;
        ~Restore()
        {
            sigaction(SIGINT, &i, nullptr);
            sigaction(SIGTERM, &t, nullptr);
        }
    } restore{previousInt, previousTerm};

    auto command = [&](uint8_t value) {
        link.Ask(Frame(CommandRequestFields(uint16_t(map->Coil), value)),
                 QStringLiteral("switching mode %1 %2").arg(mode.Name, value == CommandOn ? QStringLiteral("on") : QStringLiteral("off")));
    };
    if (mode.Start)
        command(CommandOn);

    if (!mode.Json) {
        QStringList header{QStringLiteral("time"), QStringLiteral("mode")};
        for (const TValueRow &row : map->Rows)
            header << CsvField(QString::fromUtf8(row.Caption));
        Print(stdout, header.join(QLatin1Char(',')) + QLatin1Char('\n'));
    }

    uint8_t seenOn = 0, capturePending = 0;
    uint32_t s2Base = 0;
    QStringList lastValues(int(map->Rows.size()));
    QElapsedTimer clock;
    clock.start();
    long long rows = 0;
    const QByteArray statusFrame = Frame(StatusRequestFields(map->StatusCoilCount));
    const QByteArray valuesFrame = Frame(ValuesRequestFields(map->ValuesFirst, map->ValuesCount));
    while (!Interrupted) {
        const QByteArray status = link.Ask(statusFrame, QStringLiteral("reading the mode's state"));
        const bool on = status.size() > map->StatusByteOffset
                     && map->StatusBitSet(reinterpret_cast<const uint8_t *>(status.constData()));
        if (map->RelativeS2)
            NoteS2ModeState(seenOn, capturePending, on);
        if (map->HasValues() && !Interrupted) {
            const QByteArray values = link.Ask(valuesFrame, QStringLiteral("reading the mode's values"));
            const auto *bytes = reinterpret_cast<const uint8_t *>(values.constData());
            for (size_t r = 0; r < map->Rows.size(); ++r) {
                const TValueRow &row = map->Rows[r];
                if (!ValueRowPresent(int(values.size()), row))
                    continue;
                if (map->RelativeS2 && int(r) == ModeRows::TprTpuS2Row)
                    lastValues[int(r)] = FormatCount(RelativeS2Value(seenOn, capturePending, s2Base, WordSwappedCount(bytes + row.Offset)));
                else
                    lastValues[int(r)] = ValueRowPlainText(bytes, row);
            }
        } else if (map->HasValues()) {
            break;
        }
        const QString time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
        if (mode.Json) {
            QJsonObject values;
            for (size_t r = 0; r < map->Rows.size(); ++r) {
                bool number = false;
                const double v = lastValues[int(r)].toDouble(&number);
                values.insert(QString::fromUtf8(map->Rows[r].Caption),
                              number && std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null));
            }
            QJsonObject line{{QStringLiteral("time"), time}, {QStringLiteral("mode"), on ? QStringLiteral("on") : QStringLiteral("off")}};
            if (map->HasValues())
                line.insert(QStringLiteral("values"), values);
            Print(stdout, QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
        } else {
            QStringList fields{time, on ? QStringLiteral("on") : QStringLiteral("off")};
            fields << lastValues;
            Print(stdout, fields.join(QLatin1Char(',')) + QLatin1Char('\n'));
        }
        ++rows;
        if (mode.Count > 0 && rows >= mode.Count)
            break;
        if (mode.Duration > 0 && clock.elapsed() >= qint64(mode.Duration * 1000))
            break;
    }
    if (mode.Stop)
        command(CommandOff);
    return ExitOk;
}
