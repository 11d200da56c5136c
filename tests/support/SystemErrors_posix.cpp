#include "SystemErrors.h"

#include <cerrno>

QList<TOpenFailureError> SystemOpenFailureErrors()
{
    using F = TOpenFailure;
    return {{F::Gone, ENOENT}, {F::NoPermission, EACCES}, {F::Busy, EBUSY}, {F::Other, EIO}};
}

QList<TPortErrorSample> SystemPortErrorSamples()
{
    using S = TPortStage;
    using C = TPortCause;
    return {
        {"no such port", ENOENT, S::Opening, C::NoSuchPort},
        {"held by another program", EBUSY, S::Opening, C::Busy},
        {"locked by another program", EWOULDBLOCK, S::Opening, C::Busy},
        {"no permission", EACCES, S::Opening, C::NoPermission},
        {"no device behind the name", ENXIO, S::Opening, C::NoDevice},
        {"no serial line behind the port", EIO, S::Opening, C::NoLine},
        {"a regular file", ENOTTY, S::Opening, C::NotSerial},
        {"pulled out: hung up", EIO, S::InUse, C::Gone},
        {"pulled out: no device", ENXIO, S::InUse, C::Gone},
        {"a refused call on a working port", EINVAL, S::InUse, C::BadSettings},
    };
}

std::shared_ptr<void> GuardOfAnotherUser(const QString &)
{
    return nullptr;  // a lock file of another user is no case of this system's guard here
}
