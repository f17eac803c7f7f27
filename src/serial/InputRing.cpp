#include "serial/InputRing.h"

#include "serial/DispatcherTypes.h"

#include <algorithm>
#include <cstring>

namespace pellwick {

namespace {

std::uint32_t Wrap(std::uint32_t index) {
    return index % InputRingSize;
}

} // namespace

void InputRing::Allocate() {
    std::lock_guard lock(lock_);
    buffer_.assign(InputRingSize, 0);
    stage_.assign(InputRingSize, 0);
    staged_ = 0;
    head_ = tail_ = 0;
    full_ = false;
    moreInputPending_ = false;
    inDelivery_ = deliveryReadsInput_ = directTakes_ = false;
    readAhead_ = largestReadAhead_ = 0;
    scanPos_ = 0;
    unscanned_ = 0;
}

void InputRing::Release() {
    std::lock_guard lock(lock_);
    buffer_.clear();
    buffer_.shrink_to_fit();
    stage_.clear();
    stage_.shrink_to_fit();
    staged_ = 0;
    head_ = tail_ = 0;
    full_ = false;
    readAhead_ = largestReadAhead_ = 0;
}

bool InputRing::Allocated() {
    std::lock_guard lock(lock_);
    return !buffer_.empty();
}

std::uint32_t InputRing::UsedLocked() const {
    if (full_) {
        return InputRingSize;
    }
    return head_ >= tail_ ? head_ - tail_ : head_ + InputRingSize - tail_;
}

std::uint32_t InputRing::AvailableLocked() const {
    const std::uint32_t used = UsedLocked();
    const std::uint32_t ahead = inDelivery_ ? readAhead_ : 0;
    return used > ahead ? used - ahead : 0;
}

std::uint32_t InputRing::TakeStartLocked() const {
    return inDelivery_ ? Wrap(tail_ + readAhead_) : tail_;
}

std::uint32_t InputRing::Used() {
    std::lock_guard lock(lock_);
    return UsedLocked();
}

std::uint32_t InputRing::Available() {
    std::lock_guard lock(lock_);
    return AvailableLocked();
}

bool InputRing::Full() {
    std::lock_guard lock(lock_);
    return full_;
}

bool InputRing::MoreInputPending() {
    std::lock_guard lock(lock_);
    return moreInputPending_ || staged_ > 0;
}

bool InputRing::HasStagedInput() {
    std::lock_guard lock(lock_);
    return staged_ > 0;
}

int InputRing::Take(void* buffer, std::uint32_t count) {
    std::lock_guard lock(lock_);
    if (buffer_.empty() || AvailableLocked() < count) {
        return ecBufferIsEmpty;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    const std::uint32_t start = TakeStartLocked();
    const std::uint32_t first = std::min(count, InputRingSize - start);
    std::memcpy(out, &buffer_[start], first);
    std::memcpy(out + first, buffer_.data(), count - first);
    if (inDelivery_) {
        readAhead_ += count;
    } else {
        tail_ = Wrap(tail_ + count);
        full_ = false;
    }
    return static_cast<int>(count);
}

int InputRing::Peek(std::uint32_t n, std::uint8_t& byte) {
    std::lock_guard lock(lock_);
    if (n == 0 || buffer_.empty() || AvailableLocked() < n) {
        return ecBufferIsEmpty;
    }
    byte = buffer_[Wrap(TakeStartLocked() + n - 1)];
    return 0;
}

void InputRing::Discard(bool handlerRunning) {
    std::lock_guard lock(lock_);
    if (inDelivery_ && handlerRunning) {
        largestReadAhead_ = UsedLocked();
    } else {
        tail_ = head_;
        readAhead_ = 0;
        largestReadAhead_ = 0; // the end of the delivery then moves nothing
    }
    full_ = false;
    staged_ = 0;
    ++discards_;
}

void InputRing::CommitLocked(std::uint32_t got) {
    head_ = Wrap(head_ + got);
    full_ = head_ == tail_;
    // When more arrived than the ring holds (possible only while scanning is suppressed and the
    // input is taken meanwhile), the oldest unscanned bytes are gone and scanning resumes at the
    // oldest byte still there.
    unscanned_ += got;
    if (unscanned_ > InputRingSize) {
        unscanned_ = InputRingSize;
        scanPos_ = head_;
    }
}

std::uint32_t InputRing::ReadLocked(const std::function<long(std::uint8_t*, std::uint32_t)>& read,
                                    std::uint32_t count) {
    const long n = read(&buffer_[head_], count);
    if (n <= 0) {
        return 0;
    }
    CommitLocked(static_cast<std::uint32_t>(n));
    return static_cast<std::uint32_t>(n);
}

// The room at `to` is free and only the worker that fills the ring writes there, so the read
// itself runs without the lock: the program takes and peeks meanwhile instead of waiting for
// a system call. `kept` is false when a discard happened meanwhile: what the read got goes
// with the rest.
long InputRing::ReadUnlocked(std::unique_lock<std::mutex>& lock,
                             const std::function<long(std::uint8_t*, std::uint32_t)>& read,
                             std::uint8_t* to, std::uint32_t count, bool& kept) {
    const std::uint64_t discards = discards_;
    lock.unlock();
    const long n = read(to, count);
    lock.lock();
    kept = discards == discards_;
    return n;
}

std::uint32_t InputRing::ReadIntoRing(std::unique_lock<std::mutex>& lock,
                                      const std::function<long(std::uint8_t*, std::uint32_t)>& read,
                                      std::uint32_t count) {
    bool kept = false;
    const long n = ReadUnlocked(lock, read, &buffer_[head_], count, kept);
    if (n <= 0 || !kept) {
        return 0;
    }
    CommitLocked(static_cast<std::uint32_t>(n));
    return static_cast<std::uint32_t>(n);
}

bool InputRing::Stage(const std::function<long(std::uint8_t*, std::uint32_t)>& read) {
    std::unique_lock lock(lock_);
    const auto room = static_cast<std::uint32_t>(stage_.size()) - staged_;
    if (room == 0) {
        return false;
    }
    // As for the ring: the free part of the staging buffer is this worker's alone.
    const std::uint32_t at = staged_;
    bool kept = false;
    const long n = ReadUnlocked(lock, read, &stage_[at], room, kept);
    if (n <= 0) {
        return false;
    }
    if (kept) {
        staged_ = at + static_cast<std::uint32_t>(n);
    }
    return true;
}

// The free room (total) and the part of it that runs on from the head without wrapping.
std::uint32_t InputRing::FreeRunLocked(std::uint32_t& total) const {
    if (full_) {
        total = 0;
        return 0;
    }
    if (head_ == tail_) {
        total = InputRingSize;
        return InputRingSize - head_;
    }
    if (tail_ > head_) {
        total = tail_ - head_;
        return total;
    }
    total = tail_ + InputRingSize - head_;
    return InputRingSize - head_;
}

std::uint32_t InputRing::MoveStagedLocked() {
    std::uint32_t moved = 0;
    auto fromStage = [&](std::uint8_t* to, std::uint32_t count) -> long {
        const std::uint32_t n = std::min(count, staged_ - moved);
        std::memcpy(to, &stage_[moved], n);
        moved += n;
        return static_cast<long>(n);
    };
    std::uint32_t total = 0;
    while (moved < staged_ && FreeRunLocked(total) > 0) {
        ReadLocked(fromStage, FreeRunLocked(total));
    }
    if (moved > 0) {
        std::memmove(stage_.data(), &stage_[moved], staged_ - moved);
        staged_ -= moved;
    }
    return moved;
}

std::uint32_t InputRing::Fill(const std::function<std::uint32_t()>& queued,
                              const std::function<long(std::uint8_t*, std::uint32_t)>& read) {
    // Only this worker reads the driver: what it holds now is there when the read comes.
    const std::uint32_t waiting = queued();
    std::unique_lock lock(lock_);
    if (buffer_.empty()) {
        return 0;
    }
    // Staged bytes came from the driver before anything still in it: they go first.
    const std::uint32_t moved = MoveStagedLocked();
    if (full_) {
        if (!moreInputPending_) {
            moreInputPending_ = staged_ > 0 || waiting > 0;
        }
        return moved;
    }
    if (waiting == 0) {
        moreInputPending_ = false;
        return moved;
    }
    std::uint32_t e = 0;
    const std::uint32_t d = FreeRunLocked(e);
    moreInputPending_ = e < waiting;
    e = std::min(e, waiting);
    // A contiguous read may ask for more than the driver reported; it returns what is there.
    const std::uint32_t got = ReadIntoRing(lock, read, d);
    if (got == d && e > d && !full_) {
        ReadIntoRing(lock, read, e - d);
    }
    return moved + waiting;
}

std::uint32_t InputRing::Scan(
    const std::function<std::uint32_t(const std::uint8_t*, std::uint32_t, bool& matched)>& feed,
    bool& matched, std::uint32_t& scanned) {
    std::lock_guard lock(lock_);
    matched = false;
    scanned = 0;
    if (buffer_.empty()) {
        return scanPos_;
    }
    while (unscanned_ > 0) {
        const std::uint32_t run = std::min(unscanned_, InputRingSize - scanPos_);
        const std::uint32_t took = std::min(run, feed(&buffer_[scanPos_], run, matched));
        unscanned_ -= took;
        scanned += took;
        if (matched && took > 0) {
            const std::uint32_t at = Wrap(scanPos_ + took - 1);
            scanPos_ = Wrap(at + 1);
            return at;
        }
        scanPos_ = Wrap(scanPos_ + took);
        if (took < run) {
            break;
        }
    }
    matched = false;
    return scanPos_;
}

std::uint32_t InputRing::CountThrough(std::uint32_t p) {
    std::lock_guard lock(lock_);
    const std::uint32_t fromTail = Wrap(p + InputRingSize - tail_);
    return fromTail < UsedLocked() ? fromTail + 1 : 0;
}

void InputRing::BeginDelivery(bool readsInput) {
    std::lock_guard lock(lock_);
    largestReadAhead_ = 0;
    deliveryReadsInput_ = readsInput;
    inDelivery_ = readsInput && !directTakes_;
}

void InputRing::BeginHandler() {
    std::lock_guard lock(lock_);
    readAhead_ = 0;
}

void InputRing::EndHandler() {
    std::lock_guard lock(lock_);
    largestReadAhead_ = std::max(largestReadAhead_, readAhead_);
}

std::uint32_t InputRing::EndDelivery() {
    std::lock_guard lock(lock_);
    std::uint32_t taken = 0;
    if (inDelivery_) {
        inDelivery_ = false;
        taken = largestReadAhead_;
        if (taken > 0 && !buffer_.empty()) {
            tail_ = Wrap(tail_ + taken);
            full_ = false;
        }
    }
    deliveryReadsInput_ = false;
    readAhead_ = 0;
    return taken;
}

void InputRing::SetDirectTakes(bool on) {
    std::lock_guard lock(lock_);
    if (on == directTakes_) {
        return;
    }
    directTakes_ = on;
    if (on && inDelivery_) {
        // The running handler's reads and those of the handlers before it: what the delivery
        // would remove at its end.
        const std::uint32_t taken = std::max(largestReadAhead_, readAhead_);
        if (taken > 0 && !buffer_.empty()) {
            tail_ = Wrap(tail_ + taken);
            full_ = false;
        }
    }
    inDelivery_ = !on && deliveryReadsInput_;
    readAhead_ = largestReadAhead_ = 0;
}

} // namespace pellwick
