// Reader of one string table in the STR0 layout (all integers u32 little-endian):
//   offset 0   "STR0"
//   offset 4   entry count n
//   offset 8   n entries sorted by ascending id: id, offset of the text from the table start,
//              text length in UTF-16 code units
//   then       the texts, UTF-16LE, not terminated
// Texts come back single-byte: code units below 256 map to that byte, all others to '?'.
//
// A reader is immutable once opened, so any thread may call GetText on it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace pellwick {

inline constexpr const char* kErrorStringsResource = "VAXO_ERROR_STRINGS_ENGLISH";
inline constexpr const char* kSrMgrStringsResource = "VAXO_SRMGR_STRINGS";

class TVaxoStringResource {
public:
    // Finds the named table in TResourceRegistry and checks it. Raises EVaxoStringResourceError
    // when the name is unknown, the table is empty or it is not a well-formed STR0 table.
    explicit TVaxoStringResource(const std::string& resourceName, bool raiseWhenMissing = false);

    TVaxoStringResource(const TVaxoStringResource&) = delete;
    TVaxoStringResource& operator=(const TVaxoStringResource&) = delete;

    // The text of id; empty when the table has no such id (or raises when the reader was
    // opened with raiseWhenMissing).
    std::string GetText(std::uint32_t id) const;

    std::uint32_t Count() const noexcept { return count_; }

    // The program's two tables, opened on first use (thread-safe) and kept until exit.
    static const TVaxoStringResource& ErrorStrings();
    static const TVaxoStringResource& SrMgrStrings();

private:
    std::span<const unsigned char> data_;
    std::uint32_t count_ = 0;
    bool raiseWhenMissing_;
};

} // namespace pellwick
