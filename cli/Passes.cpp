// `karven-cli passes`: the passes of a recorded TPR-by-TPU run and the series' results, as
// CSV, from the core's processing; the words of its refusals.
#include "Commands.h"

#include "ConfigFileFormat.h"
#include "ConfigProblems.h"
#include "ModeMap.h"
#include "Output.h"
#include "ProverRun.h"

#include <QFile>

#include <cmath>
#include <cstdio>

using namespace ProverRun;

namespace {

void Note(const QString &text)
{
    const QByteArray bytes = QStringLiteral("karven-cli: %1\n").arg(text).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

TCliFailure Usage(const QString &text)
{
    return TCliFailure(ExitUsage, QStringLiteral("passes: %1").arg(text));
}

// A number of an option: finite, within [least, most] (most < least: no upper bound).
double Number(const QString &option, const QString &text, double least, const QString &what)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < least)
        throw TCliFailure(ExitUsage, QStringLiteral("%1 takes %2, not \"%3\"").arg(option, what, text));
    return value;
}

int Choice(const QString &option, const QString &text, const QStringList &words)
{
    const qsizetype i = words.indexOf(text);
    if (i < 0)
        throw TCliFailure(ExitUsage, QStringLiteral("%1 takes %2, not \"%3\"").arg(option, words.join(QStringLiteral(" or ")), text));
    return int(i);
}

QString RefusalText(const QString &file, const TRefusal &r)
{
    const QString line = QStringLiteral("line %1").arg(r.Line);
    QString why;
    switch (r.Cause) {
    case TRefusalCause::NotARecord:
        if (r.Detail == QLatin1String("empty"))
            why = QStringLiteral("the file is empty");
        else if (r.Detail == QLatin1String("NUL"))
            why = line + QStringLiteral(" holds a NUL byte");
        else if (r.Detail == QLatin1String("binary"))
            why = line + QStringLiteral(" holds binary bytes");
        else if (r.Detail == QLatin1String("json"))
            why = line + QStringLiteral(" is a JSON line (mode --json); passes reads the CSV record");
        else if (r.Detail == QLatin1String("too long"))
            why = line + QStringLiteral(" is longer than a record's header");
        else
            why = line + QStringLiteral(" is not the header of a TPR-by-TPU record");
        why += QStringLiteral(": not a record of mode tpr-tpu1 or tpr-tpu2");
        break;
    case TRefusalCause::OtherMode:
        why = r.Detail.isEmpty() ? line + QStringLiteral(" is the header of another mode's record, not of tpr-tpu1 or tpr-tpu2")
                                 : line + QStringLiteral(" is the header of a record of mode %1, not of tpr-tpu1 or tpr-tpu2").arg(r.Detail);
        break;
    case TRefusalCause::BadRow:
        if (r.Detail == QLatin1String("fields"))
            why = line + QStringLiteral(" has %1 fields; a row has 22").arg(r.Text);
        else if (r.Detail == QLatin1String("too long"))
            why = line + QStringLiteral(" is longer than any row");
        else {
            QString what = QStringLiteral("a number");
            if (r.Detail == QLatin1String("time"))
                what = QStringLiteral("a time");
            else if (r.Detail == QLatin1String("mode"))
                what = QStringLiteral("on or off");
            else if (r.Column >= 3 && r.Column <= 22 && ModeRows::TprTpu[r.Column - 3].Kind == TValueKind::Count)
                what = QStringLiteral("a whole number from 0 to 4294967295");
            why = QStringLiteral("%1, field %2 (%3): \"%4\" is not %5").arg(line).arg(r.Column).arg(r.Detail, r.Text, what);
        }
        break;
    case TRefusalCause::CutFile:
        why = QStringLiteral("the file ends inside %1 (its %2 is cut short)").arg(line, r.Detail);
        break;
    case TRefusalCause::TooLarge:
        why = QStringLiteral("%1 bytes, more than the %2 a record may have").arg(r.Detail).arg(MaxRecordBytes);
        break;
    case TRefusalCause::Unreadable:
        return QStringLiteral("%1: cannot read: %2").arg(file, r.Detail);
    default:
        why = QStringLiteral("reading stopped");
        break;
    }
    return QStringLiteral("%1: refused: %2").arg(file, why);
}

