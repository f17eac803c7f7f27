// An input/output failure reported by the operating system or the run-time library, with the
// numeric code it was raised for (a positive errno or run-time error number).
#pragma once

#include "serial/errors/Exception.h"

namespace pellwick {

class EIoError : public Exception {
public:
    EIoError(std::string message, int errorCode)
        : Exception(std::move(message)), errorCode_(errorCode) {}

    int ErrorCode() const noexcept { return errorCode_; }

private:
    int errorCode_;
};

} // namespace pellwick
