// Raised by TVaxoStringResource when a string table cannot be found, opened or read.
#pragma once

#include "serial/errors/Exception.h"

namespace pellwick {

class EVaxoStringResourceError : public Exception {
public:
    using Exception::Exception;
};

} // namespace pellwick