QString WhyText(TCutPass::TWhy why)
{
    switch (why) {
    case TCutPass::TWhy::EndOfRecord: return QStringLiteral("end-of-record");
    case TCutPass::TWhy::Pause: return QStringLiteral("pause");
    case TCutPass::TWhy::SumsReset: return QStringLiteral("sums-reset");
    case TCutPass::TWhy::ModeOff: return QStringLiteral("mode-off");
    case TCutPass::TWhy::NotANumber: return QStringLiteral("not-a-number");
    case TCutPass::TWhy::OutsideSpan: return QStringLiteral("outside-span");
    case TCutPass::TWhy::StartOfRecord: return QStringLiteral("start-of-record");
    case TCutPass::TWhy::Unpaired: return QStringLiteral("unpaired");
    case TCutPass::TWhy::EndNotSeen: return QStringLiteral("end-not-seen");
    }
    return QString();
}

// The channel's build as the configuration file holds it; a code outside its list refuses it.
TProverBuild BuildFromConfig(const QString &file, int channel)
{
    const TConfigFileCheck check = ReadConfigFile(ReadFileText(file), TFileUse::Compare, true);
    if (!check.Ok()) {
        QStringList lines;
        for (const TConfigProblem &problem : check.Problems)
            lines << QStringLiteral("%1: %2").arg(file, ConfigProblemText(problem));
        lines << QStringLiteral("%1: refused").arg(file);
        throw TCliFailure(ExitUsage, lines.join(QLatin1Char('\n')));
    }
    const TDeviceConfig &c = check.Config;
    const uint8_t codes[3] = {channel == 2 ? c.Tpu2DetectorCount : c.Tpu1DetectorCount,
                              channel == 2 ? c.Tpu2TpuType : c.Tpu1TpuType,
                              channel == 2 ? c.Tpu2SumMethod : c.Tpu1SumMethod};
    const int indices[3] = {channel == 2 ? 9 : 2, channel == 2 ? 12 : 5, channel == 2 ? 13 : 6};
    for (int i = 0; i < 3; ++i)
        if (codes[i] > 1)
            throw TCliFailure(ExitUsage, QStringLiteral("%1: refused: %2 / %3 of channel %4 holds code %5, outside its list (0, 1)")
                                             .arg(file, ParameterGroupText(indices[i]), ParameterNameText(indices[i]))
                                             .arg(channel)
                                             .arg(codes[i]));
    TProverBuild build;
    build.Detectors = codes[0] ? 4 : 2;
    build.Directions = codes[1] ? TDirections::Two : TDirections::One;
    build.SumMethod = codes[2] ? TSumMethod::TwoPasses : TSumMethod::OnePass;
    return build;
}

