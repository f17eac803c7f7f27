// Debian's ser2net for end-to-end tests: serves pseudo-terminals (the simulator's lines) on
// 127.0.0.1, each on a port of its own, either with RFC 2217 (telnet with serial port control) or
// as raw TCP. Runs in the foreground with its debug output (-d) going to a file that Trace()
// reads; stopped (SIGKILL) when the object goes.
#pragma once

#include "support/TempFolder.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace pellwick {

class Ser2netServer {
public:
    enum class Protocol { Rfc2217, Telnet, RawTcp };

    Ser2netServer() = default;
    ~Ser2netServer();
    Ser2netServer(const Ser2netServer&) = delete;
    Ser2netServer& operator=(const Ser2netServer&) = delete;

    // Whether /usr/sbin/ser2net (or ser2net on the PATH) is there.
    static bool Available();
    // A TCP port on 127.0.0.1 that nothing listens on now.
    static int FreePort();

    // Serves each device on a port of its own (ports: the same ports again after a Kill, or
    // none for free ones), with the line set to `line` (ser2net's "9600n81"), one client at a
    // time; waits until every port accepts connections. False, with Error(), otherwise.
    bool Start(const std::vector<std::string>& devices, Protocol protocol,
               const std::string& line = "9600n81", const std::vector<int>& ports = {});
    // Ends ser2net with SIGKILL, at once, as a server that crashes or loses power.
    void Kill();
    // From the next Start on, ser2net runs under strace, which writes the ioctl calls it makes
    // on its lines to a file that Calls() reads. False when strace is not installed.
    bool TraceCalls();

    int Port(std::size_t i = 0) const { return ports_.at(i); }
    const std::vector<int>& Ports() const { return ports_; }
    // rfc2217://127.0.0.1:PORT or tcp://127.0.0.1:PORT as the protocol asks.
    std::string Address(std::size_t i = 0) const;
    // What ser2net printed so far.
    std::string Trace() const;
    // The ioctl calls ser2net made so far (after TraceCalls), one a line as strace prints them.
    std::string Calls() const;
    const std::string& Error() const { return error_; }

private:
    bool StartOnce(const std::vector<std::string>& devices, Protocol protocol,
                   const std::string& line, const std::vector<int>& ports);
    TempFolder folder_;
    std::vector<int> ports_;
    Protocol protocol_ = Protocol::Rfc2217;
    pid_t pid_ = -1;
    std::string strace_;
    std::string error_;
};

} // namespace pellwick
