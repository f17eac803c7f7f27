#include "serial/LinuxSerialDevice.h"

#include "serial/errors/OpenFailure.h"

#include <algorithm>
#include <asm/ioctls.h>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#ifdef TCGETS2
// The kernel's termios with the rate as a number, which the C library does not declare (its
// own termios has other members). TCGETS2 and TCSETS2 take their size from this name.
struct termios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
static_assert(sizeof(termios2) == 44, "the kernel's termios2 layout");
#endif

namespace pellwick {

namespace {

struct BaudCode {
    std::uint32_t baud;
    speed_t code;
};

constexpr BaudCode kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedCode(std::uint32_t baud, speed_t& code) {
    for (const auto& b : kBauds) {
        if (b.baud == baud) {
            code = b.code;
            return true;
        }
    }
    return false;
}

std::uint32_t BaudOf(speed_t code) {
    for (const auto& b : kBauds) {
        if (b.code == code) {
            return b.baud;
        }
    }
    return 0;
}

// The rate the line runs at as the kernel tells it: a driver that cannot make the rate asked
// for stores the one it made. 0 when unknown.
std::uint32_t ReadRate(int fd) {
#ifdef TCGETS2
    termios2 k{};
    if (ioctl(fd, TCGETS2, &k) == 0) {
        return k.c_ospeed;
    }
#endif
    termios t{};
    return tcgetattr(fd, &t) == 0 ? BaudOf(cfgetospeed(&t)) : 0;
}

// Sets the line to t at rate: through its Bnnn constant where there is one, else as a number
// (termios2 with BOTHER), input at the output's rate. 0 or the errno of the failure.
int ApplyLine(int fd, const termios& t, std::uint32_t rate) {
    speed_t code;
    if (SpeedCode(rate, code)) {
        termios coded = t;
        cfsetispeed(&coded, code);
        cfsetospeed(&coded, code);
        return tcsetattr(fd, TCSANOW, &coded) == 0 ? 0 : errno;
    }
#ifdef TCGETS2
    // The kernel's flag (asm/termbits.h) for "the rate is the number in c_ospeed".
    constexpr tcflag_t kBother = 0010000;
    termios2 k{};
    if (ioctl(fd, TCGETS2, &k) != 0) {
        return errno;
    }
    k.c_iflag = t.c_iflag;
    k.c_oflag = t.c_oflag;
    k.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CBAUD | CIBAUD)) | kBother;
    k.c_lflag = t.c_lflag;
    k.c_line = t.c_line;
    std::copy(t.c_cc, t.c_cc + sizeof k.c_cc, k.c_cc);
    k.c_ispeed = rate;
    k.c_ospeed = rate;
    return ioctl(fd, TCSETS2, &k) == 0 ? 0 : errno;
#else
    return EINVAL;
#endif
}

// A rate the driver made instead of the one asked for still carries 8N1 when both ends are
// within a few per cent of each other; further off the device reads garbage.
bool CloseEnough(std::uint32_t made, std::uint32_t asked) {
    const auto diff = made > asked ? made - asked : asked - made;
    return std::uint64_t{diff} * 100 <= std::uint64_t{asked} * 3;
}

// Pseudo-terminals have no wire: the kernel keeps them at 8 bits without parity and refuses
// other framing. Unix98 slaves have majors 136..143, the multiplexer and old BSD ptys 5 and 2..3.
bool IsPseudoTerminal(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        return false;
    }
    const unsigned m = major(st.st_rdev);
    return (m >= 136 && m <= 143) || (m >= 2 && m <= 3) || (m == 5 && minor(st.st_rdev) == 2);
}

} // namespace

// A pseudo-terminal refused data bits or parity it cannot carry: set the rest, keeping the
// framing it has, so that speed and flow settings still take.
bool LinuxSerialDevice::SetKeepingFraming(termios& wanted, std::uint32_t rate) {
    termios now{};
    if (tcgetattr(fd_, &now) != 0) {
        return false;
    }
    const auto framing = static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR);
    wanted.c_cflag = (wanted.c_cflag & ~framing) | (now.c_cflag & framing);
    return ApplyLine(fd_, wanted, rate) == 0;
}