TSettings SettingsOf(const TPassesOptions &options, int channel)
{
    TSettings settings;
    const bool buildGiven = options.Detectors || options.Directions || options.SumPasses;
    if (!options.Config.isEmpty()) {
        if (buildGiven)
            throw Usage(QStringLiteral("--config gives the prover's build; --detectors, --directions and --sum-method are not taken with it"));
        if (!channel)
            throw Usage(QStringLiteral("the record's file name names no channel (\"ТПР по ТПУ1 ...\", \"tpr-tpu2...\"): give --channel 1 or 2 for --config"));
        settings.Build = BuildFromConfig(options.Config, channel);
    } else {
        settings.Build.Detectors = options.Detectors ? options.Detectors : 2;
        settings.Build.Directions = options.Directions == 2 ? TDirections::Two : TDirections::One;
        settings.Build.SumMethod = options.SumPasses == 2 ? TSumMethod::TwoPasses : TSumMethod::OnePass;
    }
    const QStringList sections{QStringLiteral("1-2"), QStringLiteral("2-1"), QStringLiteral("3-4"), QStringLiteral("4-3")};
    double *volumes[4] = {&settings.Volume12, &settings.Volume21, &settings.Volume34, &settings.Volume43};
    bool given[4] = {false, false, false, false};
    for (const QString &volume : options.Volumes) {
        const QString section = volume.section(QLatin1Char('='), 0, 0);
        const qsizetype i = sections.indexOf(section);
        if (i < 0 || !volume.contains(QLatin1Char('=')))
            throw TCliFailure(ExitUsage, QStringLiteral("--volume takes SECTION=V with SECTION one of 1-2, 2-1, 3-4, 4-3, not \"%1\"").arg(volume));
        if (given[i])
            throw TCliFailure(ExitUsage, QStringLiteral("--volume %1 is given twice").arg(section));
        given[i] = true;
        *volumes[i] = Number(QStringLiteral("--volume ") + section, volume.section(QLatin1Char('='), 1), 0,
                             QStringLiteral("a volume, a number above 0"));
        if (*volumes[i] <= 0)
            throw TCliFailure(ExitUsage, QStringLiteral("--volume %1 takes a volume above 0, not \"%2\"").arg(section, volume.section(QLatin1Char('='), 1)));
    }
    const bool four = settings.Build.Detectors == 4;
    if (!given[0])
        throw Usage(QStringLiteral("--volume 1-2=V is needed: the calibrated volume of section 1-2 from the prover's certificate"));
    if (four && !given[2])
        throw Usage(QStringLiteral("the prover has 4 detectors: --volume 3-4=V is needed too"));
    if (!four && (given[2] || given[3]))
        throw Usage(QStringLiteral("--volume 3-4 and 4-3 are for a prover with 4 detectors"));
    if (settings.Build.Directions == TDirections::One && (given[1] || given[3]))
        throw Usage(QStringLiteral("--volume 2-1 and 4-3 are for a 2-directional prover"));
    if (settings.Build.SumMethod == TSumMethod::TwoPasses && (given[1] || given[3]))
        throw Usage(QStringLiteral("over 2 passes a measurement is a round trip: give its volume as 1-2 (and 3-4), not 2-1 or 4-3"));

    settings.LimitPercent = options.Limit.isEmpty() ? 0 : Number(QStringLiteral("--limit"), options.Limit, 0, QStringLiteral("a percentage above 0"));
    if (!options.Limit.isEmpty() && settings.LimitPercent <= 0)
        throw TCliFailure(ExitUsage, QStringLiteral("--limit takes a percentage above 0, not \"%1\"").arg(options.Limit));
    if (!options.LimitOf.isEmpty())
        settings.LimitOf = Choice(QStringLiteral("--limit-of"), options.LimitOf, {QStringLiteral("range"), QStringLiteral("sko")}) ? TLimitFigure::Sko
                                                                                                                                     : TLimitFigure::Range;
    if (!options.Update.isEmpty())
        settings.Update = TUpdate(Choice(QStringLiteral("--update"), options.Update,
                                         {QStringLiteral("auto"), QStringLiteral("detector"), QStringLiteral("travel")}));
    if (!options.Unit.isEmpty())
        settings.Unit = TVolumeUnit(Choice(QStringLiteral("--unit"), options.Unit, {QStringLiteral("l"), QStringLiteral("m3")}));
    if (!options.From.isEmpty())
        settings.FromSeconds = Number(QStringLiteral("--from"), options.From, 0, QStringLiteral("seconds from the record's first row, 0 or more"));
    if (!options.To.isEmpty())
        settings.ToSeconds = Number(QStringLiteral("--to"), options.To, 0, QStringLiteral("seconds from the record's first row, 0 or more"));
    if (settings.FromSeconds >= settings.ToSeconds)
        throw Usage(QStringLiteral("--from %1 is not before --to %2").arg(options.From, options.To));
    if (!options.Exclude.isEmpty()) {
        for (const QString &item : options.Exclude.split(QLatin1Char(','))) {
            bool ok = false;
            const int number = item.trimmed().toInt(&ok);
            if (!ok || number < 1)
                throw TCliFailure(ExitUsage, QStringLiteral("--exclude takes measurement numbers from 1, separated by commas, not \"%1\"").arg(options.Exclude));
            settings.Excluded.insert(number);
        }
    }
    return settings;
}

}  // namespace

