// Writes received bytes to a capture file: raw, byte for byte, or as text with a time stamp
// (ISO 8601, local time with milliseconds and the UTC offset, then a blank) in front of each
// line. A line begins with the first byte after an LF, after a CR that no LF follows, and at
// the start of the capture; its stamp is the time its first byte arrived. A text capture may
// also hold what was sent: then every line says after its stamp whether it was sent ("TX ") or
// received ("RX "), and a change of direction inside a line starts a new one. A raw capture
// holds the received bytes only: it is the device's side of the line, byte for byte. Bytes go to
// the file as each batch arrives, with no buffering of our own, so a failing disk shows at once and
// a crash loses nothing already received. Needs no window; used on one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace pellwick {

struct CaptureOptions {
    bool append = false;      // keep what the file holds and add to its end
    bool includeSent = false; // text captures: sent bytes too, marked apart
};

class CaptureWriter {
public:
    enum class Mode { Raw, TimeStamped };
    using Options = CaptureOptions;
    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    CaptureWriter();
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // Creates the file, or empties it unless appending. False when it cannot be opened;
    // Error() says why.
    bool Open(const std::string& path, Mode mode, Options options = {});
    // Received bytes. False when the file did not take all of them; the file is then closed and
    // Error() says why.
    bool Write(std::span<const std::uint8_t> bytes);
    // Sent bytes: kept only by a text capture that includes them; otherwise true at once.
    bool WriteSent(std::span<const std::uint8_t> bytes);
    bool IncludesSent() const { return options_.includeSent && mode_ == Mode::TimeStamped; }
    // False when the last bytes could not be stored (Error() says why); closed in any case.
    bool Close();

    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }
    Mode CurrentMode() const { return mode_; }
    std::uint64_t BytesCaptured() const { return captured_; }
    // The system's text of the last failure.
    const std::string& Error() const { return error_; }

    // The time source of the stamps (tests fix it).
    void SetClock(WallClock clock) { clock_ = std::move(clock); }
    // "2026-12-09T08:07:08.123+01:00" for that moment in the local time zone.
    static std::string TimeStamp(std::chrono::system_clock::time_point when);

private:
    bool WriteAll(const char* data, std::size_t size);
    bool WriteStamped(std::span<const std::uint8_t> bytes, bool sent);
    void Fail(int err);

    int fd_ = -1;
    std::string path_;
    Mode mode_ = Mode::Raw;
    Options options_;
    bool lastSent_ = false; // the line being written holds sent bytes
    std::string error_;
    std::uint64_t captured_ = 0;
    bool lineStart_ = true; // the next byte begins a line
    bool afterCr_ = false;  // the last byte was a CR
    std::string scratch_;
    WallClock clock_;
};

} // namespace pellwick
