// A record of the line: every chunk received ("<") and sent (">") and every event ("*"), one per
// line, stamped with seconds since the simulator started. Bytes outside printable ASCII are
// written as \r, \n, \\ or \xHH, so the file stays one line per entry.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

namespace pellwick {

class Transcript {
public:
    using Clock = std::chrono::steady_clock;

    Transcript() = default;
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // Empty path: the transcript stays closed and writes nothing. False if the file cannot be
    // created. append continues an existing file instead of starting it anew.
    bool Open(const std::string& path, Clock::time_point start, bool append = false);
    bool IsOpen() const { return file_ != nullptr; }

    void Received(std::string_view bytes, Clock::time_point now);
    void Sent(std::string_view bytes, Clock::time_point now);
    void Event(std::string_view text, Clock::time_point now);

    static std::string Escape(std::string_view bytes);

private:
    void Write(char direction, std::string_view text, Clock::time_point now);

    std::FILE* file_ = nullptr;
    Clock::time_point start_{};
};

} // namespace pellwick