int RunPasses(const TPassesOptions &options)
{
    const QString file = options.Record;
    const int channel = options.Channel ? options.Channel : ChannelFromFileName(file);
    const TSettings settings = SettingsOf(options, channel);

    TRecord record;
    TRefusal refusal;
    if (file == QLatin1String("-")) {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly))
            throw TCliFailure(ExitUsage, QStringLiteral("-: cannot read: %1").arg(in.errorString()));
        refusal = ReadRecord(in, record);
    } else {
        refusal = ReadRecordFile(file, record);
    }
    if (refusal.Refused())
        throw TCliFailure(ExitUsage, RefusalText(file, refusal));
    if (record.DroppedLastLine)
        Note(QStringLiteral("%1: line %2 has no newline at its end: left out").arg(file).arg(record.DroppedLastLine));

    const TResult result = Process(record, settings);
    int last = 0;
    for (const TMeasurement &m : result.Measurements)
        last = m.Number;
    for (int number : settings.Excluded)
        if (number > last)
            throw Usage(QStringLiteral("--exclude %1: the record has %2 measurements").arg(number).arg(last));
    const QString update = result.UpdateSeen == TUpdate::WhileTravelling ? QStringLiteral("travel") : QStringLiteral("detector");
    if (result.UpdateDecided)
        Note(QStringLiteral("%1: the pass values are taken as %2 (of %3 changes of a pass time, %4 could only be a time still running; --update overrules)")
                 .arg(file, result.UpdateSeen == TUpdate::WhileTravelling ? QStringLiteral("moving while the ball travels")
                                                                          : QStringLiteral("set at the closing detector"))
                 .arg(result.UpdateChanges)
                 .arg(result.UpdateRunningChanges));

    const QString unit = settings.Unit == TVolumeUnit::Litre ? QStringLiteral("l") : QStringLiteral("m3");
    auto fixed = [](double value, int decimals) { return Fixed(value, decimals, QLatin1Char('.'), false); };
    const char *const seriesNames[2] = {"1-2", "3-4"};
    // The measurements and the cut passes in the order they ended.
    struct TLine {
        qint64 Line;
        double End;
        QString Text;
    };
    std::vector<TLine> lines;
    for (const TMeasurement &m : result.Measurements)
        lines.push_back({m.Line, m.EndSeconds,
                         QStringList{QString::number(m.Number), QLatin1String(seriesNames[m.Series]), m.Section,
                                     fixed(m.StartSeconds, Decimals::Seconds), fixed(m.EndSeconds, Decimals::Seconds),
                                     QString::number(m.Line), fixed(m.N, Decimals::N), fixed(m.Seconds, Decimals::Seconds),
                                     fixed(m.Frequency, Decimals::Frequency), fixed(m.Volume, Decimals::Volume),
                                     fixed(m.FlowM3h, Decimals::Flow), fixed(m.DeviceFlow, Decimals::Flow), fixed(m.K, Decimals::K),
                                     fixed(m.DeviationPercent, Decimals::Percent),
                                     m.Included ? QStringLiteral("included") : QStringLiteral("excluded"), QString()}
                             .join(QLatin1Char(','))});
    for (const TCutPass &c : result.Cut)
        lines.push_back({c.Line, c.EndSeconds,
                         QStringList{QString(), QLatin1String(seriesNames[c.Series]), c.Section, fixed(c.StartSeconds, Decimals::Seconds),
                                     fixed(c.EndSeconds, Decimals::Seconds), QString::number(c.Line), fixed(c.N, Decimals::N),
                                     fixed(c.Seconds, Decimals::Seconds), QString(), QString(), QString(), QString(), QString(),
                                     QString(), QStringLiteral("cut"), WhyText(c.Why)}
                             .join(QLatin1Char(','))});
    std::stable_sort(lines.begin(), lines.end(), [](const TLine &a, const TLine &b) { return a.Line < b.Line; });

    QString out = QStringLiteral("number,series,section,start_s,end_s,line,n,t_s,f_hz,v_%1,q_m3h,flow,k_per_%1,deviation_percent,status,cut\n")
                      .arg(unit);
    for (const TLine &line : lines)
        out += line.Text + QLatin1Char('\n');
    out += QStringLiteral("\nseries,n,k_mean_per_%1,sko_percent,range_percent,limit_percent,limit_of,verdict,update\n").arg(unit);
    bool fails = false;
    for (const TSeries &s : result.Series) {
        fails = fails || (s.HasVerdict && !s.LimitHolds);
        out += QStringList{QLatin1String(seriesNames[s.Series]), QString::number(s.Count), fixed(s.KMean, Decimals::K),
                           fixed(s.SkoPercent, Decimals::Percent), fixed(s.RangePercent, Decimals::Percent),
                           settings.LimitPercent > 0 ? fixed(settings.LimitPercent, Decimals::Percent) : QString(),
                           settings.LimitOf == TLimitFigure::Sko ? QStringLiteral("sko") : QStringLiteral("range"),
                           !s.HasVerdict ? QStringLiteral("none") : s.LimitHolds ? QStringLiteral("holds") : QStringLiteral("fails"), update}
                   .join(QLatin1Char(','))
             + QLatin1Char('\n');
    }
    WriteOutput(out);
    return fails ? ExitDiffers : ExitOk;
}
