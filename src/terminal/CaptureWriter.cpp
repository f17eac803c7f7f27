#include "terminal/CaptureWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace pellwick {

CaptureWriter::CaptureWriter() : clock_([] { return std::chrono::system_clock::now(); }) {}

CaptureWriter::~CaptureWriter() {
    Close();
}

namespace {

const char* Find(const char* from, const char* end, char c) {
    const void* at = std::memchr(from, c, static_cast<std::size_t>(end - from));
    return at ? static_cast<const char*>(at) : end;
}

} // namespace

std::string CaptureWriter::TimeStamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto sinceEpoch = when.time_since_epoch();
    auto secs = duration_cast<seconds>(sinceEpoch);
    auto millis = duration_cast<milliseconds>(sinceEpoch - secs).count();
    if (millis < 0) { // before 1970: the milliseconds count up from the second below
        secs -= seconds(1);
        millis += 1000;
    }
    const std::time_t t = static_cast<std::time_t>(secs.count());
    std::tm local{};
    localtime_r(&t, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff / 60; // minutes east of UTC
    const long absOffset = offset < 0 ? -offset : offset;
    char out[64];
    std::snprintf(out, sizeof out, "%s.%03d%c%02ld:%02ld", date, static_cast<int>(millis),
                  offset < 0 ? '-' : '+', absOffset / 60, absOffset % 60);
    return out;
}

bool CaptureWriter::Open(const std::string& path, Mode mode, Options options) {
    Close();
    error_.clear();
    const int fd = ::open(
        path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (options.append ? O_APPEND : O_TRUNC), 0666);
    if (fd < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    fd_ = fd;
    path_ = path;
    mode_ = mode;
    options_ = options;
    lastSent_ = false;
    captured_ = 0;
    lineStart_ = true;
    afterCr_ = false;
    return true;
}

void CaptureWriter::Fail(int err) {
    error_ = std::strerror(err);
    ::close(fd_);
    fd_ = -1;
}

bool CaptureWriter::WriteAll(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail(errno);
            return false;
        }
        if (n == 0) {
            Fail(ENOSPC);
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool CaptureWriter::Write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) {
        return false;
    }
    if (bytes.empty()) {
        return true;
    }
    if (mode_ == Mode::Raw) {
        if (!WriteAll(reinterpret_cast<const char*>(bytes.data()), bytes.size())) {
            return false;
        }
        captured_ += bytes.size();
        return true;
    }
    return WriteStamped(bytes, false);
}

bool CaptureWriter::WriteSent(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) {
        return false;
    }
    return !IncludesSent() || bytes.empty() || WriteStamped(bytes, true);
}

bool CaptureWriter::WriteStamped(std::span<const std::uint8_t> bytes, bool sent) {
    scratch_.clear();
    const bool marked = IncludesSent();
    if (marked && sent != lastSent_ && !lineStart_) {
        // The other side's bytes begin a line of their own.
        scratch_ += '\n';
        lineStart_ = true;
        afterCr_ = false;
    }
    lastSent_ = sent;
    // One stamp for the whole batch: its bytes arrived together.
    std::string stamp;
    // Copied a line at a time, not byte by byte: in a flood this runs for every batch.
    const char* p = reinterpret_cast<const char*>(bytes.data());
    const char* const end = p + bytes.size();
    const char* cr = Find(p, end, '\r'); // the next CR at or after p, end when there is none
    const char* lf = Find(p, end, '\n');
    while (p < end) {
        if (afterCr_ && *p != '\n') {
            lineStart_ = true;
        }
        if (lineStart_) {
            if (stamp.empty()) {
                stamp = TimeStamp(clock_()) + ' ';
                if (marked) {
                    stamp += sent ? "TX " : "RX ";
                }
            }
            scratch_ += stamp;
        }
        // Up to and with the next CR or LF, which decides where the next line starts.
        // Each is searched for again only once passed, so that a batch without the one is not
        // searched to its end for every line.
        if (cr < p) {
            cr = Find(p, end, '\r');
        }
        if (lf < p) {
            lf = Find(p, end, '\n');
        }
        const char* const stop = std::min(cr, lf);
        if (stop == end) {
            scratch_.append(p, end);
            afterCr_ = false;
            lineStart_ = false;
            break;
        }
        scratch_.append(p, stop + 1);
        afterCr_ = *stop == '\r';
        lineStart_ = *stop == '\n';
        p = stop + 1;
    }
    if (!WriteAll(scratch_.data(), scratch_.size())) {
        return false;
    }
    captured_ += bytes.size();
    return true;
}

bool CaptureWriter::Close() {
    if (fd_ < 0) {
        return true;
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        error_ = std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace pellwick
