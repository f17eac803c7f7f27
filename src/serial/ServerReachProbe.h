// Waits for the server of a network port (rfc2217://, tcp://) to accept connections, without a
// busy loop: a thread of its own tries a TCP connection, each try bounded by the connect time-out,
// and sleeps between tries on a pause that doubles from FirstPause to MaxPause, so a server
// that refuses costs no CPU. A connection that is accepted is closed at once and ends the
// tries; Fd() is then readable. Standard C++ and POSIX.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace pellwick {

class ServerReachProbe {
public:
    static constexpr std::chrono::milliseconds FirstPause{100};
    static constexpr std::chrono::milliseconds MaxPause{2000};

    ServerReachProbe() = default;
    ~ServerReachProbe();
    ServerReachProbe(const ServerReachProbe&) = delete;
    ServerReachProbe& operator=(const ServerReachProbe&) = delete;

    // Starts the tries; false, with the reason in error, when the address does not parse or
    // the thread cannot be made.
    bool Start(const std::string& address, std::chrono::milliseconds connectTimeout,
               std::string& error);
    // Ends the tries; returns once the thread has let go (at most one try's time-out).
    void Stop();
    // Readable once a try succeeded.
    int Fd() const;
    // A try has succeeded.
    bool Reached() const;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

} // namespace pellwick
