// SHA-256 of a file's bytes, for the record of what a board was given: the hash of what was
// sent, not of a file that may have changed since.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace pellwick {

class Sha256 {
public:
    Sha256();
    void Add(const void* bytes, std::size_t count);
    // Lower-case hex of the 32 bytes; the hash takes nothing more afterwards.
    std::string Hex();

    static std::string HexOf(const void* bytes, std::size_t count);

private:
    void Block(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingCount_ = 0;
    std::uint64_t length_ = 0; // bytes taken
};

} // namespace pellwick
