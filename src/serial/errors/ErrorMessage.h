// Message texts for error numbers: the program's error string table first, then the
// operating system's text for the number taken as an errno.
#pragma once

#include <cstddef>
#include <string>

namespace pellwick {

class TVaxoStringResource;

inline constexpr std::size_t kMaxErrorMessageLength = 255;

// The text for |number|, at most 255 characters; empty when neither source has one.
std::string ErrorMessage(int number);

// ErrorMessage with another table in place of the program's error strings.
std::string ErrorMessage(const TVaxoStringResource& table, int number);

// The text of a run-time number (-162..-2): the table's for the engine's own numbers
// (IsEngineIoNumber), the system's for any other, which is a negated errno; the table's where
// the system has none.
std::string IoErrorMessage(int number);

// The C library's text for errno id with control characters made spaces and runs of spaces
// folded to one; empty when the library knows no such error.
std::string SystemErrorText(long long id);

// Control characters (below 32) become spaces; then runs of spaces fold to one.
std::string CleanSystemText(const std::string& text);

} // namespace pellwick
