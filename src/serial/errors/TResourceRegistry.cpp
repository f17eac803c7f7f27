#include "serial/errors/TResourceRegistry.h"

#include <map>
#include <mutex>

namespace pellwick {

namespace {

struct RuntimeBlocks {
    std::mutex lock;
    std::map<std::string, std::span<const unsigned char>> blocks;
};

RuntimeBlocks& Runtime() {
    static RuntimeBlocks runtime;
    return runtime;
}

} // namespace

std::optional<std::span<const unsigned char>> TResourceRegistry::Find(const std::string& name) {
    {
        auto& runtime = Runtime();
        std::lock_guard<std::mutex> guard(runtime.lock);
        auto it = runtime.blocks.find(name);
        if (it != runtime.blocks.end()) {
            return it->second;
        }
    }
    for (std::size_t i = 0; i < kLinkedStringTableCount; ++i) {
        const TLinkedResource& linked = kLinkedStringTables[i];
        if (name == linked.name) {
            return std::span<const unsigned char>(linked.data, linked.size);
        }
    }
    return std::nullopt;
}

void TResourceRegistry::Register(const std::string& name, std::span<const unsigned char> bytes) {
    auto& runtime = Runtime();
    std::lock_guard<std::mutex> guard(runtime.lock);
    runtime.blocks[name] = bytes;
}

void TResourceRegistry::Unregister(const std::string& name) {
    auto& runtime = Runtime();
    std::lock_guard<std::mutex> guard(runtime.lock);
    runtime.blocks.erase(name);
}

} // namespace pellwick