LinuxSerialDevice::LinuxSerialDevice() = default;

LinuxSerialDevice::~LinuxSerialDevice() {
    Close();
}

namespace {

// The result of the system call that just failed.
DeviceResult Failed() {
    return DeviceResult::FromErrno(errno);
}

// A transfer that failed, or 0 bytes when the device has none now (EAGAIN).
DeviceResult Transferred(ssize_t n, std::size_t& done) {
    if (n >= 0) {
        done = static_cast<std::size_t>(n);
        return {};
    }
    done = 0;
    return errno == EAGAIN ? DeviceResult() : Failed();
}

} // namespace

DeviceResult LinuxSerialDevice::Open(const std::string& path) {
    Close();
    ClearOpenFailure();
    const auto fail = [&](int fd, int err) {
        if (fd >= 0) {
            close(fd);
        }
        const bool busy = err == EBUSY || err == EWOULDBLOCK;
        NoteOpenFailure(DescribeOpenFailure(path, err, busy ? DescribePortHolder(path) : ""));
        return DeviceResult::FromErrno(err);
    };
    path_ = path;
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return fail(-1, errno);
    }
    // flock keeps out other programs (TIOCEXCL alone does not stop root); TIOCEXCL keeps out
    // programs that do not lock; the UUCP lock file keeps out programs that only look there.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return fail(fd, errno);
    }
    if (!isatty(fd)) {
        return fail(fd, ENOTTY);
    }
    pid_t holder = 0;
    if (lockFile_.Acquire(path, holder) != 0) {
        return fail(fd, EBUSY);
    }
    // Only a flag this open sets is cleared again on close: a holder's own stays.
    int exclusive = 0;
    exclusiveSet_ =
        ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive == 0 && ioctl(fd, TIOCEXCL) == 0;

    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        const int err = errno;
        CloseDescriptor(fd);
        return fail(-1, err);
    }
    // The settings the line had, given back on close as other serial programs do.
    saved_ = t;
    savedRate_ = ReadRate(fd);
    // Raw 8-bit line: every byte value passes unchanged both ways; reads return at once.
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP | PARMRK);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        const int err = errno;
        CloseDescriptor(fd);
        return fail(-1, err);
    }
    haveSaved_ = true;
    pseudoTerminal_ = IsPseudoTerminal(fd);
    fd_ = fd;
    std::lock_guard lock(shadowLock_);
    haveShadow_ = false;
    return {};
}

DeviceResult LinuxSerialDevice::Probe(const std::string& path) {
    // Open, test, close: no lock, no exclusive flag, no line settings, so that a line another
    // program uses stays exactly as it is.
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return Failed();
    }
    const bool tty = isatty(fd);
    close(fd);
    return tty ? DeviceResult() : DeviceResult::FromErrno(ENOTTY);
}

void LinuxSerialDevice::CloseDescriptor(int fd) {
    RestoreRs485(fd);
    if (haveSaved_) {
        // A rate without a Bnnn constant goes back as a number, not as whatever the flags say.
        if (savedRate_ == 0 || ApplyLine(fd, saved_, savedRate_) != 0) {
            tcsetattr(fd, TCSANOW, &saved_);
        }
        haveSaved_ = false;
    }
    if (exclusiveSet_) {
        ioctl(fd, TIOCNXCL);
        exclusiveSet_ = false;
    }
    flock(fd, LOCK_UN);
    close(fd);
    lockFile_.Release();
}

void LinuxSerialDevice::Close() {
    if (fd_ >= 0) {
        CloseDescriptor(fd_);
        fd_ = -1;
    }
}

