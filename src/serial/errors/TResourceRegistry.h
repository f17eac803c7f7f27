// Named blocks of read-only data linked into the program (the string tables), looked up by
// resource name. Further blocks can be registered at run time, for example by tests.
// Thread-safe.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace pellwick {

// One block linked into the program; the build generates the list of string tables.
struct TLinkedResource {
    const char* name;
    const unsigned char* data;
    std::size_t size;
};
extern const TLinkedResource kLinkedStringTables[];
extern const std::size_t kLinkedStringTableCount;

class TResourceRegistry {
public:
    // The bytes of the named resource, or nothing when no resource has that name. Names match
    // exactly. Blocks registered at run time are searched before the linked ones.
    static std::optional<std::span<const unsigned char>> Find(const std::string& name);

    // Adds or replaces a run-time block. The bytes must outlive every reader opened on them.
    static void Register(const std::string& name, std::span<const unsigned char> bytes);
    static void Unregister(const std::string& name);
};

} // namespace pellwick
