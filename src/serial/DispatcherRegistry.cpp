#include "serial/DispatcherRegistry.h"

#include <vector>

namespace pellwick {

namespace {
std::vector<TVaxoBaseDispatcher*>& Slots() {
    static std::vector<TVaxoBaseDispatcher*> slots;
    return slots;
}
} // namespace

std::recursive_mutex& DispatcherRegistryLock() {
    static std::recursive_mutex lock;
    return lock;
}

int RegisterDispatcher(TVaxoBaseDispatcher* dispatcher) {
    std::lock_guard lock(DispatcherRegistryLock());
    auto& slots = Slots();
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (slots[i] == nullptr) {
            slots[i] = dispatcher;
            return static_cast<int>(i);
        }
    }
    slots.push_back(dispatcher);
    return static_cast<int>(slots.size() - 1);
}

void UnregisterDispatcher(int handle) {
    std::lock_guard lock(DispatcherRegistryLock());
    auto& slots = Slots();
    if (handle < 0 || static_cast<std::size_t>(handle) >= slots.size()) {
        return;
    }
    slots[static_cast<std::size_t>(handle)] = nullptr;
    while (!slots.empty() && slots.back() == nullptr) {
        slots.pop_back();
    }
}

TVaxoBaseDispatcher* FindDispatcher(int handle) {
    std::lock_guard lock(DispatcherRegistryLock());
    auto& slots = Slots();
    if (handle < 0 || static_cast<std::size_t>(handle) >= slots.size()) {
        return nullptr;
    }
    return slots[static_cast<std::size_t>(handle)];
}

} // namespace pellwick
