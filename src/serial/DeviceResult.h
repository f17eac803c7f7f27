// What a serial device operation came to: one of a few codes, with the system's errno kept
// beside it (0 where the code has no system cause). The device layer (ISerialDevice) speaks
// only these; the dispatcher turns them into the engine's numbers in one place,
// EngineNumberOf.
#pragma once

#include <cstdint>
#include <string>

namespace pellwick {

enum class DeviceError : std::uint8_t {
    None,         // done
    NotFound,     // no device at the path, or its node went away (ENOENT, ENOTDIR, ENODEV, ENXIO)
    Busy,         // held by another program: its flock, exclusive flag or lock file
    NoPermission, // this user may not use the device (EACCES, EPERM)
    IoFailure,    // the device failed with an input/output error (EIO): mostly a hang-up
    NoMemory,     // ENOMEM
    Unsupported,  // the device cannot do this: not a terminal, no break, no RS485
    Failed,       // any other failure of the system; SystemError tells which
};

class DeviceResult {
public:
    // Success.
    constexpr DeviceResult() = default;
    constexpr DeviceResult(DeviceError error, int systemError)
        : error_(error), systemError_(systemError) {}
    // The result of a system call that failed with err.
    static DeviceResult FromErrno(int err);

    constexpr bool Ok() const { return error_ == DeviceError::None; }
    constexpr DeviceError Error() const { return error_; }
    // The errno the system gave, 0 when none.
    constexpr int SystemError() const { return systemError_; }
    // The system's text for SystemError (empty when there is none).
    std::string SystemText() const;
    // Read or write found the device gone (pulled adapter, hung-up peer).
    constexpr bool DeviceGone() const {
        return error_ == DeviceError::NotFound || error_ == DeviceError::IoFailure;
    }

private:
    DeviceError error_ = DeviceError::None;
    int systemError_ = 0;
};

// The engine's number for a device result: 0 for success, else a negative number with a text
// of its own (serial/errors). A device held by another program is the only one that reads as
// "access denied", whatever errno came with it.
int EngineNumberOf(const DeviceResult& result);

} // namespace pellwick
