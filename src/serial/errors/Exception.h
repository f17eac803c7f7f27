// Root of the program's own exceptions: a std::exception that carries its message text.
// The default error report of the program shows Message().
#pragma once

#include <exception>
#include <string>

namespace pellwick {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}

    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

} // namespace pellwick
