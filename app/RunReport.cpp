#include "RunReport.h"

#include "ModeMap.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextDocument>
#include <QUrl>

#include <cmath>
#include <iterator>
#include <numeric>

using namespace ProverRun;

namespace {

const QChar Comma = QLatin1Char(',');

QString Html(const QString &text)
{
    return text.toHtmlEscaped();
}

// A field of the Excel file: quoted when it holds the separator, a quote or a line end.
QString CsvField(const QString &text)
{
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString Blank(const QString &text)
{
    return text.trimmed().isEmpty() ? QStringLiteral("—") : text;
}

}  // namespace

QString UnitText(TVolumeUnit unit)
{
    return unit == TVolumeUnit::CubicMetre ? QStringLiteral("м³") : QStringLiteral("л");
}

QString LimitFigureText(TLimitFigure figure)
{
    return figure == TLimitFigure::Sko ? QStringLiteral("СКО") : QStringLiteral("размах");
}

QString UpdateText(TUpdate update)
{
    switch (update) {
    case TUpdate::WhileTravelling:
        return QStringLiteral("во время движения шара");
    case TUpdate::AtDetector:
        return QStringLiteral("при срабатывании детектора");
    case TUpdate::Auto:
        break;
    }
    return QStringLiteral("определяется по записи");
}

QString DirectionsText(TDirections directions)
{
    return directions == TDirections::Two ? QStringLiteral("2-направленная") : QStringLiteral("1-направленная");
}

QString SumMethodText(TSumMethod method)
{
    return method == TSumMethod::TwoPasses ? QStringLiteral("за 2 прохода") : QStringLiteral("за 1 проход");
}

QString CutText(TCutPass::TWhy why)
{
    switch (why) {
    case TCutPass::TWhy::EndOfRecord:
        return QStringLiteral("запись кончилась до конца прохода");
    case TCutPass::TWhy::Pause:
        return QStringLiteral("перерыв в записи");
    case TCutPass::TWhy::SumsReset:
        return QStringLiteral("суммы сброшены");
    case TCutPass::TWhy::ModeOff:
        return QStringLiteral("режим выключен");
    case TCutPass::TWhy::NotANumber:
        return QStringLiteral("значение не является числом");
    case TCutPass::TWhy::OutsideSpan:
        return QStringLiteral("вне выбранного интервала");
    case TCutPass::TWhy::StartOfRecord:
        return QStringLiteral("первый проход измерения был до начала записи");
    case TCutPass::TWhy::Unpaired:
        return QStringLiteral("нет второго прохода измерения");
    case TCutPass::TWhy::EndNotSeen:
        return QStringLiteral("конец прохода не виден: значения не установились");
    }
    return QString();
}

namespace {

// The mode of a record by the companion's name, as the menu names it.
QString ModeNameText(const QString &name)
{
    static const QList<QPair<QString, QString>> modes{
        {QStringLiteral("tpr-tpu1"), QStringLiteral("ТПР по ТПУ1")}, {QStringLiteral("tpr-tpu2"), QStringLiteral("ТПР по ТПУ2")},
        {QStringLiteral("tpr-tpr"), QStringLiteral("ТПР по ТПР")},   {QStringLiteral("freq"), QStringLiteral("Частотомер")},
        {QStringLiteral("pack"), QStringLiteral("Пачка импульсов")}, {QStringLiteral("tq"), QStringLiteral("Режим TQ")},
        {QStringLiteral("tpu-imitation"), QStringLiteral("Имитация ТПУ")}};
    for (const auto &[key, words] : modes)
        if (key == name)
            return words;
    return QString();
}

// A field of a row by its key, as the record's header names it.
QString FieldNameText(const QString &key)
{
    if (key == QStringLiteral("time"))
        return QStringLiteral("время (time)");
    if (key == QStringLiteral("mode"))
        return QStringLiteral("состояние режима (mode)");
    for (const TValueRow &row : ModeRows::TprTpu)
        if (key == QLatin1String(row.Key))
            return QStringLiteral("«%1»").arg(QString::fromUtf8(row.Caption));
    return key;
}

}  // namespace

QString RefusalText(const TRefusal &refusal, const QString &fileName)
{
    const QString &d = refusal.Detail;
    QString cause;
    switch (refusal.Cause) {
    case TRefusalCause::None:
        return QString();
    case TRefusalCause::NotARecord:
        if (d == QStringLiteral("empty"))
            cause = QStringLiteral("файл пуст");
        else if (d == QStringLiteral("NUL"))
            cause = QStringLiteral("это не запись показаний: в файле есть нулевой байт");
        else if (d == QStringLiteral("binary"))
            cause = QStringLiteral("это не запись показаний: файл двоичный");
        else if (d == QStringLiteral("json"))
            cause = QStringLiteral("это запись в формате JSON; обрабатывается запись CSV");
        else if (d == QStringLiteral("too long"))
            cause = QStringLiteral("это не запись показаний: слишком длинная строка");
        else
            cause = QStringLiteral("это не запись показаний прибора: нет заголовка записи");
        break;
    case TRefusalCause::OtherMode:
        cause = ModeNameText(d).isEmpty() ? QStringLiteral("это запись не режима «ТПР по ТПУ»")
                                          : QStringLiteral("это запись режима «%1», а не «ТПР по ТПУ»").arg(ModeNameText(d));
        break;
    case TRefusalCause::BadRow:
        if (d == QStringLiteral("fields"))
            cause = QStringLiteral("в строке %1 полей вместо 22").arg(refusal.Text);
        else if (d == QStringLiteral("too long"))
            cause = QStringLiteral("слишком длинная строка");
        else
            cause = QStringLiteral("не читается поле %1%2: «%3»")
                        .arg(FieldNameText(d), refusal.Column > 0 ? QStringLiteral(" (поле %1)").arg(refusal.Column) : QString(),
                             refusal.Text);
        break;
    case TRefusalCause::CutFile:
        cause = d == QStringLiteral("header") ? QStringLiteral("запись оборвана в заголовке") : QStringLiteral("запись оборвана");
        break;
    case TRefusalCause::TooLarge:
        cause = QStringLiteral("файл больше 256 МБ (%1 байт)").arg(d);
        break;
    case TRefusalCause::Unreadable:
        cause = QStringLiteral("файл не читается: %1").arg(d);
        break;
    case TRefusalCause::Cancelled:
        cause = QStringLiteral("чтение прервано");
        break;
    }
    QString text = QStringLiteral("Запись не обработана: %1.").arg(cause);
    if (refusal.Line > 0)
        text += QStringLiteral("\nСтрока %1.").arg(refusal.Line);
    text += QStringLiteral("\nФайл: %1").arg(fileName);
    return text;
}

QString SettingsProblemText(TSettingsProblem problem)
{
    switch (problem) {
    case TSettingsProblem::None:
        return QString();
    case TSettingsProblem::NoVolume12:
        return QStringLiteral("Задайте вместимость участка 1-2 установки.");
    case TSettingsProblem::NoVolume34:
        return QStringLiteral("Задайте вместимость участка 3-4 установки (4 детектора).");
    case TSettingsProblem::BadDetectors:
        return QStringLiteral("Число детекторов установки — 2 или 4.");
    case TSettingsProblem::BadVolume:
        return QStringLiteral("Вместимость участка не может быть отрицательной.");
    case TSettingsProblem::BadLimit:
        return QStringLiteral("Предел повторяемости не может быть отрицательным.");
    case TSettingsProblem::BadSpan:
        return QStringLiteral("Начало интервала позже его конца.");
    }
    return QString();
}

// ---- the table ----

QStringList MeasurementHead(TVolumeUnit unit)
{
    return {QStringLiteral("№"),       QStringLiteral("Участок"),
            QStringLiteral("N, имп"),  QStringLiteral("T, с"),
            QStringLiteral("f, Гц"),   QStringLiteral("Q, м³/ч"),
            QStringLiteral("K, имп/") + UnitText(unit), QStringLiteral("Отклонение, %"),
            QStringLiteral("Учтено")};
}

bool NumberColumn(int column)
{
    return column != 1 && column != 8;
}

namespace {

QStringList MeasurementRow(const TMeasurement &m, QChar sign)
{
    return {QString::number(m.Number), m.Section, Fixed(m.N, Decimals::N, sign),
            Fixed(m.Seconds, Decimals::Seconds, sign), Fixed(m.Frequency, Decimals::Frequency, sign),
            Fixed(m.FlowM3h, Decimals::Flow, sign), Fixed(m.K, Decimals::K, sign),
            Fixed(m.DeviationPercent, Decimals::Percent, sign),
            m.Included ? QStringLiteral("да") : QStringLiteral("нет")};
}

// The row as a spreadsheet takes it: the section kept as text, no dash for a deviation
// that a measurement outside the series has not.
QStringList SpreadsheetRow(const TMeasurement &m, QChar sign)
{
    QStringList row = MeasurementRow(m, sign);
    row[1] = SpreadsheetSection(row[1]);
    if (std::isnan(m.DeviationPercent))
        row[7].clear();
    return row;
}

}  // namespace

std::vector<QStringList> MeasurementRows(const TResult &result, QChar sign)
{
    std::vector<QStringList> rows;
    rows.reserve(result.Measurements.size());
    for (const TMeasurement &m : result.Measurements)
        rows.push_back(MeasurementRow(m, sign));
    return rows;
}

QString SeriesTitle(const TResult &result, int series)
{
    QStringList sections;
    for (const TMeasurement &m : result.Measurements)
        if (m.Series == series && !sections.contains(m.Section))
            sections << m.Section;
    if (sections.isEmpty())
        sections << (series == 0 ? QStringLiteral("1-2") : QStringLiteral("3-4"));
    return QStringLiteral("Участок %1").arg(sections.join(QStringLiteral(", ")));
}

QString VerdictText(const TSeries &series)
{
    if (!series.HasVerdict)
        return QStringLiteral("нет (меньше двух измерений)");
    return series.LimitHolds ? QStringLiteral("предел выполняется") : QStringLiteral("предел не выполняется");
}

QList<TSeriesLine> SeriesLines(const TSeries &series, const TSettings &settings, double kFactor2, QChar sign)
{
    const QString unit = UnitText(settings.Unit);
    QList<TSeriesLine> lines;
    lines.append({QStringLiteral("Число измерений n"), QString::number(series.Count)});
    lines.append({QStringLiteral("Среднее K̄, имп/") + unit, Fixed(series.KMean, Decimals::K, sign)});
    lines.append({QStringLiteral("СКО, %"), Fixed(series.SkoPercent, Decimals::Percent, sign)});
    lines.append({QStringLiteral("Размах, %"), Fixed(series.RangePercent, Decimals::Percent, sign)});
    lines.append({QStringLiteral("Предел повторяемости (%1), %").arg(LimitFigureText(settings.LimitOf)),
                  Fixed(settings.LimitPercent, Decimals::Percent, sign)});
    lines.append({QStringLiteral("Заключение"), VerdictText(series)});
    if (std::isfinite(kFactor2) && kFactor2 != 0) {
        lines.append({QStringLiteral("Кф2 канала"), Fixed(kFactor2, Decimals::K, sign)});
        lines.append({QStringLiteral("Отличие K̄ от Кф2, %"),
                      Fixed((series.KMean - kFactor2) / kFactor2 * 100, Decimals::Percent, sign)});
    }
    return lines;
}

// ---- the clipboard and the Excel file ----

QString SpreadsheetSection(const QString &section)
{
    QString text = section;
    text.replace(QLatin1Char('-'), QChar(0x2011));
    return text;
}

QString ClipboardTable(const TResult &result, TVolumeUnit unit, QChar sign)
{
    QString text = MeasurementHead(unit).join(QLatin1Char('\t')) + QLatin1Char('\n');
    for (const TMeasurement &m : result.Measurements)
        text += SpreadsheetRow(m, sign).join(QLatin1Char('\t')) + QLatin1Char('\n');
    return text;
}

QByteArray ExcelCsv(const TResult &result, const TSettings &settings, double kFactor2)
{
    const auto line = [](const QStringList &fields) {
        QStringList quoted;
        for (const QString &f : fields)
            quoted << CsvField(f);
        return quoted.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    };
    QString text = line(MeasurementHead(settings.Unit));
    for (const TMeasurement &m : result.Measurements)
        text += line(SpreadsheetRow(m, Comma));
    for (const TSeries &series : result.Series) {
        text += QStringLiteral("\r\n") + line({SpreadsheetSection(SeriesTitle(result, series.Series))});
        for (const TSeriesLine &l : SeriesLines(series, settings, kFactor2, Comma))
            text += line({l.Name, l.Value == QStringLiteral("—") ? QString() : l.Value});
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

// ---- the protocol ----

namespace {

QString KeyValueTable(const QList<QPair<QString, QString>> &rows)
{
    QString html = QStringLiteral("<table cellspacing='0' cellpadding='2' width='100%'>");
    for (const auto &[key, value] : rows)
        html += QStringLiteral("<tr><td width='45%'>%1</td><td>%2</td></tr>").arg(Html(key), Html(Blank(value)));
    return html + QStringLiteral("</table>");
}

QString Section(const QString &title)
{
    return QStringLiteral("<h3 style='margin-top:10px; margin-bottom:4px'>%1</h3>").arg(Html(title));
}

QString VolumeText(double volume, TVolumeUnit unit)
{
    return Fixed(volume, Decimals::Volume, Comma) + QLatin1Char(' ') + UnitText(unit);
}

}  // namespace

QString ProtocolHeadHtml(const TProtocol &pr, const QString &chartName)
{
    const TSettings &s = pr.Settings;
    const QString dateTime = QStringLiteral("dd.MM.yyyy HH:mm");
    QString html = QStringLiteral("<html><body>");
    // The lab's header.
    html += QStringLiteral("<p align='center'><b>%1</b><br>%2<br>%3</p>")
                .arg(Html(pr.Lab.Organisation), Html(pr.Lab.Laboratory),
                     pr.Lab.Accreditation.isEmpty() ? QString()
                                                    : Html(QStringLiteral("Аттестат аккредитации ") + pr.Lab.Accreditation));
    html += QStringLiteral("<h2 align='center'>ПРОТОКОЛ № ______</h2>"
                           "<p align='center'>определения К-фактора преобразователя расхода на "
                           "трубопоршневой установке по записи режима «ТПР по ТПУ»</p>");
    html += KeyValueTable({
        {QStringLiteral("Дата и время составления"), pr.Made.toString(dateTime)},
        {QStringLiteral("Прибор"), QStringLiteral("Карвен-12Т, порт ") + Blank(pr.Port)},
        {QStringLiteral("Запись"), pr.RecordFile},
        {QStringLiteral("Начало записи"), pr.RecordStart.isValid() ? pr.RecordStart.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) : QString()},
        {QStringLiteral("Канал"), pr.Channel > 0 ? QStringLiteral("ТПР по ТПУ%1").arg(pr.Channel) : QString()},
    });

    html += Section(QStringLiteral("Трубопоршневая установка"));
    QList<QPair<QString, QString>> prover{
        {QStringLiteral("Наименование"), pr.Prover.Name},
        {QStringLiteral("Заводской номер"), pr.Prover.Serial},
        {QStringLiteral("Дата свидетельства о поверке"), pr.Prover.CertificateDate},
        {QStringLiteral("Вместимость участка 1-2"), VolumeText(s.Volume12, s.Unit)},
    };
    if (s.Build.Directions == TDirections::Two && s.Volume21 > 0)
        prover.append({QStringLiteral("Вместимость участка 2-1"), VolumeText(s.Volume21, s.Unit)});
    if (s.Build.Detectors == 4) {
        prover.append({QStringLiteral("Вместимость участка 3-4"), VolumeText(s.Volume34, s.Unit)});
        if (s.Build.Directions == TDirections::Two && s.Volume43 > 0)
            prover.append({QStringLiteral("Вместимость участка 4-3"), VolumeText(s.Volume43, s.Unit)});
    }
    prover.append({QStringLiteral("Предел повторяемости"),
                   QStringLiteral("%1 % (%2)").arg(Fixed(s.LimitPercent, Decimals::Percent, Comma), LimitFigureText(s.LimitOf))});
    html += KeyValueTable(prover);

    html += Section(QStringLiteral("Преобразователь расхода"));
    html += KeyValueTable({{QStringLiteral("Тип"), pr.Test.TransducerType},
                           {QStringLiteral("Заводской номер"), pr.Test.TransducerSerial}});

    html += Section(QStringLiteral("Конфигурация канала"));
    QList<QPair<QString, QString>> config = pr.ChannelConfig;
    config.append({QStringLiteral("Число детекторов (обработка)"), QStringLiteral("%1 детектора").arg(s.Build.Detectors)});
    config.append({QStringLiteral("Тип ТПУ (обработка)"), DirectionsText(s.Build.Directions)});
    config.append({QStringLiteral("Способ расчета суммы (обработка)"), SumMethodText(s.Build.SumMethod)});
    config.append({QStringLiteral("Источник данных об установке"), pr.BuildSource});
    config.append({QStringLiteral("Обновление значений прохода"),
                   UpdateText(pr.Result.UpdateSeen)
                       + (s.Update == TUpdate::Auto ? QStringLiteral(" (определено по записи)")
                                                    : QStringLiteral(" (задано пользователем)"))});
    html += KeyValueTable(config);

    html += Section(QStringLiteral("График прогона"));
    html += QStringLiteral("<p><img src='%1'></p>").arg(Html(chartName));

    return html + QStringLiteral("</body></html>");
}

QString ProtocolTailHtml(const TProtocol &pr)
{
    const TSettings &s = pr.Settings;
    QString html = QStringLiteral("<html><body>");
    if (pr.Result.Measurements.empty())
        html += QStringLiteral("<p>Законченных измерений в записи нет.</p>");
    if (!pr.Result.Cut.empty()) {
        html += QStringLiteral("<p>Не учтены прерванные проходы:</p><ul>");
        for (const TCutPass &cut : pr.Result.Cut)
            html += QStringLiteral("<li>%1, строка %2: %3</li>").arg(Html(cut.Section)).arg(cut.Line).arg(Html(CutText(cut.Why)));
        html += QStringLiteral("</ul>");
    }

    for (const TSeries &series : pr.Result.Series) {
        html += Section(QStringLiteral("Результат: ") + SeriesTitle(pr.Result, series.Series));
        QList<QPair<QString, QString>> rows;
        for (const TSeriesLine &l : SeriesLines(series, s, pr.KFactor2, Comma))
            rows.append({l.Name, l.Value});
        html += KeyValueTable(rows);
    }
    html += QStringLiteral("<p>Поправки на температуру и давление не вводились.</p>");

    html += QStringLiteral("<p><br>Измерения провел: ______________________ / %1 /</p>"
                           "<p><br>Протокол проверил: ______________________ / ______________________ /</p>"
                           "<p><br>Дата: «____» ______________ 20___ г.</p>")
                .arg(Html(pr.Test.Operator.isEmpty() ? QStringLiteral("______________________") : pr.Test.Operator));
    return html + QStringLiteral("</body></html>");
}

QString ProtocolFontFamily()
{
    static const QString family = [] {
        QString name;
        for (const char *file : {":/fonts/DejaVuSans.ttf", ":/fonts/DejaVuSans-Bold.ttf"}) {
            const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(file));
            if (id >= 0 && name.isEmpty() && !QFontDatabase::applicationFontFamilies(id).isEmpty())
                name = QFontDatabase::applicationFontFamilies(id).front();
        }
        return name;
    }();
    return family;
}

namespace {

// The protocol's pages: documents and the table laid one after another down the pages of
// the writer, each page with its number at the foot.
class TPages {
public:
    TPages(QPdfWriter &writer, QPainter &painter, const QFont &font)
        : writer_(writer), painter_(painter), fm_(font, &writer), body_(writer.width(), writer.height() - 2 * fm_.height())
    {
    }
    QSizeF Body() const { return body_; }

