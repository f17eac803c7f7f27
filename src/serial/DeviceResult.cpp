#include "serial/DeviceResult.h"

#include "serial/DispatcherTypes.h"
#include "serial/errors/ErrorMessage.h"

#include <cerrno>

namespace pellwick {

namespace {

// The engine's number for a failure that has no code of its own: the negated errno, whose text
// is the system's. Numbers the engine reads as something else (a missing device, access
// denied, no memory), values outside the run-time range and values that are no errno with a
// text become "General failure".
int SystemNumber(int err) {
    if (err < -ecIoFirst || err > -ecIoLast || SystemErrorText(err).empty() ||
        IsEngineIoNumber(-err)) {
        return dr::GeneralFailure;
    }
    return -err;
}

} // namespace

DeviceResult DeviceResult::FromErrno(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
        return {DeviceError::NotFound, err};
    case EBUSY:
    case EWOULDBLOCK:
        return {DeviceError::Busy, err};
    case EACCES:
    case EPERM:
        return {DeviceError::NoPermission, err};
    case EIO:
        return {DeviceError::IoFailure, err};
    case ENOMEM:
        return {DeviceError::NoMemory, err};
    case ENOTTY:
    case EOPNOTSUPP:
        return {DeviceError::Unsupported, err};
    default:
        return {DeviceError::Failed, err};
    }
}

std::string DeviceResult::SystemText() const {
    return systemError_ > 0 ? SystemErrorText(systemError_) : std::string();
}

int EngineNumberOf(const DeviceResult& result) {
    switch (result.Error()) {
    case DeviceError::None:
        return 0;
    case DeviceError::NotFound:
        return dr::DeviceNotFound;
    case DeviceError::Busy:
        return dr::DeviceAccessDenied;
    case DeviceError::NoPermission:
        // EPERM too: its own number would read as no message at all.
        return -EACCES;
    case DeviceError::IoFailure:
        return dr::GeneralFailure;
    case DeviceError::NoMemory:
        return ecIoOutOfMemory;
    case DeviceError::Unsupported:
        return SystemNumber(result.SystemError() != 0 ? result.SystemError() : EOPNOTSUPP);
    case DeviceError::Failed:
        break;
    }
    return SystemNumber(result.SystemError());
}

} // namespace pellwick
