#include "serial/DeviceNotice.h"

#include <cstdio>

namespace pellwick {

ProcessHook<DeviceNoticeReceiver>& DeviceNoticeHook() {
    static ProcessHook<DeviceNoticeReceiver> hook;
    return hook;
}

void TellDeviceNotice(const std::string& text) {
    if (const DeviceNoticeReceiver receiver = DeviceNoticeHook().Get()) {
        receiver(text);
        return;
    }
    std::fprintf(stderr, "pellwick: %s\n", text.c_str());
}

} // namespace pellwick
