// Serves the simulated device on one file descriptor (a pseudo-terminal master or a serial
// device): reads at the emulated line rate, feeds the protocol, sends its answers when they are
// due and writes the transcript.
//
// Threads: Run() loops on the calling thread until RequestStop(), RequestUnplug(), a hang-up,
// an unplug fault or a lost line. RequestStop() and RequestUnplug() may be called from any
// thread and from a signal handler. Uploads() and
// BytesReceived() may be called from any thread; a mutex guards the copies they return.
#pragma once

#include "devsim/DeviceConfig.h"
#include "devsim/DeviceProtocol.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pellwick {

class DeviceServer {
public:
    enum class Result {
        Stopped,   // RequestStop
        HungUp,    // the hang-up fault closed the line
        Unplugged, // unplugged (by request or by the unplug fault); the line is still open
        LineLost,  // the peer side went away (real devices only) or a read failed
        Failed,    // could not start (transcript file, descriptor)
    };

    // Takes ownership of fd and of keepOpen (a descriptor held only to be closed with fd).
    DeviceServer(DeviceConfig config, int fd, int keepOpen = -1);
    ~DeviceServer();
    DeviceServer(const DeviceServer&) = delete;
    DeviceServer& operator=(const DeviceServer&) = delete;

    Result Run();
    void RequestStop();
    // Ends Run with Unplugged; safe from a signal handler. The caller closes the line (by
    // destroying the server) once it has removed what points at it.
    void RequestUnplug();
    const std::string& Error() const { return error_; }
    // Before Run: append to the transcript, times counted from origin, so that the record of a
    // replugged line goes on after what the earlier plug-ins wrote.
    void ContinueTranscript(std::chrono::steady_clock::time_point origin) {
        transcriptOrigin_ = origin;
    }

    std::vector<UploadRecord> Uploads() const;
    std::uint64_t BytesReceived() const { return received_.load(); }
    bool UploadMode() const { return uploadMode_.load(); }
    bool Discarding() const { return discarding_.load(); }
    // When the hang-up fault closed the line (steady clock), if it has.
    std::optional<std::chrono::steady_clock::time_point> HungUpAt() const {
        const auto ticks = hungUpAt_.load();
        if (ticks == 0) {
            return std::nullopt;
        }
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(ticks));
    }

private:
    struct Pending {
        std::string bytes;
        std::chrono::steady_clock::time_point due;
    };

    void CloseLine();

    DeviceConfig config_;
    int fd_;
    int keepOpen_;
    int wakeFd_;
    std::string error_;
    std::optional<std::chrono::steady_clock::time_point> transcriptOrigin_;
    std::atomic<std::uint64_t> received_{0};
    std::atomic<bool> uploadMode_{false};
    std::atomic<bool> discarding_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> unplugRequested_{false};
    std::atomic<std::chrono::steady_clock::rep> hungUpAt_{0};
    mutable std::mutex uploadsLock_;
    std::vector<UploadRecord> uploads_; // guarded by uploadsLock_
};

} // namespace pellwick
