// Names of enum values kept as one table a type: the name of a value, and the value of a name
// read back. A value the table lacks gets the caller's fallback, so a name that a file or a
// report keeps is better a switch, which does not build without every value.
#pragma once

#include <algorithm>
#include <cstddef>
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

// The value of a name read back in any case (ASCII).
template <typename E, std::size_t N>
std::optional<E> ValueNamed(const NameTable<E> (&table)[N], std::string_view name) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (const auto& [entry, known] : table) {
        const std::string_view k(known);
        if (k.size() == name.size() &&
            std::equal(k.begin(), k.end(), name.begin(),
                       [&](char a, char b) { return lower(a) == lower(b); })) {
            return entry;
        }
    }
    return std::nullopt;
}

} // namespace pellwick
