#include "SystemErrors.h"

#include <windows.h>

int SampleSystemError(TOpenFailure kind)
{
    switch (kind) {
    case TOpenFailure::Gone: return ERROR_FILE_NOT_FOUND;
    case TOpenFailure::Busy: return ERROR_ACCESS_DENIED;
    case TOpenFailure::Other: return ERROR_GEN_FAILURE;
    case TOpenFailure::NoPermission:  // a port another program holds is the denied access
    case TOpenFailure::None: break;
    }
    return 0;
}
