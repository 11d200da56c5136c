#include "RunChart.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

const QColor FrequencyColour(25, 90, 190);
const QColor FlowColour(205, 110, 20);
const QColor BandColour(120, 180, 240, 70);
const QColor BandTextColour(20, 60, 130);
const QColor ExcludedColour(150, 150, 150, 60);
const QColor ExcludedTextColour(130, 130, 130);
const QColor CutColour(210, 80, 80, 50);

struct TRange {
    double Low = std::numeric_limits<double>::infinity();
    double High = -std::numeric_limits<double>::infinity();
    void Take(double v)
    {
        if (std::isfinite(v)) {
            Low = std::min(Low, v);
            High = std::max(High, v);
        }
    }
    bool Empty() const { return !(Low <= High); }
};

// A step of 1, 2 or 5 times a power of ten that cuts span into about `count` parts.
double NiceStep(double span, int count)
{
    if (!(span > 0))
        return 1;
    const double raw = span / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * power)
            return m * power;
    return 10 * power;
}

// The axis's range widened to whole steps; a flat series gets a span of its own.
TRange AxisRange(TRange r, int ticks, double *step)
{
    if (r.Empty())
        r = {0, 1};
    if (r.High - r.Low < 1e-9 * std::max(1.0, std::fabs(r.High))) {
        const double pad = std::max(1.0, std::fabs(r.High) * 0.01);
        r.Low -= pad;
        r.High += pad;
    }
    *step = NiceStep(r.High - r.Low, ticks);
    return {std::floor(r.Low / *step) * *step, std::ceil(r.High / *step) * *step};
}

QString TickText(double value, double step)
{
    const int decimals = step >= 1 ? 0 : std::min(6, int(std::ceil(-std::log10(step) - 1e-9)));
    return QString::number(value, 'f', decimals);
}

// One series as a column of least to greatest value per pixel column of the plot.
void DrawSeries(QPainter &p, const QRectF &plot, const ProverRun::TRecord &record, double t0, double span,
                const TRange &y, double ProverRun::TRow::*field, const QColor &colour)
{
    const int columns = std::max(1, int(plot.width()));
    std::vector<TRange> cols(static_cast<size_t>(columns));
    for (const ProverRun::TRow &row : record.Rows) {
        const double v = row.*field;
        if (!std::isfinite(v))
            continue;
        const int c = std::clamp(int((row.Seconds - t0) / span * (columns - 1) + 0.5), 0, columns - 1);
        cols[size_t(c)].Take(v);
    }
    // Each column's span as a stroke, joined to the previous column's by its low and high
    // ends: separate lines, which a painter strokes in time proportional to their number.
    const auto yOf = [&](double v) { return plot.bottom() - (v - y.Low) / (y.High - y.Low) * plot.height(); };
    std::vector<QLineF> lines;
    lines.reserve(size_t(columns) * 3);
    const TRange *previous = nullptr;
    double previousX = 0;
    for (int c = 0; c < columns; ++c) {
        const TRange &r = cols[size_t(c)];
        if (r.Empty())
            continue;
        const double x = plot.left() + c;
        if (r.High != r.Low)
            lines.emplace_back(x, yOf(r.Low), x, yOf(r.High));
        if (previous) {
            lines.emplace_back(previousX, yOf(previous->Low), x, yOf(r.Low));
            if (previous->High != previous->Low || r.High != r.Low)
                lines.emplace_back(previousX, yOf(previous->High), x, yOf(r.High));
        }
        previous = &r;
        previousX = x;
    }
    // Without smoothing: a day's columns are thousands of long strokes.
    p.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(colour, std::max(1, int(plot.height() / 300)));
    pen.setCapStyle(Qt::FlatCap);
    p.setPen(pen);
    p.drawLines(lines.data(), int(lines.size()));
}

}  // namespace

