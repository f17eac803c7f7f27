#include "portselect/ProbePort.h"

#include "serial/DispatcherTypes.h"
#include "serial/TVaxoWin32Dispatcher.h"

#include <cerrno>
#include <cstdio>

namespace pellwick {

std::string ComDeviceName(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", n);
    return name;
}

bool ProbePort(int n) {
    if (n <= 0) {
        return false;
    }
    // A dispatcher of its own, without owner: it holds a registry slot only while it lives.
    TVaxoWin32Dispatcher dispatcher(nullptr);
    const int result = dispatcher.DeviceProbe(ComDeviceName(n));
    // dr::DeviceAccessDenied is a port another program holds; EACCES is a port this user may
    // not open (not in the device's group). Both ports are there.
    return result == 0 || result == dr::DeviceAccessDenied || result == -EACCES;
}

} // namespace pellwick
