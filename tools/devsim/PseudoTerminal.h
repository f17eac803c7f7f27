// A pseudo-terminal pair in raw 8-bit mode: the simulator plays the device on the master side,
// the program under test opens the slave path like any serial port.
#pragma once

#include <string>

namespace pellwick {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Opens a new pair; false with Error() set on failure. The master is non-blocking.
    bool Open();
    const std::string& SlavePath() const { return slavePath_; }
    const std::string& Error() const { return error_; }

    // Hands the descriptors over (to the server); -1 once taken. The slave stays open on the
    // simulator's side so that the master does not see a hang-up while no peer has it open.
    int ReleaseMaster();
    int ReleaseSlave();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string error_;
};

// Puts a terminal into raw 8-bit mode: no CR/LF mapping, no echo, no signals, no flow control.
// If baud is a standard rate the line speed is set too. False with errno set on failure.
bool MakeRaw(int fd, unsigned baud);

} // namespace pellwick