void PaintRunChart(QPainter &p, const QRectF &rect, const ProverRun::TRecord &record,
                   const ProverRun::TResult &result)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.fillRect(rect, Qt::white);
    const QFontMetricsF fm(p.font());
    const double line = fm.height();
    const QRectF plot = rect.adjusted(fm.horizontalAdvance(QStringLiteral("00000.00")) + 8, 2.2 * line,
                                      -(fm.horizontalAdvance(QStringLiteral("00000.00")) + 8), -1.6 * line);
    if (record.Rows.empty() || plot.width() < 10 || plot.height() < 10) {
        p.setPen(Qt::darkGray);
        p.drawText(rect, Qt::AlignCenter, QStringLiteral("Нет данных"));
        p.restore();
        return;
    }

    const double t0 = record.Rows.front().Seconds;
    const double span = std::max(1e-3, record.Rows.back().Seconds - t0);
    TRange frequency, flow;
    for (const ProverRun::TRow &row : record.Rows) {
        frequency.Take(row.Frequency);
        flow.Take(row.Flow);
    }
    double fStep = 1, qStep = 1;
    const TRange fAxis = AxisRange(frequency, 5, &fStep);
    const TRange qAxis = AxisRange(flow, 5, &qStep);
    const auto xOf = [&](double seconds) { return plot.left() + (seconds - t0) / span * plot.width(); };

    // The bands: measurements (grey when left out) and the passes that were cut, on whole
    // pixels (a smoothed edge costs a day's thousands of bands most of the chart's time).
    p.setRenderHint(QPainter::Antialiasing, false);
    for (const ProverRun::TCutPass &cut : result.Cut) {
        const QRectF band(QPointF(xOf(cut.StartSeconds), plot.top()), QPointF(xOf(cut.EndSeconds), plot.bottom()));
        p.fillRect(band.toAlignedRect(), QBrush(CutColour, Qt::BDiagPattern));
    }
    for (const ProverRun::TMeasurement &m : result.Measurements) {
        QRectF band(QPointF(xOf(m.StartSeconds), plot.top()), QPointF(xOf(m.EndSeconds), plot.bottom()));
        if (band.width() < 1)
            band.setWidth(1);
        p.fillRect(band.toAlignedRect(), m.Included ? BandColour : ExcludedColour);
        p.setPen(m.Included ? BandTextColour : ExcludedTextColour);
        const QString number = QString::number(m.Number);
        const double w = fm.horizontalAdvance(number);
        // Numbers of narrow bands would run into each other: shown where there is room.
        if (band.width() >= w * 0.6 || result.Measurements.size() <= 40)
            p.drawText(QPointF(band.center().x() - w / 2, plot.top() - 0.3 * line), number);
    }

    p.setRenderHint(QPainter::Antialiasing, true);

    // The grid and the axes.
    p.setPen(QPen(QColor(225, 225, 225), 1));
    for (double v = fAxis.Low; v <= fAxis.High + fStep / 2; v += fStep) {
        const double y = plot.bottom() - (v - fAxis.Low) / (fAxis.High - fAxis.Low) * plot.height();
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);
    p.setPen(FrequencyColour);
    for (double v = fAxis.Low; v <= fAxis.High + fStep / 2; v += fStep) {
        const double y = plot.bottom() - (v - fAxis.Low) / (fAxis.High - fAxis.Low) * plot.height();
        p.drawText(QRectF(rect.left(), y - line / 2, plot.left() - rect.left() - 4, line),
                   Qt::AlignRight | Qt::AlignVCenter, TickText(v, fStep));
    }
    p.setPen(FlowColour);
    for (double v = qAxis.Low; v <= qAxis.High + qStep / 2; v += qStep) {
        const double y = plot.bottom() - (v - qAxis.Low) / (qAxis.High - qAxis.Low) * plot.height();
        p.drawText(QRectF(plot.right() + 4, y - line / 2, rect.right() - plot.right() - 4, line),
                   Qt::AlignLeft | Qt::AlignVCenter, TickText(v, qStep));
    }
    // Time: the local clock time of the ticks.
    p.setPen(Qt::black);
    const double tStep = NiceStep(span, std::max(2, int(plot.width() / (fm.horizontalAdvance(QStringLiteral("00:00:00")) * 2))));
    const QDateTime start = record.Start.isValid() ? record.Start.toLocalTime() : QDateTime();
    for (double t = 0; t <= span + tStep / 2; t += tStep) {
        const double x = xOf(t0 + t);
        p.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + 3));
        const QString text = start.isValid() ? start.addMSecs(qint64((t0 + t) * 1000)).toString(QStringLiteral("HH:mm:ss"))
                                             : TickText(t, tStep) + QStringLiteral(" с");
        const double w = fm.horizontalAdvance(text);
        p.drawText(QPointF(std::clamp(x - w / 2, rect.left(), rect.right() - w), plot.bottom() + 3 + fm.ascent()), text);
    }

    p.save();
    p.setClipRect(plot);
    DrawSeries(p, plot, record, t0, span, fAxis, &ProverRun::TRow::Frequency, FrequencyColour);
    DrawSeries(p, plot, record, t0, span, qAxis, &ProverRun::TRow::Flow, FlowColour);
    p.restore();

    // The legend above the plot.
    double x = rect.left() + 4;
    const double y = rect.top() + 0.2 * line;
    for (const auto &[text, colour] : {std::pair{QStringLiteral("Частота, Гц"), FrequencyColour},
                                       std::pair{QStringLiteral("Расход"), FlowColour}}) {
        p.fillRect(QRectF(x, y + line * 0.35, line * 1.2, line * 0.3), colour);
        x += line * 1.5;
        p.setPen(Qt::black);
        p.drawText(QPointF(x, y + fm.ascent()), text);
        x += fm.horizontalAdvance(text) + line;
    }
    p.restore();
}

QImage RunChartImage(const ProverRun::TRecord &record, const ProverRun::TResult &result, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    QFont font = p.font();
    font.setPixelSize(std::max(10, size.height() / 22));
    p.setFont(font);
    PaintRunChart(p, QRectF(QPointF(0, 0), QSizeF(size)), record, result);
    return image;
}

TRunChart::TRunChart(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("RunChart"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TRunChart::SetRun(const ProverRun::TRecord *record, const ProverRun::TResult *result)
{
    record_ = record;
    result_ = result;
    update();
}

void TRunChart::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setFont(font());
    if (!record_ || !result_) {
        p.fillRect(rect(), Qt::white);
        return;
    }
    PaintRunChart(p, QRectF(rect()), *record_, *result_);
}
