// Files for end-to-end uploads: writing and reading them as bytes, contents that cover every
// byte value, fixed modification times, and the 16-bit sum the device checks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pellwick::e2e {

using Bytes = std::vector<std::uint8_t>;

bool WriteFile(const std::string& path, const Bytes& bytes);
bool WriteText(const std::string& path, const std::string& text);
Bytes ReadFile(const std::string& path);
std::string ReadText(const std::string& path);

// `size` bytes in which every value occurs (from 256 bytes on) in an order that is not a plain
// count, so that a shifted or reordered byte changes the sum.
Bytes AllByteValues(std::size_t size);

// Sets the file's modification time to this local time; false on failure.
bool SetLocalModificationTime(const std::string& path, int year, int month, int day, int hour,
                              int minute, int second);

// The sum of all bytes modulo 65536 as four upper-case hex digits.
std::string Checksum16(const Bytes& bytes);

} // namespace pellwick::e2e
