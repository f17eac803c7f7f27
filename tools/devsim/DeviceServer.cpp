#include "devsim/DeviceServer.h"

#include "devsim/LinePacer.h"
#include "devsim/Transcript.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace pellwick {

namespace {

using Clock = std::chrono::steady_clock;

timespec Until(Clock::time_point now, Clock::time_point when) {
    const auto wait = std::max(Clock::duration::zero(), when - now);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

} // namespace

DeviceServer::DeviceServer(DeviceConfig config, int fd, int keepOpen)
    : config_(std::move(config)), fd_(fd), keepOpen_(keepOpen),
      wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

DeviceServer::~DeviceServer() {
    CloseLine();
    if (wakeFd_ >= 0) {
        close(wakeFd_);
    }
}

void DeviceServer::CloseLine() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (keepOpen_ >= 0) {
        close(keepOpen_);
        keepOpen_ = -1;
    }
}

void DeviceServer::RequestUnplug() {
    unplugRequested_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto ignored = write(wakeFd_, &one, sizeof one);
}

void DeviceServer::RequestStop() {
    stopRequested_ = true;
    const std::uint64_t one = 1;
    // write() on an eventfd is async-signal-safe; a full counter still wakes the loop.
    [[maybe_unused]] const auto ignored = write(wakeFd_, &one, sizeof one);
}

std::vector<UploadRecord> DeviceServer::Uploads() const {
    std::lock_guard lock(uploadsLock_);
    return uploads_;
}

