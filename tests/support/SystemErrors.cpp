#include "SystemErrors.h"

int SampleSystemError(TOpenFailure kind)
{
    for (const TOpenFailureError &error : SystemOpenFailureErrors()) {
        if (error.Kind == kind)
            return error.Err;
    }
    return 0;
}

QList<TPortErrorSample> PortErrorSamples()
{
    // No error at all is no cause, on every system.
    return QList<TPortErrorSample>{{"no system error", -1, TPortStage::Opening, TPortCause::None}}
           + SystemPortErrorSamples();
}
