#include "upload/UploadHeader.h"

#include "upload/ScriptText.h"

namespace pellwick {

std::uint16_t UploadHeader::Checksum(const std::vector<std::uint8_t>& bytes) {
    std::uint16_t sum = 0;
    for (const std::uint8_t b : bytes) {
        sum = static_cast<std::uint16_t>(sum + b);
    }
    return sum;
}

std::string UploadHeader::ChecksumHex(std::uint16_t checksum) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text(4, '0');
    for (int i = 3; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = digits[checksum & 0xF];
        checksum = static_cast<std::uint16_t>(checksum >> 4);
    }
    return text;
}

bool UploadHeader::IsDateVersion(const std::string& version) {
    return ScriptText::UpperCase(version) == "DATE";
}

std::string UploadHeader::Build(const std::string& address, std::uint64_t size,
                                std::uint16_t checksum, const std::string& version) {
    return "LF " + address + " " + std::to_string(size) + " " + ChecksumHex(checksum) + " " +
           version + "\r";
}

} // namespace pellwick
