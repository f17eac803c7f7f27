#include "serial/OutputRing.h"

#include "serial/DispatcherTypes.h"

#include <algorithm>
#include <cstring>

namespace pellwick {

void OutputRing::Allocate(std::uint32_t size) {
    std::lock_guard lock(lock_);
    buffer_.assign(size, 0);
    head_ = tail_ = 0;
    full_ = false;
}

void OutputRing::Release() {
    std::lock_guard lock(lock_);
    buffer_.clear();
    buffer_.shrink_to_fit();
    head_ = tail_ = 0;
    full_ = false;
}

std::uint32_t OutputRing::UsedLocked() const {
    auto size = static_cast<std::uint32_t>(buffer_.size());
    if (full_) {
        return size;
    }
    if (tail_ < head_) {
        return head_ - tail_;
    }
    if (head_ < tail_) {
        return head_ + size - tail_;
    }
    return 0;
}

std::uint32_t OutputRing::Size() {
    std::lock_guard lock(lock_);
    return static_cast<std::uint32_t>(buffer_.size());
}

std::uint32_t OutputRing::Used() {
    std::lock_guard lock(lock_);
    return UsedLocked();
}

std::uint32_t OutputRing::Free() {
    std::lock_guard lock(lock_);
    return static_cast<std::uint32_t>(buffer_.size()) - UsedLocked();
}

void OutputRing::Levels(std::uint32_t& used, std::uint32_t& size) {
    std::lock_guard lock(lock_);
    used = UsedLocked();
    size = static_cast<std::uint32_t>(buffer_.size());
}

int OutputRing::Put(const void* data, std::uint32_t count) {
    std::lock_guard lock(lock_);
    auto size = static_cast<std::uint32_t>(buffer_.size());
    if (size == 0) {
        return ecPutBlockFail;
    }
    std::uint32_t free = size - UsedLocked();
    if (count > free) {
        return ecOutputBufferTooSmall;
    }
    if (count == 0) {
        return 0;
    }
    if (count == free) {
        full_ = true;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::uint32_t room = size - head_;
    if (count < room) {
        std::memcpy(&buffer_[head_], bytes, count);
        head_ += count;
    } else {
        std::memcpy(&buffer_[head_], bytes, room);
        std::memcpy(buffer_.data(), bytes + room, count - room);
        head_ = count - room;
    }
    return 0;
}

bool OutputRing::NextRun(const std::uint8_t*& data, std::uint32_t& count) {
    std::lock_guard lock(lock_);
    auto size = static_cast<std::uint32_t>(buffer_.size());
    if (size == 0 || (!full_ && head_ == tail_)) {
        return false;
    }
    if (tail_ < head_) {
        count = head_ - tail_;
    } else if (head_ > 0) {
        std::rotate(buffer_.begin(), buffer_.begin() + tail_, buffer_.end());
        head_ = head_ + size - tail_;
        tail_ = 0;
        count = full_ ? size : head_;
        if (head_ == size) {
            head_ = 0;
        }
    } else {
        count = size - tail_;
    }
    data = &buffer_[tail_];
    return true;
}

std::uint64_t OutputRing::Generation() {
    std::lock_guard lock(lock_);
    return generation_;
}

void OutputRing::Advance(std::uint32_t n, std::uint64_t generation) {
    std::lock_guard lock(lock_);
    auto size = static_cast<std::uint32_t>(buffer_.size());
    if (generation != generation_ || size == 0) {
        return; // the ring was emptied while the bytes were being written
    }
    tail_ += n;
    if (tail_ >= size) {
        tail_ -= size;
    }
    if (tail_ == head_) {
        tail_ = head_ = 0;
    }
    full_ = false;
}

void OutputRing::Clear() {
    std::lock_guard lock(lock_);
    head_ = tail_ = 0;
    full_ = false;
    ++generation_;
}

} // namespace pellwick