    // A document set to the body's width, from the current place on; it goes on over as
    // many pages as it needs, lines and table rows kept whole.
    void Document(QTextDocument &doc)
    {
        doc.documentLayout()->setPaintDevice(&writer_);
        doc.setPageSize(body_);
        // A document that fits the rest of the page starts there; another starts a page.
        const double height = Bottom(doc);
        if (y_ > 0 && height > body_.height() - y_)
            NewPage();
        if (y_ > 0) {
            painter_.save();
            painter_.translate(0, y_);
            doc.drawContents(&painter_, QRectF(QPointF(0, 0), QSizeF(body_.width(), body_.height() - y_)));
            painter_.restore();
            y_ += height;
            return;
        }
        const int pages = doc.pageCount();
        for (int i = 0; i < pages; ++i) {
            if (i > 0)
                NewPage();
            painter_.save();
            painter_.translate(0, -i * body_.height());
            doc.drawContents(&painter_, QRectF(QPointF(0, i * body_.height()), body_));
            painter_.restore();
        }
        y_ = height - (pages - 1) * body_.height();
    }

    // The table of measurements drawn row by row (a text document of thousands of table
    // rows takes minutes to lay out), its head again on every page.
    void Table(const QString &title, const QStringList &head, const std::vector<QStringList> &rows)
    {
        static const double widths[] = {6, 10, 12, 11, 11, 11, 13, 14, 12};
        const double total = std::accumulate(std::begin(widths), std::end(widths), 0.0);
        std::vector<double> x{0};
        for (double w : widths)
            x.push_back(x.back() + w / total * body_.width());
        const double rowHeight = fm_.height() * 1.4;
        const double headHeight = fm_.height() * 2.6;
        const double pad = fm_.averageCharWidth() * 0.6;
        QFont bold = painter_.font();
        bold.setBold(true);
        const QFont plain = painter_.font();
        const auto drawHead = [&] {
            painter_.setFont(bold);
            for (int c = 0; c < head.size() && c + 1 < int(x.size()); ++c)
                painter_.drawText(QRectF(x[c] + pad, y_, x[c + 1] - x[c] - 2 * pad, headHeight),
                                  Qt::AlignCenter | Qt::TextWordWrap, head[c]);
            painter_.setFont(plain);
            Lines(x, y_, y_ + headHeight);
            y_ += headHeight;
        };
        // The title stays with the head and the first rows.
        if (body_.height() - y_ < 2 * rowHeight + headHeight + 3 * rowHeight)
            NewPage();
        QFont titleFont = bold;
        titleFont.setPointSizeF(10);
        painter_.setFont(titleFont);
        y_ += rowHeight * 0.5;
        painter_.drawText(QRectF(0, y_, body_.width(), rowHeight), Qt::AlignLeft | Qt::AlignVCenter, title);
        y_ += rowHeight * 1.3;
        drawHead();
        for (const QStringList &row : rows) {
            if (y_ + rowHeight > body_.height()) {
                NewPage();
                drawHead();
            }
            for (int c = 0; c < row.size() && c + 1 < int(x.size()); ++c)
                painter_.drawText(QRectF(x[c] + pad, y_, x[c + 1] - x[c] - 2 * pad, rowHeight),
                                  (NumberColumn(c) && c > 0 ? Qt::AlignRight : Qt::AlignHCenter) | Qt::AlignVCenter, row[c]);
            Lines(x, y_, y_ + rowHeight);
            y_ += rowHeight;
        }
        y_ += rowHeight / 2;
    }

