#include "serial/errors/OpenFailure.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace pellwick {

namespace {
thread_local std::string note;
} // namespace

std::string DescribeOpenFailure(const std::string& devicePath, int err, const std::string& holder) {
    std::string reason;
    switch (err) {
    case EACCES:
    case EPERM:
        reason = std::string(std::strerror(err)) +
                 " (the user needs to be in group dialout to use serial ports)";
        break;
    case EBUSY:
    case EWOULDBLOCK:
        reason = holder.empty() ? std::string("in use by another program") : "in use by " + holder;
        break;
    default:
        reason = std::strerror(err);
        break;
    }
    return devicePath + ": " + reason;
}

std::string DescribeRateRefusal(const std::string& devicePath, std::uint32_t rate,
                                std::uint32_t made) {
    const std::string asked = std::to_string(rate) + " baud";
    const std::string what = made == 0 ? "the adapter refused " + asked
                                       : "the adapter cannot run at " + asked + " (it set " +
                                             std::to_string(made) + " baud)";
    return devicePath + ": " + what + "; choose a rate it supports";
}

void NoteOpenFailure(std::string line) {
    note = std::move(line);
}

void ClearOpenFailure() {
    note.clear();
}

std::string TakeOpenFailure() {
    return std::exchange(note, std::string());
}

std::string WithOpenFailure(const std::string& text) {
    const std::string line = TakeOpenFailure();
    // Messages break lines with CR; the message boxes show it as a new line.
    return line.empty() ? text : text + "\r" + line;
}

} // namespace pellwick
