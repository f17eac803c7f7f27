// Set-ups the benchmarks share: the port component on COM1 with the port map sending COM1 to a
// device path (a pseudo-terminal or the simulator's), and the link operations on that port as
// the upload benchmarks drive them.
#pragma once

#include "link/ComPortLink.h"
#include "link/LinkOperations.h"
#include "serial/ProcessHook.h"
#include "serial/TVaxoCustomComPort.h"
#include "serial/portmap/PortMap.h"
#include "support/ScriptedBoxes.h"

#include <cstdint>
#include <memory>
#include <string>

namespace pellwick::bench {

// The port component, opened only on request, with COM1 mapped to path while it lives; it
// neither opens by itself nor asks the operator for a port.
class MappedPort {
public:
    explicit MappedPort(const std::string& path);
    TVaxoComPort& Port() { return port_; }
    // Opens COM1 now.
    void OpenCom1();

private:
    ScopedHook<std::shared_ptr<const PortMap>> portMap_;
    TVaxoComPort port_;
};

// What the link tells its host during a transfer: its normal end or an error.
class EndHost : public ILinkHost {
public:
    void SetScriptError() override { error = true; }
    void SetULError() override { error = true; }
    void EnableScriptTimer() override { ended = true; }
    void SetUploadGauge(int) override {}
    void SetComBtnState(bool) override {}
    bool ended = false;
    bool error = false;
};

// Link operations on COM1 mapped to path; a message box is printed to stderr and answered with
// its first button.
class BenchLink {
public:
    explicit BenchLink(const std::string& path);
    // Opens at baud without modem lines (a pseudo-terminal has none), enters upload mode and
    // sends the upload command; false, with the reason on stderr, unless the device answers OK.
    bool OpenForUpload(std::int32_t baud);
    LinkOperations& Link() { return link_; }
    const EndHost& Host() const { return host_; }

private:
    MappedPort port_;
    ComPortLink portLink_;
    test::ScriptedBoxes boxes_{test::Unscripted::PressFirstButton};
    EndHost host_;
    LinkOperations link_;
};

} // namespace pellwick::bench
