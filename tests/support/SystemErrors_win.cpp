#include "SystemErrors.h"

#include <windows.h>

int SampleSystemError(TOpenFailure kind)
{
    switch (kind) {
    case TOpenFailure::Gone: return ERROR_FILE_NOT_FOUND;
    case TOpenFailure::Busy: return ERROR_ACCESS_DENIED;
    case TOpenFailure::Other: return ERROR_INVALID_PARAMETER;
    case TOpenFailure::NoPermission:  // a port another program holds is the denied access
    case TOpenFailure::None: break;
    }
    return 0;
}

QList<TPortErrorSample> PortErrorSamples()
{
    using S = TPortStage;
    using C = TPortCause;
    return {
        {"no system error", -1, S::Opening, C::None},
        {"no such port", ERROR_FILE_NOT_FOUND, S::Opening, C::NoSuchPort},
        {"held by another program", ERROR_ACCESS_DENIED, S::Opening, C::Busy},
        {"held on the Linux side (Wine)", ERROR_LOCK_VIOLATION, S::Opening, C::Busy},
        {"a name no port has", ERROR_INVALID_NAME, S::Opening, C::BadName},
        {"no device behind the name", ERROR_DEVICE_REMOVED, S::Opening, C::NoDevice},
        {"pulled out: access denied", ERROR_ACCESS_DENIED, S::InUse, C::Gone},
        {"pulled out: bad command", ERROR_BAD_COMMAND, S::InUse, C::Gone},
        {"pulled out: device removed", ERROR_DEVICE_REMOVED, S::InUse, C::Gone},
        {"pulled out: not functioning", ERROR_GEN_FAILURE, S::InUse, C::Gone},
        {"the pseudo-terminal's other end closed (Wine)", ERROR_BROKEN_PIPE, S::InUse, C::Gone},
        {"a refused call on a working port", ERROR_INVALID_PARAMETER, S::InUse, C::Other},
    };
}
