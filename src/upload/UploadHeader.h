// The upload header line «LF address size checksum version» CR and the file checksum it carries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pellwick {

class UploadHeader {
public:
    // Unsigned sum of all bytes, modulo 65536.
    static std::uint16_t Checksum(const std::vector<std::uint8_t>& bytes);

    // Exactly four upper-case hexadecimal digits.
    static std::string ChecksumHex(std::uint16_t checksum);

    // true when the version argument stands for the file's date text ("DATE" in any case).
    static bool IsDateVersion(const std::string& version);

    // "LF " address " " size " " checksum " " version CR; no line feed byte follows.
    static std::string Build(const std::string& address, std::uint64_t size, std::uint16_t checksum,
                             const std::string& version);
};

} // namespace pellwick
