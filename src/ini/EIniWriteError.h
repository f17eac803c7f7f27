// Raised when a private-profile write cannot be completed.
#pragma once

#include <stdexcept>
#include <string>

namespace pellwick {

// The message is "Unable to write to <path>", with the path as the caller gave it.
class EIniWriteError : public std::runtime_error {
public:
    explicit EIniWriteError(const std::string& path);

    const std::string& Path() const noexcept { return path_; }

private:
    std::string path_;
};

} // namespace pellwick
