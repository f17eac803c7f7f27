#include "devsim/Transcript.h"

namespace pellwick {

Transcript::~Transcript() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool Transcript::Open(const std::string& path, Clock::time_point start, bool append) {
    start_ = start;
    if (path.empty()) {
        return true;
    }
    file_ = std::fopen(path.c_str(), append ? "a" : "w");
    return file_ != nullptr;
}

std::string Transcript::Escape(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (u >= 0x20 && u < 0x7F) {
            out.push_back(c);
        } else {
            out += "\\x";
            out.push_back(digits[u >> 4]);
            out.push_back(digits[u & 15]);
        }
    }
    return out;
}

void Transcript::Received(std::string_view bytes, Clock::time_point now) {
    Write('<', Escape(bytes), now);
}

void Transcript::Sent(std::string_view bytes, Clock::time_point now) {
    Write('>', Escape(bytes), now);
}

void Transcript::Event(std::string_view text, Clock::time_point now) {
    Write('*', text, now);
}

void Transcript::Write(char direction, std::string_view text, Clock::time_point now) {
    if (file_ == nullptr) {
        return;
    }
    const double seconds = std::chrono::duration<double>(now - start_).count();
    std::fprintf(file_, "%10.6f %c %.*s\n", seconds, direction, static_cast<int>(text.size()),
                 text.data());
    // Flushed at once: the transcript is most useful after a crash or a kill.
    std::fflush(file_);
}

} // namespace pellwick
