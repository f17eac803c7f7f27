#include "support/PtyPair.h"

#include "devsim/PseudoTerminal.h"
#include "support/WaitUntil.h"

#include <chrono>
#include <stdexcept>
#include <unistd.h>

namespace pellwick::test {

namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

} // namespace

// The simulator's own pair: the same raw set-up as the device the tests otherwise talk to.
PtyPair::PtyPair() {
    PseudoTerminal pty;
    if (!pty.Open()) {
        throw std::runtime_error("no pseudo-terminal: " + pty.Error());
    }
    slavePath_ = pty.SlavePath();
    master_.Adopt(pty.ReleaseMaster());
    slave_ = pty.ReleaseSlave();
}

PtyPair::~PtyPair() {
    CloseMaster();
    if (slave_ >= 0) {
        close(slave_);
    }
}

void PtyPair::Write(std::string_view bytes) {
    if (!master_.Write(bytes, std::chrono::milliseconds(kWaitMs))) {
        throw std::runtime_error("the pseudo-terminal did not take " +
                                 std::to_string(bytes.size()) + " bytes in time");
    }
}

void PtyPair::Write(const std::vector<std::uint8_t>& bytes) {
    Write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::vector<std::uint8_t> PtyPair::Read(std::size_t count, int timeoutMs) {
    return Bytes(master_.ReadCount(count, std::chrono::milliseconds(timeoutMs)));
}

std::vector<std::uint8_t> PtyPair::ReadFor(int ms) {
    return Bytes(master_.ReadFor(std::chrono::milliseconds(ms)));
}

void PtyPair::CloseMaster() {
    master_.Close();
}

} // namespace pellwick::test
