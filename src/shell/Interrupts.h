// Ctrl-C and SIGTERM, handled one way for every program that runs without a window: the first
// `passedOn` interrupts are passed on through a socket that the program's waits and its event
// loop watch; the next one ends the process in the handler with InterruptedExitStatus, since
// the operator wants out whatever is running. The default actions come back when the channel
// goes. One channel is open at a time.
#pragma once

namespace pellwick {

inline constexpr int InterruptedExitStatus = 130;

class InterruptChannel {
public:
    // program names the process in the message of the last interrupt.
    InterruptChannel(const char* program, int passedOn);
    ~InterruptChannel();
    InterruptChannel(const InterruptChannel&) = delete;
    InterruptChannel& operator=(const InterruptChannel&) = delete;

    // Installs the handlers. False, with errno set, when the socket cannot be made.
    bool Open();
    // Readable once an interrupt has come; Take() reads one of them.
    int Fd() const { return fds_[0]; }
    void Take() const;
    // Interrupts since Open().
    static int Count();

private:
    const char* program_;
    int passedOn_;
    int fds_[2] = {-1, -1};
};

} // namespace pellwick
