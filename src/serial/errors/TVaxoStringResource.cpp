#include "serial/errors/TVaxoStringResource.h"

#include "serial/errors/EVaxoStringResourceError.h"
#include "serial/errors/TResourceRegistry.h"

#include <cstring>
#include <optional>

namespace pellwick {

namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kEntrySize = 12;

// Ids of the reader's own messages in VAXO_SRMGR_STRINGS.
constexpr std::uint32_t kMsgStringNotFound = 1;
constexpr std::uint32_t kMsgResourceNotFound = 3;
constexpr std::uint32_t kMsgCannotOpen = 4;
constexpr std::uint32_t kMsgInvalidTable = 5;

std::uint32_t U32At(std::span<const unsigned char> data, std::size_t pos) {
    return static_cast<std::uint32_t>(data[pos]) | static_cast<std::uint32_t>(data[pos + 1]) << 8 |
           static_cast<std::uint32_t>(data[pos + 2]) << 16 |
           static_cast<std::uint32_t>(data[pos + 3]) << 24;
}

// Checks the whole layout once, so that lookups never read outside the block: the signature,
// the entry array, every text range, and the ascending ids the binary search relies on.
// Returns the entry count, or nothing when the block is not a usable table.
std::optional<std::uint32_t> CheckTable(std::span<const unsigned char> data) {
    if (data.size() < kHeaderSize || std::memcmp(data.data(), "STR0", 4) != 0) {
        return std::nullopt;
    }
    const std::uint32_t count = U32At(data, 4);
    if (count > (data.size() - kHeaderSize) / kEntrySize) {
        return std::nullopt;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = kHeaderSize + kEntrySize * i;
        const std::uint64_t offset = U32At(data, entry + 4);
        const std::uint64_t bytes = 2ull * U32At(data, entry + 8);
        if (offset + bytes > data.size()) {
            return std::nullopt;
        }
        if (i > 0 && U32At(data, entry) <= U32At(data, entry - kEntrySize)) {
            return std::nullopt;
        }
    }
    return count;
}

std::string ToSingleByte(std::span<const unsigned char> utf16le) {
    std::string text;
    text.reserve(utf16le.size() / 2);
    for (std::size_t pos = 0; pos + 1 < utf16le.size(); pos += 2) {
        const unsigned unit = utf16le[pos] | utf16le[pos + 1] << 8;
        if (unit < 256) {
            text.push_back(static_cast<char>(unit));
            continue;
        }
        text.push_back('?');
        // A surrogate pair is one character: one '?' for both halves.
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && pos + 3 < utf16le.size()) {
            const unsigned next = utf16le[pos + 2] | utf16le[pos + 3] << 8;
            if (next >= 0xDC00 && next <= 0xDFFF) {
                pos += 2;
            }
        }
    }
    return text;
}

// Binary search over the entries of a checked table; nothing when the id is absent.
std::optional<std::string> FindText(std::span<const unsigned char> data, std::uint32_t count,
                                    std::uint32_t id) {
    std::int64_t lo = 0;
    std::int64_t hi = static_cast<std::int64_t>(count) - 1;
    while (hi >= lo) {
        const std::int64_t mid = (lo + hi) / 2;
        const std::size_t entry = kHeaderSize + kEntrySize * static_cast<std::size_t>(mid);
        const std::uint32_t entryId = U32At(data, entry);
        if (entryId == id) {
            const std::size_t offset = U32At(data, entry + 4);
            const std::size_t length = U32At(data, entry + 8);
            return ToSingleByte(data.subspan(offset, 2 * length));
        }
        if (entryId < id) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
        }
    }
    return std::nullopt;
}

// A message of the reader itself with its one argument filled in. The messages are read
// straight from the linked bytes rather than through a reader object, so that a failure to
// open that very table can still be reported.
std::string ReaderMessage(std::uint32_t id, const std::string& argument = {}) {
    std::string text;
    if (auto data = TResourceRegistry::Find(kSrMgrStringsResource)) {
        if (auto count = CheckTable(*data)) {
            text = FindText(*data, *count, id).value_or(std::string());
        }
    }
    if (text.empty()) {
        return "String resource error " + std::to_string(id) +
               (argument.empty() ? std::string() : ": " + argument);
    }
    for (const char* placeholder : {"%d", "%s"}) {
        const auto at = text.find(placeholder);
        if (at != std::string::npos) {
            text.replace(at, 2, argument);
            break;
        }
    }
    return text;
}

} // namespace

TVaxoStringResource::TVaxoStringResource(const std::string& resourceName, bool raiseWhenMissing)
    : raiseWhenMissing_(raiseWhenMissing) {
    auto data = TResourceRegistry::Find(resourceName);
    if (!data) {
        throw EVaxoStringResourceError(ReaderMessage(kMsgResourceNotFound, resourceName));
    }
    if (data->empty() || data->data() == nullptr) {
        throw EVaxoStringResourceError(ReaderMessage(kMsgCannotOpen, resourceName));
    }
    auto count = CheckTable(*data);
    if (!count) {
        throw EVaxoStringResourceError(ReaderMessage(kMsgInvalidTable));
    }
    data_ = *data;
    count_ = *count;
}

std::string TVaxoStringResource::GetText(std::uint32_t id) const {
    if (auto text = FindText(data_, count_, id)) {
        return *text;
    }
    if (raiseWhenMissing_) {
        throw EVaxoStringResourceError(ReaderMessage(kMsgStringNotFound, std::to_string(id)));
    }
    return {};
}

const TVaxoStringResource& TVaxoStringResource::ErrorStrings() {
    static const TVaxoStringResource reader(kErrorStringsResource);
    return reader;
}

const TVaxoStringResource& TVaxoStringResource::SrMgrStrings() {
    static const TVaxoStringResource reader(kSrMgrStringsResource);
    return reader;
}

} // namespace pellwick
