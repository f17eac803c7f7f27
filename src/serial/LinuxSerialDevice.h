// Serial devices on Linux: the only place that knows termios, modem ioctls and the kernel's
// serial structures.
#pragma once

#include "serial/ISerialDevice.h"
#include "serial/PortLock.h"

#include <memory>
#include <mutex>
#include <termios.h>

struct serial_rs485;

namespace pellwick {

class LinuxSerialDevice : public ISerialDevice {
public:
    LinuxSerialDevice();
    ~LinuxSerialDevice() override;

    // Open: besides flock and TIOCEXCL takes the UUCP lock file; notes why an open failed (see
    // OpenFailure.h). Close gives the line the settings it had before (its RS-485 settings too,
    // where SetRs485 switched them) and clears TIOCEXCL only when this open set it. SetRs485
    // on: the driver's RS-485 direction control; off: the kernel's RS-485 settings as this open
    // found them, untouched unless this open switched them.
    PELLWICK_SERIAL_DEVICE_OPERATIONS;
    DeviceResult Probe(const std::string& path) override;
    bool IsOpen() const override { return fd_ >= 0; }
    int Fd() const override { return fd_; }
    long OutputQueued() override;

private:
    DeviceResult RestoreRs485(int fd);
    void SetModemLine(int bit, bool on);
    void CloseDescriptor(int fd);
    bool SetKeepingFraming(termios& wanted, std::uint32_t rate);

    int fd_ = -1;
    bool pseudoTerminal_ = false;
    std::string path_;
    termios saved_{};
    std::uint32_t savedRate_ = 0; // the rate the line had, 0 when the kernel did not tell
    bool haveSaved_ = false;
    bool exclusiveSet_ = false;
    // The kernel's RS-485 settings before SetRs485 switched them; null while untouched.
    std::unique_ptr<serial_rs485> rs485Found_;
    UucpLock lockFile_;
    // Parts of the line block that the kernel keeps nowhere (flow thresholds, DSR flow, the
    // DTR and RTS control modes) are kept here, so that a block read back equals the block set.
    std::mutex shadowLock_;
    LineBlock shadow_;
    bool haveShadow_ = false;
};

} // namespace pellwick
