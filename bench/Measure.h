#pragma once
// What the benchmarks of the main window share: the median of a series, and the time from a
// command until its effect, with the event loop running.

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Runs the event loop until done() holds (checked every millisecond, also inside message
// boxes' own loops, whose OK it clicks) and returns the milliseconds from start; -1 when
// it did not happen within the limit.
inline double Measure(const std::function<void()> &start, const std::function<bool()> &done, int limitMs = 5000)
{
    using Clock = std::chrono::steady_clock;
    bool finished = false;
    Clock::time_point t0;
    Clock::time_point t1;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (!finished && done()) {
            t1 = Clock::now();
            finished = true;
        }
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            box->button(QMessageBox::Ok)->click();
    });
    probe.start(1);
    t0 = Clock::now();
    start();
    const QDeadlineTimer deadline(limitMs);
    while (!finished && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // Let a box still open close before the next run.
    const QDeadlineTimer settle(200);
    while (!settle.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    return finished ? std::chrono::duration<double, std::milli>(t1 - t0).count() : -1;
}
