#include "devsim/PseudoTerminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace pellwick {

namespace {

speed_t SpeedFor(unsigned baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    case 1000000:
        return B1000000;
    case 1500000:
        return B1500000;
    case 2000000:
        return B2000000;
    case 3000000:
        return B3000000;
    case 4000000:
        return B4000000;
    default:
        return B0;
    }
}

} // namespace

bool MakeRaw(int fd, unsigned baud) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB | PARENB);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (const speed_t speed = SpeedFor(baud); speed != B0) {
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
    }
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

PseudoTerminal::~PseudoTerminal() {
    if (master_ >= 0) {
        close(master_);
    }
    if (slave_ >= 0) {
        close(slave_);
    }
}

bool PseudoTerminal::Open() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        error_ = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    slavePath_ = name;
    // Raw on the slave: otherwise its line discipline would echo what the device sends and
    // turn CR into LF before the peer has set its own mode.
    if (!MakeRaw(slave_, 0)) {
        error_ = std::string("raw mode: ") + std::strerror(errno);
        return false;
    }
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
}

int PseudoTerminal::ReleaseMaster() {
    return std::exchange(master_, -1);
}

int PseudoTerminal::ReleaseSlave() {
    return std::exchange(slave_, -1);
}

} // namespace pellwick
