#include "ErrorReport.h"

#include "CPort.h"

#include <cstdio>
#include <utility>

namespace {

void WriteToStandardError(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

ErrorSink &Sink()
{
    static ErrorSink sink = WriteToStandardError;
    return sink;
}

}  // namespace

ErrorSink SetErrorSink(ErrorSink sink)
{
    if (!sink)
        sink = WriteToStandardError;
    return std::exchange(Sink(), std::move(sink));
}

void ReportError(const QString &text)
{
    const ErrorSink sink = Sink();  // a copy: the sink may install another while it runs
    sink(text);
}

QString ExceptionText(std::exception_ptr e)
{
    try {
        std::rethrow_exception(e);
    } catch (const EComPort &err) {
        return err.Message();
    } catch (const std::exception &err) {
        return QString::fromLocal8Bit(err.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

void ReportException(std::exception_ptr e)
{
    ReportError(ExceptionText(e));
}
