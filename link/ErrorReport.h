#pragma once
// The general error report: where a failure that no handler caught ends up. The core only
// reports; the program on top decides how a report reaches the user by installing a sink
// (the window program shows a modal box, the command-line companion prints a line).

#include <QString>

#include <exception>
#include <functional>

using ErrorSink = std::function<void(const QString &text)>;

// Makes sink the general error report and returns the one it replaces. An empty sink
// restores the default, which writes the text to standard error.
ErrorSink SetErrorSink(ErrorSink sink);

// Hands text to the installed sink.
void ReportError(const QString &text);
// The text of an exception: EComPort's message, std::exception::what(), or "Unknown error".
QString ExceptionText(std::exception_ptr e);
// Reports the exception in flight.
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
