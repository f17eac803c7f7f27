// A serial port on a device server, behind the same device operations as a tty: rfc2217://
// (telnet with serial port control: line settings, DTR, RTS and break go to the server, the
// modem lines and line errors it reports come back) or tcp:// (the bytes only: settings are
// taken and kept here, but cannot reach the device). Built on libgensio.
//
// Each open device has a thread of its own that alone calls gensio, with a private
// single-threaded event loop (gensio's selector). The dispatcher's workers see a local stream
// socket as the device (Fd()): input arrives there, output room shows there, and a dropped
// connection closes its other end, which poll() reports as a hang-up, as for an unplugged
// adapter. Settings, line changes, output purges and the close reach the thread through a
// queue and an eventfd in its loop, each call returning once the thread has carried it out;
// nothing waits for an acknowledgement of the server.
//
// What this device holds for output cannot be told (the server's buffers are out of sight):
// OutputQueued() is -1. So that what it holds stays bounded, the thread hands bytes to the
// network no faster than the line's rate allows once WindowBytes are ahead of the line.
#pragma once

#include "serial/ISerialDevice.h"

#include <chrono>
#include <memory>
#include <mutex>

namespace pellwick {

class NetworkSerialDevice : public ISerialDevice {
public:
    NetworkSerialDevice() = default;
    ~NetworkSerialDevice() override;
    NetworkSerialDevice(const NetworkSerialDevice&) = delete;
    NetworkSerialDevice& operator=(const NetworkSerialDevice&) = delete;

    // Open connects within the port map's connect timeout (5 s by default); for rfc2217:// the
    // server must also agree to serial port control in that time. It notes why it failed (see
    // OpenFailure.h): an address that does not parse, an unknown host, a refused or timed-out
    // connection, a server that does not speak RFC 2217. ModemStatus and ErrorCounts give what
    // the RFC 2217 server last reported, false for tcp://. SendBreak sends a telnet BREAK (the
    // server holds its line in the break state); tcp:// cannot send one. Purge discards what
    // waits on this side; the server's buffers are left to it.
    PELLWICK_SERIAL_DEVICE_OPERATIONS;
    // A network port is there when its address parses; nothing is connected.
    DeviceResult Probe(const std::string& address) override;
    bool IsOpen() const override { return dataFd_ >= 0; }
    int Fd() const override { return dataFd_; }

    // For tcp://: that the line settings, DTR, RTS and break cannot reach the device; empty for
    // any other address.
    static std::string LineNote(const std::string& address);

    // Output handed to the network ahead of what the line can have carried, at most.
    static constexpr std::size_t WindowBytes = 8 * 1024;
    // How long a setting waits for the server's acknowledgement before the missing one is
    // noted (once for each opening); the port never waits for it.
    static constexpr std::chrono::milliseconds AckWait{1500};

    struct Link; // shared with the device's thread, which may outlive a timed-out open

private:
    std::shared_ptr<Link> link_;
    int dataFd_ = -1;
    bool rfc2217_ = false;
    std::mutex shadowLock_;
    LineBlock shadow_;
};

} // namespace pellwick
