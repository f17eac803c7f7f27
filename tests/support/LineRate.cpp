#include "support/LineRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace pellwick::test {

std::uint32_t KernelLineRate(int fd) {
    termios2 t{};
    return ioctl(fd, TCGETS2, &t) == 0 ? t.c_ospeed : 0;
}

bool SetKernelLineRate(int fd, std::uint32_t rate) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) {
        return false;
    }
    t.c_cflag = (t.c_cflag & ~(CBAUD | CIBAUD)) | BOTHER;
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    return ioctl(fd, TCSETS2, &t) == 0;
}

} // namespace pellwick::test
