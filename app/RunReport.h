#pragma once
// What the processing window gives out, built without a widget: the table of measurements
// as the window, the clipboard, the Excel file and the protocol show it, the series'
// results in words, the protocol's HTML and its PDF, and the words of a refused record.
// Every number goes through ProverRun::Fixed with the column's decimals, so that the window,
// the protocol and the companion print the same digits; only the decimal sign differs.

#include "ProverRun.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QPair>
#include <QSize>
#include <QString>
#include <QStringList>

#include <vector>

// The prover as its certificate gives it; kept under its name (RunMemory).
struct TProverProfile {
    QString Name;
    QString Serial;
    QString CertificateDate;  // as the certificate writes it
    double Volume12 = 0, Volume21 = 0, Volume34 = 0, Volume43 = 0;
    ProverRun::TVolumeUnit Unit = ProverRun::TVolumeUnit::Litre;
    double LimitPercent = 0.05;
    ProverRun::TLimitFigure LimitOf = ProverRun::TLimitFigure::Range;
    bool operator==(const TProverProfile &) const = default;
};

// The lab's header of the protocol.
struct TLabFields {
    QString Organisation;
    QString Laboratory;
    QString Accreditation;
    bool operator==(const TLabFields &) const = default;
};

// The transducer under test and the person who tests it.
struct TTestFields {
    QString TransducerType;
    QString TransducerSerial;
    QString Operator;
    bool operator==(const TTestFields &) const = default;
};

// "л" or "м³".
QString UnitText(ProverRun::TVolumeUnit unit);
// "размах" or "СКО".
QString LimitFigureText(ProverRun::TLimitFigure figure);
// The update way in words: "при срабатывании детектора", "во время движения шара".
QString UpdateText(ProverRun::TUpdate update);
QString DirectionsText(ProverRun::TDirections directions);  // "1-направленная", ...
QString SumMethodText(ProverRun::TSumMethod method);        // "за 1 проход", ...
// Why a pass was not counted.
QString CutText(ProverRun::TCutPass::TWhy why);
// The one message of a refused record: what, where (its line) and the file's name.
QString RefusalText(const ProverRun::TRefusal &refusal, const QString &fileName);
// Settings that cannot give a result, in words; empty for none.
QString SettingsProblemText(ProverRun::TSettingsProblem problem);

// The table of measurements: its head (units in it) and its rows, numbers with that
// decimal sign. Columns: №, участок, N, T, f, Q, K, отклонение, учтено.
QStringList MeasurementHead(ProverRun::TVolumeUnit unit);
std::vector<QStringList> MeasurementRows(const ProverRun::TResult &result, QChar decimalSign);
// The columns of the table that hold numbers (all but the section and "учтено").
bool NumberColumn(int column);

// The series' results as lines of "name: value" (n, K̄, СКО, размах, the limit and its
// verdict, K̄ beside Кф2 when it is known), numbers with that decimal sign.
struct TSeriesLine {
    QString Name;
    QString Value;
};
QString SeriesTitle(const ProverRun::TResult &result, int series);  // "Участок 1-2"
QList<TSeriesLine> SeriesLines(const ProverRun::TSeries &series, const ProverRun::TSettings &settings,
                               double kFactor2, QChar decimalSign);
// The verdict alone: "предел выполняется", "предел не выполняется", "нет (n < 2)".
QString VerdictText(const ProverRun::TSeries &series);

// The table for the clipboard: tab-separated, one measurement a line, numbers with the
// user's decimal sign; a spreadsheet takes its numbers as numbers.
QString ClipboardTable(const ProverRun::TResult &result, ProverRun::TVolumeUnit unit, QChar decimalSign);
// The table as a CSV that Excel opens by a double-click under Russian regional settings:
// UTF-8 with a byte-order mark, ";" between fields, the decimal comma, CRLF line ends, then
// the series' results.
QByteArray ExcelCsv(const ProverRun::TResult &result, const ProverRun::TSettings &settings, double kFactor2);
// A section name ("1-2") as a spreadsheet keeps it as text: its hyphens non-breaking, so
// that it is not taken for a date.
QString SpreadsheetSection(const QString &section);

// Everything the protocol shows.
struct TProtocol {
    TLabFields Lab;
    TTestFields Test;
    TProverProfile Prover;
    QDateTime Made;        // local
    QString Port;          // the device's port ("" unknown)
    QString RecordFile;    // the record's file name
    QDateTime RecordStart; // its first row
    int Channel = 0;       // 1 or 2
    ProverRun::TSettings Settings;
    QString BuildSource;   // where the prover's build came from, in words
    QList<QPair<QString, QString>> ChannelConfig;  // the channel's configuration values
    double KFactor2 = NAN;
    ProverRun::TResult Result;
};

// The protocol as HTML for a QTextDocument, up to the head of the table of measurements
// (the chart is the image resource chartName), and after that table. The table itself is
// drawn on the pages as rows of MeasurementRows.
QString ProtocolHeadHtml(const TProtocol &protocol, const QString &chartName);
QString ProtocolTailHtml(const TProtocol &protocol);
// The size in pixels of the chart's picture that fills the protocol's width.
QSize ProtocolChartSize();
// Writes the protocol as a PDF on A4 (the program's own font embedded, so that its text
// reads back the same everywhere); false with the system's cause in *error.
bool WriteProtocolPdf(const QString &path, const TProtocol &protocol, const QImage &chart, QString *error);
// The family of the font the protocol is set in, loaded from the program on first use
// (empty when it could not be).
QString ProtocolFontFamily();
