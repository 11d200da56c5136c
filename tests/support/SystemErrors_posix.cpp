#include "SystemErrors.h"

#include <cerrno>

int SampleSystemError(TOpenFailure kind)
{
    switch (kind) {
    case TOpenFailure::Gone: return ENOENT;
    case TOpenFailure::NoPermission: return EACCES;
    case TOpenFailure::Busy: return EBUSY;
    case TOpenFailure::Other: return EIO;
    case TOpenFailure::None: break;
    }
    return 0;
}
