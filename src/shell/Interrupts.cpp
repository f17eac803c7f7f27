#include "shell/Interrupts.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace pellwick {

namespace {

// Read by the handler: set before it is installed, and a fixed text so that it only writes.
int gSignalFd = -1;
int gPassedOn = 1;
char gLastWords[128] = {};
std::size_t gLastWordsLength = 0;
volatile std::sig_atomic_t gInterrupts = 0;

void OnSignal(int) {
    gInterrupts = gInterrupts + 1;
    if (gInterrupts > gPassedOn) {
        [[maybe_unused]] auto w = write(STDERR_FILENO, gLastWords, gLastWordsLength);
        _exit(InterruptedExitStatus);
    }
    char c = 1;
    [[maybe_unused]] auto n = write(gSignalFd, &c, 1);
}

} // namespace

InterruptChannel::InterruptChannel(const char* program, int passedOn)
    : program_(program), passedOn_(passedOn) {}

InterruptChannel::~InterruptChannel() {
    if (fds_[0] < 0) {
        return;
    }
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    gSignalFd = -1;
    close(fds_[0]);
    close(fds_[1]);
}

bool InterruptChannel::Open() {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) != 0) {
        fds_[0] = fds_[1] = -1;
        return false;
    }
    const std::string words = "\n" + std::string(program_) + ": interrupted\n";
    gLastWordsLength = std::min(words.size(), sizeof gLastWords);
    std::memcpy(gLastWords, words.data(), gLastWordsLength);
    gPassedOn = passedOn_;
    gSignalFd = fds_[1];
    gInterrupts = 0;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    return true;
}

void InterruptChannel::Take() const {
    char c;
    [[maybe_unused]] auto n = read(fds_[0], &c, 1);
}

int InterruptChannel::Count() {
    return gInterrupts;
}

} // namespace pellwick
