// The rate a tty runs at as the kernel keeps it (TCGETS2), read on either side of a
// pseudo-terminal: a master reads its slave's. Kept apart from <termios.h>, whose termios
// differs from the kernel's.
#pragma once

#include <cstdint>

namespace pellwick::test {

// 0 when the kernel does not tell.
std::uint32_t KernelLineRate(int fd);
// Sets the rate as a number (BOTHER), as another program may have left the line.
bool SetKernelLineRate(int fd, std::uint32_t rate);

} // namespace pellwick::test
