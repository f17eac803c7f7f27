// A pseudo-terminal pair for tests and benchmarks: the program (or the engine) opens the slave
// path like any serial port; the test plays the device on the master side, in raw 8-bit mode.
// The pair keeps the slave open itself, so that the master sees no hang-up before the program
// has opened the path or after it has closed it.
#pragma once

#include "support/LinePeer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pellwick::test {

class PtyPair {
public:
    // Throws std::runtime_error when the system gives no pseudo-terminal.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    // The descriptors, for a test that reads or writes them itself; the master is non-blocking.
    int Master() const { return master_.Fd(); }
    int Slave() const { return slave_; }

    // Writes everything to the master; throws std::runtime_error when the line has not taken it
    // within the tests' wait.
    void Write(std::string_view bytes);
    void Write(const std::vector<std::uint8_t>& bytes);
    // Reads until count bytes arrived or the time is up; more stay for the next read.
    std::vector<std::uint8_t> Read(std::size_t count, int timeoutMs = 5000);
    // Everything that arrives within the time.
    std::vector<std::uint8_t> ReadFor(int ms);
    // The device hangs up: the master closes.
    void CloseMaster();

private:
    LinePeer master_;
    int slave_ = -1;
    std::string slavePath_;
};

} // namespace pellwick::test
