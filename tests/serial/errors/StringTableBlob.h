// Builds STR0 string tables in memory for the tests, independently of the build's generator,
// and registers them under a name for as long as the object lives.
#pragma once

#include "serial/errors/TResourceRegistry.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pellwick::test {

struct BlobEntry {
    std::uint32_t id;
    std::u16string text;
};

inline void PutU32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) {
        out.push_back(static_cast<unsigned char>(v >> (8 * k)));
    }
}

// Entries are written in the order given (callers sort them unless they test disorder).
inline std::vector<unsigned char> MakeStringTable(const std::vector<BlobEntry>& entries,
                                                  const char* signature = "STR0") {
    std::vector<unsigned char> out(signature, signature + 4);
    PutU32(out, static_cast<std::uint32_t>(entries.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(8 + 12 * entries.size());
    for (const auto& e : entries) {
        PutU32(out, e.id);
        PutU32(out, offset);
        PutU32(out, static_cast<std::uint32_t>(e.text.size()));
        offset += static_cast<std::uint32_t>(2 * e.text.size());
    }
    for (const auto& e : entries) {
        for (char16_t unit : e.text) {
            out.push_back(static_cast<unsigned char>(unit & 0xFF));
            out.push_back(static_cast<unsigned char>(unit >> 8));
        }
    }
    return out;
}

class RegisteredTable {
public:
    RegisteredTable(std::string name, std::vector<unsigned char> bytes)
        : name_(std::move(name)), bytes_(std::move(bytes)) {
        TResourceRegistry::Register(name_, bytes_);
    }
    ~RegisteredTable() { TResourceRegistry::Unregister(name_); }
    RegisteredTable(const RegisteredTable&) = delete;
    RegisteredTable& operator=(const RegisteredTable&) = delete;

    const std::string& Name() const { return name_; }

private:
    std::string name_;
    std::vector<unsigned char> bytes_;
};

} // namespace pellwick::test
