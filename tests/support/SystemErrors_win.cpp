#include "SystemErrors.h"

#include <windows.h>

QList<TOpenFailureError> SystemOpenFailureErrors()
{
    // No permission has no error of its own: a port another program holds is the denied access.
    using F = TOpenFailure;
    return {{F::Gone, ERROR_FILE_NOT_FOUND}, {F::Busy, ERROR_ACCESS_DENIED}, {F::Other, ERROR_INVALID_PARAMETER}};
}

QList<TPortErrorSample> SystemPortErrorSamples()
{
    using S = TPortStage;
    using C = TPortCause;
    return {
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
        {"pulled out: device not connected", ERROR_DEVICE_NOT_CONNECTED, S::InUse, C::Gone},
        {"a Bluetooth port out of range", ERROR_SEM_TIMEOUT, S::Opening, C::NoAnswer},
        {"a Bluetooth device gone out of range", ERROR_SEM_TIMEOUT, S::InUse, C::Gone},
        {"a device no longer available", ERROR_DEV_NOT_EXIST, S::Opening, C::NoDevice},
        {"a device no longer available, in use", ERROR_DEV_NOT_EXIST, S::InUse, C::Gone},
        {"a device that does not exist", 433, S::Opening, C::NoDevice},
        {"a refused call on a working port", ERROR_INVALID_PARAMETER, S::InUse, C::Other},
    };
}

std::shared_ptr<void> GuardOfAnotherUser(const QString &lockName)
{
    // An empty access list: nobody but the system may open the mutex.
    ACL acl;
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeAcl(&acl, sizeof acl, ACL_REVISION) || !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)
        || !SetSecurityDescriptorDacl(&descriptor, TRUE, &acl, FALSE))
        return nullptr;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    const HANDLE mutex = CreateMutexW(&attributes, FALSE, lockName.toStdWString().c_str());
    if (!mutex)
        return nullptr;
    return std::shared_ptr<void>(mutex, [](void *handle) { CloseHandle(handle); });
}