DeviceResult LinuxSerialDevice::GetLine(LineBlock& block) {
    termios t{};
    if (fd_ < 0) {
        return DeviceResult::FromErrno(EBADF);
    }
    if (tcgetattr(fd_, &t) != 0) {
        return Failed();
    }
    std::lock_guard lock(shadowLock_);
    LineBlock b = haveShadow_ ? shadow_ : LineBlock{};
    std::uint32_t baud = ReadRate(fd_);
    if (baud != 0) {
        b.baud = baud;
    }
    switch (t.c_cflag & CSIZE) {
    case CS5:
        b.byteSize = 5;
        break;
    case CS6:
        b.byteSize = 6;
        break;
    case CS7:
        b.byteSize = 7;
        break;
    default:
        b.byteSize = 8;
        break;
    }
    if (!(t.c_cflag & PARENB)) {
        b.parity = 0;
    } else if (t.c_cflag & CMSPAR) {
        b.parity = (t.c_cflag & PARODD) ? 3 : 4;
    } else {
        b.parity = (t.c_cflag & PARODD) ? 1 : 2;
    }
    if (t.c_cflag & CSTOPB) {
        // The kernel has one code for both: 1.5 stop bits with 5 data bits, else 2.
        b.stopBits = b.byteSize == 5 ? One5StopBits : TwoStopBits;
    } else {
        b.stopBits = OneStopBit;
    }
    b.outX = (t.c_iflag & IXON) != 0;
    b.inX = (t.c_iflag & IXOFF) != 0;
    b.xonChar = t.c_cc[VSTART];
    b.xoffChar = t.c_cc[VSTOP];
    bool crtscts = (t.c_cflag & CRTSCTS) != 0;
    if (!haveShadow_) {
        b.outxCtsFlow = crtscts;
        b.rtsControl = crtscts ? LineControl::Handshake : LineControl::Enable;
    }
    block = b;
    return {};
}

DeviceResult LinuxSerialDevice::SetLine(const LineBlock& block) {
    termios t{};
    if (fd_ < 0) {
        return DeviceResult::FromErrno(EBADF);
    }
    if (tcgetattr(fd_, &t) != 0) {
        return Failed();
    }
    // What to give back when the driver does not take the rate.
    const termios before = t;
    const std::uint32_t rateBefore = ReadRate(fd_);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (block.byteSize) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    default:
        t.c_cflag |= CS8;
        break;
    }
    switch (block.parity) {
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    case 3:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (block.stopBits != OneStopBit) {
        t.c_cflag |= CSTOPB;
    }
    // The kernel's RTS/CTS flow covers both directions at once.
    if (block.outxCtsFlow || block.rtsControl == LineControl::Handshake) {
        t.c_cflag |= CRTSCTS;
    }
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (block.outX) {
        t.c_iflag |= IXON;
    }
    if (block.inX) {
        t.c_iflag |= IXOFF;
    }
    t.c_cc[VSTART] = block.xonChar;
    t.c_cc[VSTOP] = block.xoffChar;
    if (const int err = ApplyLine(fd_, t, block.baud); err != 0) {
        if (err != EINVAL || !IsPseudoTerminal(fd_) || !SetKeepingFraming(t, block.baud)) {
            speed_t code;
            const bool rateRefused = err == EINVAL && !SpeedCode(block.baud, code);
            NoteOpenFailure(rateRefused ? DescribeRateRefusal(path_, block.baud, 0)
                                        : DescribeOpenFailure(path_, err));
            return DeviceResult::FromErrno(err);
        }
    }
    // Drivers store the rate they made, which may not be the one asked for (a UART beyond its
    // clock, an adapter that falls back to 9600).
    if (const std::uint32_t made = ReadRate(fd_); made != 0 && !CloseEnough(made, block.baud)) {
        if (rateBefore != 0) {
            ApplyLine(fd_, before, rateBefore);
        }
        NoteOpenFailure(DescribeRateRefusal(path_, block.baud, made));
        return {DeviceError::Unsupported, EINVAL};
    }
    std::lock_guard lock(shadowLock_);
    shadow_ = block;
    haveShadow_ = true;
    return {};
}

DeviceResult LinuxSerialDevice::Read(std::uint8_t* buffer, std::size_t count, std::size_t& done) {
    ssize_t n;
    do {
        n = read(fd_, buffer, count);
    } while (n < 0 && errno == EINTR);
    return Transferred(n, done);
}

