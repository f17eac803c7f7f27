// Memory could not be obtained. Kept apart from EIoError so that callers can tell a full
// memory from a failed device or file.
#pragma once

#include "serial/errors/Exception.h"

namespace pellwick {

class EOutOfMemoryError : public Exception {
public:
    EOutOfMemoryError() : Exception("Out of memory") {}
};

} // namespace pellwick
