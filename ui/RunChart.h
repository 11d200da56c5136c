#pragma once
// The chart of a recorded prover run: the frequency and the device's flow against time over
// the whole record, each measurement a band with its number (excluded ones grey, cut passes
// hatched). One painter routine serves the processing window and the protocol, which
// renders it into a picture.

#include "ProverRun.h"

#include <QWidget>

class QPainter;

// Paints the chart of that record and result into rect. Any number of rows is drawn in time
// proportional to them: each column of pixels shows the least and the greatest value that
// falls in it.
void PaintRunChart(QPainter &painter, const QRectF &rect, const ProverRun::TRecord &record,
                   const ProverRun::TResult &result);

// The chart as a picture of that size in pixels (for the protocol).
QImage RunChartImage(const ProverRun::TRecord &record, const ProverRun::TResult &result, QSize size);

class TRunChart : public QWidget {
    Q_OBJECT
public:
    explicit TRunChart(QWidget *parent = nullptr);

    // The run shown; the chart keeps pointers, which must outlive it or be replaced.
    void SetRun(const ProverRun::TRecord *record, const ProverRun::TResult *result);

    QSize sizeHint() const override { return {720, 240}; }
    QSize minimumSizeHint() const override { return {320, 160}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    const ProverRun::TRecord *record_ = nullptr;
    const ProverRun::TResult *result_ = nullptr;
};
