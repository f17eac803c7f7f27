// The process-wide dispatcher registry: port handle -> dispatcher. A notification names its
// dispatcher by port handle; the notification window looks it up under the registry lock and
// keeps the lock while it handles the notification.
#pragma once

#include <mutex>

namespace pellwick {

class TVaxoBaseDispatcher;

std::recursive_mutex& DispatcherRegistryLock();
// Takes the first empty slot (or appends); returns the slot's index.
int RegisterDispatcher(TVaxoBaseDispatcher* dispatcher);
// Empties the slot and drops trailing empty slots.
void UnregisterDispatcher(int handle);
// The dispatcher in a slot, or none. Hold DispatcherRegistryLock while using the result.
TVaxoBaseDispatcher* FindDispatcher(int handle);

} // namespace pellwick
