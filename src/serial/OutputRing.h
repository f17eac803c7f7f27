// The dispatcher's output ring: bytes queued by the program wait here until the output worker
// writes them to the device. Every operation takes the ring's own lock; the worker writes a run
// it was handed without the lock, and the generation tells it whether the ring was emptied in
// the meantime.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace pellwick {

class OutputRing {
public:
    // Makes the ring `size` bytes and empty; Release frees it (size 0: queueing fails).
    void Allocate(std::uint32_t size);
    void Release();

    std::uint32_t Size();
    std::uint32_t Used();
    std::uint32_t Free();
    // Both levels read at one moment (the ring size is used + free).
    void Levels(std::uint32_t& used, std::uint32_t& size);

    // Queues count bytes, all or none: 0, ecPutBlockFail without a ring, or
    // ecOutputBufferTooSmall when they do not fit.
    int Put(const void* data, std::uint32_t count);
    // The run of waiting bytes to write next, contiguous: bytes that wrap round the ring's end
    // are rotated in place first, so that one write takes them all. False when none wait.
    bool NextRun(const std::uint8_t*& data, std::uint32_t& count);
    // n bytes of the run taken from NextRun left the ring, unless it was emptied since the
    // generation was read.
    void Advance(std::uint32_t n, std::uint64_t generation);
    std::uint64_t Generation();
    // Discards the waiting bytes; a run being written is not advanced any more.
    void Clear();

private:
    std::uint32_t UsedLocked() const;

    std::mutex lock_;
    std::vector<std::uint8_t> buffer_;
    std::uint32_t head_ = 0, tail_ = 0;
    bool full_ = false;
    std::uint64_t generation_ = 0;
};

} // namespace pellwick