DeviceResult LinuxSerialDevice::Write(const std::uint8_t* data, std::size_t count,
                                      std::size_t& done) {
    ssize_t n;
    do {
        n = write(fd_, data, count);
    } while (n < 0 && errno == EINTR);
    return Transferred(n, done);
}

std::uint32_t LinuxSerialDevice::InputQueued() {
    int n = 0;
    if (fd_ < 0 || ioctl(fd_, FIONREAD, &n) != 0 || n < 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(n);
}

long LinuxSerialDevice::OutputQueued() {
    // A pseudo-terminal's output waits in its peer's input, which TIOCOUTQ does not count.
    int n = 0;
    if (fd_ < 0 || pseudoTerminal_ || ioctl(fd_, TIOCOUTQ, &n) != 0 || n < 0) {
        return -1;
    }
    return n;
}

bool LinuxSerialDevice::ModemStatus(std::uint8_t& bits) {
    int m = 0;
    bits = 0;
    if (fd_ < 0 || ioctl(fd_, TIOCMGET, &m) != 0) {
        return false;
    }
    if (m & TIOCM_CTS) {
        bits |= msCtsOn;
    }
    if (m & TIOCM_DSR) {
        bits |= msDsrOn;
    }
    if (m & TIOCM_RI) {
        bits |= msRingOn;
    }
    if (m & TIOCM_CD) {
        bits |= msDcdOn;
    }
    return true;
}

void LinuxSerialDevice::SetModemLine(int bit, bool on) {
    if (fd_ >= 0) {
        ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit);
    }
}

void LinuxSerialDevice::SetDtr(bool on) {
    SetModemLine(TIOCM_DTR, on);
}

void LinuxSerialDevice::SetRts(bool on) {
    SetModemLine(TIOCM_RTS, on);
}

DeviceResult LinuxSerialDevice::SendBreak() {
    if (fd_ < 0) {
        return DeviceResult::FromErrno(EBADF);
    }
    // Duration 0 is Linux's 250 ms break; the call returns when the break has ended.
    int result;
    do {
        result = tcsendbreak(fd_, 0);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? DeviceResult() : Failed();
}

bool LinuxSerialDevice::ErrorCounts(LineErrorCounts& counts) {
    serial_icounter_struct ic{};
    if (fd_ < 0 || ioctl(fd_, TIOCGICOUNT, &ic) != 0) {
        return false;
    }
    counts.overrun = static_cast<std::uint32_t>(ic.overrun);
    counts.parity = static_cast<std::uint32_t>(ic.parity);
    counts.frame = static_cast<std::uint32_t>(ic.frame);
    counts.brk = static_cast<std::uint32_t>(ic.brk);
    counts.bufOverrun = static_cast<std::uint32_t>(ic.buf_overrun);
    return true;
}

DeviceResult LinuxSerialDevice::Purge(bool input, bool output) {
    if (fd_ < 0) {
        return {};
    }
    int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    return tcflush(fd_, which) == 0 ? DeviceResult() : Failed();
}

// The system may have set the kernel's RS-485 mode (a board's half-duplex transceiver): off
// means as found, and only what this open switched goes back.
DeviceResult LinuxSerialDevice::SetRs485(bool on) {
    if (fd_ < 0) {
        return DeviceResult::FromErrno(EBADF);
    }
    if (!on) {
        return RestoreRs485(fd_);
    }
    std::unique_ptr<serial_rs485> found;
    if (!rs485Found_) {
        found = std::make_unique<serial_rs485>();
        if (ioctl(fd_, TIOCGRS485, found.get()) != 0) {
            return Failed();
        }
    }
    serial_rs485 conf{};
    conf.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    if (ioctl(fd_, TIOCSRS485, &conf) != 0) {
        return Failed();
    }
    if (found) {
        rs485Found_ = std::move(found);
    }
    return {};
}

DeviceResult LinuxSerialDevice::RestoreRs485(int fd) {
    if (!rs485Found_) {
        return {};
    }
    const bool restored = ioctl(fd, TIOCSRS485, rs485Found_.get()) == 0;
    rs485Found_.reset();
    return restored ? DeviceResult() : Failed();
}

} // namespace pellwick