    void Finish()
    {
        Foot();
        painter_.end();
    }
    int Pages() const { return page_; }

private:
    // The bottom of a document's last line, from its top.
    static double Bottom(QTextDocument &doc)
    {
        const QAbstractTextDocumentLayout *layout = doc.documentLayout();
        return layout->frameBoundingRect(doc.rootFrame()).height() > 0
                   ? layout->blockBoundingRect(doc.lastBlock()).bottom() + doc.documentMargin()
                   : 0;
    }
    void Lines(const std::vector<double> &x, double top, double bottom)
    {
        painter_.drawLine(QPointF(x.front(), top), QPointF(x.back(), top));
        painter_.drawLine(QPointF(x.front(), bottom), QPointF(x.back(), bottom));
        for (double v : x)
            painter_.drawLine(QPointF(v, top), QPointF(v, bottom));
    }
    void Foot()
    {
        painter_.drawText(QRectF(0, writer_.height() - fm_.height(), writer_.width(), fm_.height()),
                          Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Страница %1").arg(page_));
    }
    void NewPage()
    {
        Foot();
        writer_.newPage();
        ++page_;
        y_ = 0;
    }

    QPdfWriter &writer_;
    QPainter &painter_;
    QFontMetricsF fm_;
    QSizeF body_;
    double y_ = 0;
    int page_ = 1;
};

}  // namespace

QSize ProtocolChartSize()
{
    // The body's width at the writer's 300 dpi: A4's 210 mm less margins of 20 and 12 mm.
    const int width = int((210 - 20 - 12) / 25.4 * 300);
    return {width, width * 38 / 100};
}

bool WriteProtocolPdf(const QString &path, const TProtocol &protocol, const QImage &chart, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    {
        QPdfWriter writer(&file);
        writer.setCreator(QStringLiteral("Карвен-12Т"));
        writer.setTitle(QStringLiteral("Протокол: ") + protocol.RecordFile);
        writer.setResolution(300);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 12, 12, 12),
                                         QPageLayout::Millimeter));
        const QFont font(ProtocolFontFamily(), 9);
        QPainter painter(&writer);
        if (!painter.isActive()) {
            if (error)
                *error = QStringLiteral("не удалось начать PDF");
            file.cancelWriting();
            return false;
        }
        painter.setFont(font);
        TPages pages(writer, painter, font);
        const auto document = [&](const QString &html, const QImage *image) {
            QTextDocument doc;
            doc.setDefaultFont(font);
            doc.setDocumentMargin(0);
            doc.setDefaultStyleSheet(QStringLiteral("h2 { font-size: 13pt; } h3 { font-size: 10pt; }"));
            doc.setHtml(html);
            if (image) {
                const int width = int(pages.Body().width());
                QImage picture = image->width() == width ? *image : image->scaledToWidth(width, Qt::SmoothTransformation);
                // A document sizes a picture in the screen's pixels and scales them to the
                // writer's: the picture's pixel ratio undoes that, so that it fills the width.
                const QScreen *screen = QGuiApplication::primaryScreen();
                const double screenDpi = QCoreApplication::testAttribute(Qt::AA_Use96Dpi) ? 96
                                         : screen                                         ? std::round(screen->logicalDotsPerInchY())
                                                                                          : 100;
                picture.setDevicePixelRatio(writer.logicalDpiY() / screenDpi);
                doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("chart.png")), picture);
                doc.markContentsDirty(0, doc.characterCount());
            }
            pages.Document(doc);
        };
        document(ProtocolHeadHtml(protocol, QStringLiteral("chart.png")), &chart);
        pages.Table(QStringLiteral("Результаты измерений"), MeasurementHead(protocol.Settings.Unit),
                    MeasurementRows(protocol.Result, Comma));
        document(ProtocolTailHtml(protocol), nullptr);
        pages.Finish();
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}
