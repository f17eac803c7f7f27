#include "serial/portmap/UartHardware.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace pellwick {

namespace {

enum class SysfsAnswer { Present, Absent, Unknown };

SysfsAnswer AskSysfs(const std::string& devicePath, const std::string& sysClassTty) {
    const std::size_t slash = devicePath.rfind('/');
    const std::string name = slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
    std::ifstream type(sysClassTty + "/" + name + "/type");
    int value = 0;
    if (!(type >> value))
        return SysfsAnswer::Unknown;
    return value != PORT_UNKNOWN ? SysfsAnswer::Present : SysfsAnswer::Absent;
}

} // namespace

bool UartHasHardware(const std::string& devicePath, const std::string& sysClassTty) {
    switch (AskSysfs(devicePath, sysClassTty)) {
    case SysfsAnswer::Present:
        return true;
    case SysfsAnswer::Absent:
        return false;
    case SysfsAnswer::Unknown:
        break;
    }
    int fd;
    do {
        fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    struct serial_struct info {};
    const bool known = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return known;
}

} // namespace pellwick
