#include "ini/EIniWriteError.h"

namespace pellwick {

EIniWriteError::EIniWriteError(const std::string& path)
    : std::runtime_error("Unable to write to " + path), path_(path) {}

} // namespace pellwick
