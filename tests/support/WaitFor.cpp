#include "WaitFor.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

bool WaitFor(const std::function<bool()> &cond, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer wake;  // wakes the wait below so the condition is looked at every 10 ms
    wake.start(10);
    while (!cond()) {
        if (deadline.hasExpired())
            return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void Spin(int ms)
{
    WaitFor([] { return false; }, ms);
}
