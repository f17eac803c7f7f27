// Names of enum values kept as one table a type: the name of a value, and the value of a name
// read back. A value the table lacks gets the caller's fallback.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>

namespace pellwick {

template <typename E> using NameTable = std::pair<E, const char*>;

template <typename E, std::size_t N>
constexpr const char* NameIn(const NameTable<E> (&table)[N], E value, const char* fallback) {
    for (const auto& [entry, name] : table) {
        if (entry == value) {
            return name;
        }
    }
    return fallback;
}

// equal: how a name read back compares with the table's (exactly by default).
template <typename E, std::size_t N, typename Equal = std::equal_to<>>
std::optional<E> ValueNamed(const NameTable<E> (&table)[N], std::string_view name,
                            Equal equal = {}) {
    for (const auto& [entry, known] : table) {
        if (equal(name, std::string_view(known))) {
            return entry;
        }
    }
    return std::nullopt;
}

} // namespace pellwick
