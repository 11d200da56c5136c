#pragma once
// Message boxes of the program and its general error report.

#include <QString>
#include <exception>

class QWidget;

// Modal warning box with an OK button.
void ShowWarning(QWidget *parent, const QString &text);
// Modal information box with an OK button.
void ShowInformation(QWidget *parent, const QString &text);

// The general error report: a modal box with the error's text, after which the program
// goes on. While one report is on screen a further one is dropped, not stacked.
void ReportError(const QString &text);
// Reports the exception in flight (EComPort's message, std::exception::what()).
void ReportException(std::exception_ptr e);

// Runs fn and passes any exception to the general error report: used at the edge of
// every handler so that no exception crosses the event loop.
template <typename Fn>
void Guarded(Fn &&fn) {
    try {
        fn();
    } catch (...) {
        ReportException(std::current_exception());
    }
}
