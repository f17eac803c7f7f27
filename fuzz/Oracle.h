// What a fuzz target does when its oracle disagrees with the code under test: it prints what
// did not hold, with the bytes involved made readable, and aborts, so that libFuzzer keeps the
// input as a crash artefact.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>

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

// A folder of this process for the files a target writes on every run: memory-backed when the
// machine has /dev/shm, and removed again when the run ends (not after a crash, whose input
// may need it to be looked at).
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name) {
        std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        folder += "/pellwick-fuzz-" + name + "-XXXXXX";
        if (mkdtemp(folder.data()) == nullptr) {
            Fail("cannot create the folder " + folder);
        }
        path_ = folder;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace pellwick::fuzz
