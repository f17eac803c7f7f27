// What a fuzz target does when its oracle disagrees with the code under test: it prints what
// did not hold, with the bytes involved made readable, and aborts, so that libFuzzer keeps the
// input as a crash artefact.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace pellwick::fuzz {

// Bytes as C-style text: printable ASCII as it is, everything else as \xNN.
inline std::string Readable(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 32 && b < 127 && b != '\\') {
            out.push_back(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", b);
            out += escape;
        }
    }
    return out;
}

[[noreturn]] inline void Fail(const std::string& what) {
    std::fprintf(stderr, "oracle failed: %s\n", what.c_str());
    std::abort();
}

inline void Expect(bool holds, const std::string& what) {
    if (!holds) {
        Fail(what);
    }
}

} // namespace pellwick::fuzz
