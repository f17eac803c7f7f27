// The operations the dispatcher needs of one serial device. LinuxSerialDevice provides them
// for tty devices; tests put doubles behind the same interface (for example to play modem
// lines that pseudo-terminals do not have). Failures are DeviceResults; the dispatcher alone
// turns them into the engine's numbers.
#pragma once

#include "serial/DeviceResult.h"
#include "serial/DispatcherTypes.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

namespace pellwick {

struct LineErrorCounts {
    std::uint32_t overrun = 0;
    std::uint32_t parity = 0;
    std::uint32_t frame = 0;
    std::uint32_t brk = 0;
    std::uint32_t bufOverrun = 0;
};

class ISerialDevice {
public:
    virtual ~ISerialDevice() = default;

    // Opens the device at path for exclusive, non-blocking use as a raw 8-bit line. Busy: held
    // by another program.
    virtual DeviceResult Open(const std::string& path) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Whether the device at path is there, with the results of Open, leaving it as it was.
    // Doubles without a device of their own open and close.
    virtual DeviceResult Probe(const std::string& path) {
        const DeviceResult result = Open(path);
        if (result.Ok()) {
            Close();
        }
        return result;
    }
    // A descriptor that poll() reports readable on input, writable on output room, and with
    // POLLHUP/POLLERR when the device is gone.
    virtual int Fd() const = 0;

    virtual DeviceResult GetLine(LineBlock& block) = 0;
    // Any rate goes, also one without a Bnnn constant; a rate the driver does not make (it
    // stores another one) fails as Unsupported and leaves the line as it was.
    virtual DeviceResult SetLine(const LineBlock& block) = 0;
    // Reads what is there without waiting into buffer; done: the bytes read, 0 when nothing
    // waits.
    virtual DeviceResult Read(std::uint8_t* buffer, std::size_t count, std::size_t& done) = 0;
    // Writes without waiting; done: the bytes written, 0 when the device takes nothing now.
    virtual DeviceResult Write(const std::uint8_t* data, std::size_t count, std::size_t& done) = 0;
    // Bytes waiting in the driver's input queue.
    virtual std::uint32_t InputQueued() = 0;
    // Bytes the driver holds for output that have not gone out on the line yet, or -1 where
    // the driver does not tell (a pseudo-terminal reads 0 whatever its peer has not taken).
    virtual long OutputQueued() { return -1; }
    // The four modem signal states as msCtsOn | msDsrOn | msRingOn | msDcdOn. False when the
    // device has no modem lines (pseudo-terminals); the signals then read as off.
    virtual bool ModemStatus(std::uint8_t& bits) = 0;
    virtual void SetDtr(bool on) = 0;
    virtual void SetRts(bool on) = 0;
    // Holds the line in the break state for 250 ms once the driver's output has gone out.
    // Devices that cannot send a break say so.
    virtual DeviceResult SendBreak() { return {DeviceError::Unsupported, ENOTTY}; }
    // Running totals of line errors; false when the device does not count them.
    virtual bool ErrorCounts(LineErrorCounts& counts) = 0;
    // Discards driver input and/or output.
    virtual DeviceResult Purge(bool input, bool output) = 0;
    // RS485 direction control by the driver; a failure when the driver does not offer it.
    virtual DeviceResult SetRs485(bool on) = 0;
};

// The operations above that every device implements, declared as a device class declares
// them: one list for the tty, the network and the test devices, so that they cannot drift from
// the interface. IsOpen and Fd are left to each class (they are one line on its own field), as
// are the operations with a default that not every device replaces (Probe, OutputQueued).
#define PELLWICK_SERIAL_DEVICE_OPERATIONS                                                          \
    DeviceResult Open(const std::string& path) override;                                           \
    void Close() override;                                                                         \
    DeviceResult GetLine(LineBlock& block) override;                                               \
    DeviceResult SetLine(const LineBlock& block) override;                                         \
    DeviceResult Read(std::uint8_t* buffer, std::size_t count, std::size_t& done) override;        \
    DeviceResult Write(const std::uint8_t* data, std::size_t count, std::size_t& done) override;   \
    std::uint32_t InputQueued() override;                                                          \
    bool ModemStatus(std::uint8_t& bits) override;                                                 \
    void SetDtr(bool on) override;                                                                 \
    void SetRts(bool on) override;                                                                 \
    DeviceResult SendBreak() override;                                                             \
    bool ErrorCounts(LineErrorCounts& counts) override;                                            \
    DeviceResult Purge(bool input, bool output) override;                                          \
    DeviceResult SetRs485(bool on) override

} // namespace pellwick