DeviceServer::Result DeviceServer::Run() {
    if (fd_ < 0 || wakeFd_ < 0) {
        error_ = "no line to serve";
        return Result::Failed;
    }
    const auto start = Clock::now();
    Transcript transcript;
    if (!transcript.Open(config_.transcriptPath, transcriptOrigin_.value_or(start),
                         transcriptOrigin_.has_value())) {
        error_ = "cannot create transcript " + config_.transcriptPath + ": " + std::strerror(errno);
        return Result::Failed;
    }
    transcript.Event("device ready", start);

    DeviceProtocol protocol(config_);
    LinePacer inPacer(config_.baud, config_.burst, start);
    LinePacer outPacer(config_.baud, config_.burst, start);
    std::deque<Pending> queue;
    std::size_t sentOfFront = 0;
    // While the peer streams faster than the line, wait for half a burst of credit instead of
    // waking for every byte.
    bool readThrottled = false;
    bool stallTold = false;
    // The same for answers: the last write moved all the line allowed and more waits.
    bool writeThrottled = false;
    char buffer[4096];

    const auto collect = [&](Clock::time_point now) {
        for (auto& chunk : protocol.TakeOutput()) {
            if (config_.silent) {
                transcript.Event(
                    "silent: withheld " + std::to_string(chunk.bytes.size()) + " bytes", now);
                continue;
            }
            auto due = chunk.answer ? now + std::chrono::milliseconds(config_.answerDelayMs) : now;
            if (!queue.empty()) {
                due = std::max(due, queue.back().due); // answers keep their order
            }
            if (chunk.pauseMs > 0) {
                due = std::max(due, queue.empty() ? now : queue.back().due) +
                      std::chrono::milliseconds(chunk.pauseMs);
            }
            queue.push_back({std::move(chunk.bytes), due});
        }
        for (const auto& note : protocol.TakeNotes()) {
            transcript.Event(note, now);
        }
        uploadMode_.store(protocol.UploadMode());
        discarding_.store(protocol.Discarding());
        std::lock_guard lock(uploadsLock_);
        if (uploads_.size() != protocol.Uploads().size()) {
            uploads_ = protocol.Uploads();
        }
    };

    const bool timedUnplug = config_.unplugAfterMs >= 0;
    const Clock::time_point unplugAt =
        start + std::chrono::milliseconds(std::max<std::int64_t>(config_.unplugAfterMs, 0));
    const auto unplug = [&](Clock::time_point now, const std::string& why) {
        transcript.Event("unplugged " + why, now);
        return Result::Unplugged;
    };

    for (;;) {
        auto now = Clock::now();
        if (timedUnplug && now >= unplugAt) {
            return unplug(now, "after " + std::to_string(config_.unplugAfterMs) + " ms");
        }
        protocol.Tick(now);
        collect(now);
        while (!queue.empty() && queue.front().bytes.empty()) {
            queue.pop_front();
        }

        std::optional<Clock::time_point> wake = protocol.NextDeadline();
        const auto wakeAt = [&wake](Clock::time_point when) {
            wake = wake ? std::min(*wake, when) : when;
        };
        if (timedUnplug) {
            wakeAt(unplugAt);
        }

        const std::size_t readNeed = readThrottled ? inPacer.Burst() / 2 : 1;
        // A stalled device takes nothing more: the line fills and holds its peer's output.
        const bool stalled = config_.stallAfter >= 0 &&
                             received_.load() >= static_cast<std::uint64_t>(config_.stallAfter);
        const bool canRead =
            !stalled && inPacer.Allowance(now, readThrottled) >= std::max<std::size_t>(readNeed, 1);
        if (!canRead && !stalled) {
            wakeAt(inPacer.ReadyAt(readNeed));
        }
        bool canWrite = false;
        if (!queue.empty()) {
            if (queue.front().due > now) {
                wakeAt(queue.front().due);
            } else {
                const std::size_t left = queue.front().bytes.size() - sentOfFront;
                const std::size_t need =
                    std::min(left, std::max<std::size_t>(outPacer.Burst() / 2, 1));
                canWrite = outPacer.Allowance(now, writeThrottled) >= need;
                if (!canWrite) {
                    wakeAt(outPacer.ReadyAt(need));
                }
            }
        }

        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd_, 0, 0}};
        fds[1].events = static_cast<short>((canRead ? POLLIN : 0) | (canWrite ? POLLOUT : 0));
        const timespec timeout = wake ? Until(now, *wake) : timespec{};
        const int ready = ppoll(fds, 2, wake ? &timeout : nullptr, nullptr);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            error_ = std::string("poll: ") + std::strerror(errno);
            return Result::LineLost;
        }
        now = Clock::now();
        if (fds[0].revents & POLLIN) {
            if (stopRequested_ || !unplugRequested_) {
                transcript.Event("stopped", now);
                return Result::Stopped;
            }
            return unplug(now, "on request");
        }

        if (fds[1].revents & POLLIN) {
            std::size_t limit = std::min(sizeof buffer, inPacer.Allowance(now, readThrottled));
            for (const std::int64_t after :
                 {config_.hangupAfter, config_.unplugAfterBytes, config_.stallAfter}) {
                if (after >= 0) {
                    limit = std::min<std::size_t>(limit, static_cast<std::size_t>(after) -
                                                             received_.load());
                }
            }
            const ssize_t n = limit == 0 ? 0 : read(fd_, buffer, limit);
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                error_ = std::string("read: ") + std::strerror(errno);
                transcript.Event("line lost: " + error_, now);
                return Result::LineLost;
            }
            if (n > 0) {
                const auto count = static_cast<std::size_t>(n);
                inPacer.Consume(count);
                readThrottled = inPacer.Paced() && count == limit;
                received_ += count;
                transcript.Received(std::string_view(buffer, count), now);
                protocol.Receive(std::string_view(buffer, count), now);
                collect(now);
            }
            if (config_.stallAfter >= 0 && !stallTold &&
                received_.load() >= static_cast<std::uint64_t>(config_.stallAfter)) {
                stallTold = true;
                transcript.Event("stalled after " + std::to_string(received_.load()) +
                                     " bytes: reading nothing more",
                                 now);
            }
            if (config_.hangupAfter >= 0 &&
                received_.load() >= static_cast<std::uint64_t>(config_.hangupAfter)) {
                transcript.Event("hanging up after " + std::to_string(received_.load()) + " bytes",
                                 now);
                CloseLine();
                hungUpAt_.store(Clock::now().time_since_epoch().count());
                return Result::HungUp;
            }
            if (config_.unplugAfterBytes >= 0 &&
                received_.load() >= static_cast<std::uint64_t>(config_.unplugAfterBytes)) {
                return unplug(now, "after " + std::to_string(received_.load()) + " bytes");
            }
        } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            error_ = "the line was hung up";
            transcript.Event(error_, now);
            return Result::LineLost;
        }

        if ((fds[1].revents & POLLOUT) && !queue.empty()) {
            Pending& front = queue.front();
            const std::size_t left = front.bytes.size() - sentOfFront;
            const std::size_t chunk = std::min(left, outPacer.Allowance(now, writeThrottled));
            const ssize_t n = write(fd_, front.bytes.data() + sentOfFront, chunk);
            if (n > 0) {
                const auto count = static_cast<std::size_t>(n);
                outPacer.Consume(count);
                writeThrottled = outPacer.Paced() && count == chunk && chunk < left;
                transcript.Sent(std::string_view(front.bytes.data() + sentOfFront, count), now);
                sentOfFront += count;
                if (sentOfFront == front.bytes.size()) {
                    queue.pop_front();
                    sentOfFront = 0;
                }
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                error_ = std::string("write: ") + std::strerror(errno);
                transcript.Event("line lost: " + error_, now);
                return Result::LineLost;
            }
        }
    }
}

} // namespace pellwick
