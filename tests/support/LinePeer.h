// One end of a serial line in tests: the program's end opened by its path (a pseudo-terminal
// slave) in raw 8-bit mode, or the device's end of a PtyPair. Writes and reads with deadlines,
// never with fixed sleeps.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace pellwick {

class LinePeer {
public:
    using Clock = std::chrono::steady_clock;

    LinePeer() = default;
    ~LinePeer();
    LinePeer(const LinePeer&) = delete;
    LinePeer& operator=(const LinePeer&) = delete;

    bool Open(const std::string& path);
    // Takes over an open descriptor (closed with the peer).
    void Adopt(int fd);
    void Close();
    int Fd() const { return fd_; }

    // Writes everything, waiting for room up to the deadline; false on failure or time-out.
    bool Write(std::string_view bytes,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Reads until `ending` has arrived (and returns everything read up to and including it) or
    // the time is up (and returns what arrived). Bytes after `ending` stay for the next read.
    std::string ReadUntil(std::string_view ending,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Reads until `count` bytes have arrived or the time is up; more stay for the next read.
    std::string ReadCount(std::size_t count,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Everything that arrives within the given time.
    std::string ReadFor(std::chrono::milliseconds duration);
    // True when the line reports a hang-up (or an error) within the time.
    bool WaitHangup(std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    // Waits for input until the deadline and keeps it; false once the line has hung up.
    bool Fill(Clock::time_point deadline);

    int fd_ = -1;
    std::string pending_;
};

} // namespace pellwick
