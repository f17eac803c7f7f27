// A process-wide hook: something the program installs once (a routine, a shared object, a
// setting) and any thread reads. A reader gets a copy, so that a routine runs without the
// hook's lock and may set the hook itself. A test swaps in its own value for a scope with
// ScopedHook, which gives the hook back what it held before.
#pragma once

#include <mutex>
#include <type_traits>
#include <utility>

namespace pellwick {

template <class T> class ProcessHook {
public:
    explicit ProcessHook(T initial = T{}) : value_(std::move(initial)) {}
    ProcessHook(const ProcessHook&) = delete;
    ProcessHook& operator=(const ProcessHook&) = delete;

    void Set(T value) { Exchange(std::move(value)); }
    T Get() const {
        std::lock_guard lock(lock_);
        return value_;
    }
    // Sets value and returns what the hook held.
    T Exchange(T value) {
        std::lock_guard lock(lock_);
        return std::exchange(value_, std::move(value));
    }

private:
    mutable std::mutex lock_;
    T value_;
};

template <class T> class [[nodiscard]] ScopedHook {
public:
    ScopedHook(ProcessHook<T>& hook, std::type_identity_t<T> value)
        : hook_(hook), previous_(hook.Exchange(std::move(value))) {}
    ~ScopedHook() { hook_.Set(std::move(previous_)); }
    ScopedHook(const ScopedHook&) = delete;
    ScopedHook& operator=(const ScopedHook&) = delete;

private:
    ProcessHook<T>& hook_;
    T previous_;
};

} // namespace pellwick
