#include "PortInfo.h"

#include "CPort.h"
#include "PortCalls.h"

int PortFailureErrno(const std::exception &e)
{
    const auto *port = dynamic_cast<const EComPort *>(&e);
    return port && port->WinCode > 0 ? port->WinCode : 0;
}

TPortStage PortFailureStage(const std::exception &e)
{
    const auto *port = dynamic_cast<const EComPort *>(&e);
    if (!port)
        return TPortStage::InUse;
    switch (port->Code) {
    case EComPort::OpenFailed:  // the open itself
    case EComPort::SetStateFailed:  // the settings applied with it
    case EComPort::SetTimeoutsFailed:
    case EComPort::SetupFailed:
        return TPortStage::Opening;
    default:
        return TPortStage::InUse;
    }
}

TPortCause ClassifyPortError(int err, TPortStage stage)
{
    if (err <= 0)
        return TPortCause::None;
    for (const TPortErrorCauses &causes : SystemPortErrorCauses()) {
        if (causes.Errors.contains(err))
            return stage == TPortStage::Opening ? causes.Opening : causes.InUse;
    }
    return TPortCause::Other;
}

bool DeviceGoneError(int err)
{
    const TPortCause cause = ClassifyPortError(err, TPortStage::InUse);
    return cause == TPortCause::Gone || cause == TPortCause::NoSuchPort;
}

TOpenFailure ClassifyOpenFailure(int err)
{
    switch (ClassifyPortError(err, TPortStage::Opening)) {
    case TPortCause::None:
        return TOpenFailure::None;
    case TPortCause::NoSuchPort:
    case TPortCause::NoDevice:
    case TPortCause::Gone:
    case TPortCause::NoAnswer:
        return TOpenFailure::Gone;
    case TPortCause::NoPermission:
        return TOpenFailure::NoPermission;
    case TPortCause::Busy:
        return TOpenFailure::Busy;
    default:
        return TOpenFailure::Other;
    }
}

TPortFailure PortFailureOf(const std::exception &e, const QString &portName)
{
    TPortFailure failure;
    failure.Err = PortFailureErrno(e);
    failure.Cause = ClassifyPortError(failure.Err, PortFailureStage(e));
    if (failure.Cause == TPortCause::Busy && !portName.isEmpty())
        failure.Holders = PortHolders(PortDevicePath(portName));
    return failure;
}
