#include "SerialTestSupport.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace pellwick::test {

// ---------------------------------------------------------------------------------------------

FakeGuiWindow::FakeGuiWindow() : thread_([this] { Loop(); }) {}

FakeGuiWindow::~FakeGuiWindow() {
    {
        std::lock_guard lock(lock_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void FakeGuiWindow::Loop() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(lock_);
            wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        job();
    }
}

void FakeGuiWindow::PostNotification(std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam,
                                     std::shared_ptr<DeliveryToken> token) {
    Post([this, msg, wParam, lParam, token] {
        if (!token->Begin()) {
            return; // the sender gave up on it: it must never run late
        }
        Notification n{msg, wParam, lParam};
        std::function<void(const Notification&)> handler;
        {
            std::lock_guard inner(lock_);
            received_.push_back(n);
            handler = handler_;
        }
        if (handler) {
            handler(n);
        }
        token->Finish();
    });
}

void FakeGuiWindow::SetHandler(std::function<void(const Notification&)> handler) {
    std::lock_guard lock(lock_);
    handler_ = std::move(handler);
}

void FakeGuiWindow::RunOnGui(const std::function<void()>& fn) {
    std::mutex doneLock;
    std::condition_variable doneCv;
    bool done = false;
    {
        std::lock_guard lock(lock_);
        queue_.push_back([&] {
            fn();
            std::lock_guard l(doneLock);
            done = true;
            doneCv.notify_all();
        });
    }
    wake_.notify_all();
    std::unique_lock l(doneLock);
    doneCv.wait(l, [&] { return done; });
}

void FakeGuiWindow::Post(std::function<void()> fn) {
    {
        std::lock_guard lock(lock_);
        queue_.push_back(std::move(fn));
    }
    wake_.notify_all();
}

std::vector<Notification> FakeGuiWindow::Received() {
    std::lock_guard lock(lock_);
    return received_;
}

std::size_t FakeGuiWindow::Count(std::uint32_t msg) {
    std::lock_guard lock(lock_);
    std::size_t n = 0;
    for (const auto& r : received_) {
        n += r.msg == msg ? 1 : 0;
    }
    return n;
}

void FakeGuiWindow::ClearReceived() {
    std::lock_guard lock(lock_);
    received_.clear();
}

// ---------------------------------------------------------------------------------------------

FakeSerialDevice::FakeSerialDevice(std::shared_ptr<State> state) : state_(std::move(state)) {}

FakeSerialDevice::~FakeSerialDevice() {
    Close();
}

DeviceResult FakeSerialDevice::Open(const std::string&) {
    std::lock_guard lock(state_->lock);
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0) {
        return DeviceResult::FromErrno(errno);
    }
    fd_ = state_->fd = sv[0];
    state_->peer = sv[1];
    open_ = true;
    return {};
}

void FakeSerialDevice::Close() {
    if (open_.exchange(false)) {
        std::lock_guard lock(state_->lock);
        close(state_->fd);
        close(state_->peer);
        state_->fd = state_->peer = -1;
        fd_ = -1;
    }
}

// Keeps the descriptor readable exactly while input waits, so poll() behaves as on a device.
// Called with the state's lock held.
void FakeSerialDevice::Sync(State& state) {
    if (state.fd < 0) {
        return;
    }
    char scratch[64];
    while (recv(state.fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
    }
    if (!state.input.empty()) {
        char one = 1;
        send(state.peer, &one, 1, MSG_DONTWAIT);
    }
}

DeviceResult FakeSerialDevice::GetLine(LineBlock& block) {
    std::lock_guard lock(state_->lock);
    block = state_->line;
    return {};
}

DeviceResult FakeSerialDevice::SetLine(const LineBlock& block) {
    std::lock_guard lock(state_->lock);
    state_->line = block;
    ++state_->setLineCalls;
    return {};
}

DeviceResult FakeSerialDevice::Read(std::uint8_t* buffer, std::size_t count, std::size_t& done) {
    std::lock_guard lock(state_->lock);
    done = 0;
    while (done < count && !state_->input.empty()) {
        buffer[done++] = state_->input.front();
        state_->input.pop_front();
    }
    Sync(*state_);
    return {};
}

DeviceResult FakeSerialDevice::Write(const std::uint8_t* data, std::size_t count,
                                     std::size_t& done) {
    {
        std::lock_guard lock(state_->lock);
        if (state_->writeGate && state_->allowance != 0) {
            done = TakeOutput(data, count);
            return {};
        }
    }
    // A device that takes nothing: its descriptor still reports room, so keep the writer
    // that polls it from spinning a core.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    done = 0;
    return {};
}

std::size_t FakeSerialDevice::TakeOutput(const std::uint8_t* data, std::size_t count) {
    if (state_->allowance > 0 && static_cast<long>(count) > state_->allowance) {
        count = static_cast<std::size_t>(state_->allowance);
    }
    if (state_->allowance > 0) {
        state_->allowance -= static_cast<long>(count);
    }
    state_->written.insert(state_->written.end(), data, data + count);
    state_->writeSizes.push_back(count);
    return count;
}

std::uint32_t FakeSerialDevice::InputQueued() {
    std::lock_guard lock(state_->lock);
    return static_cast<std::uint32_t>(state_->input.size());
}

bool FakeSerialDevice::ModemStatus(std::uint8_t& bits) {
    std::lock_guard lock(state_->lock);
    bits = state_->modem;
    return true;
}

void FakeSerialDevice::SetDtr(bool on) {
    std::lock_guard lock(state_->lock);
    state_->dtr = on;
}

void FakeSerialDevice::SetRts(bool on) {
    std::lock_guard lock(state_->lock);
    state_->rts = on;
}

DeviceResult FakeSerialDevice::SendBreak() {
    std::lock_guard lock(state_->lock);
    state_->breaks.push_back(state_->written.size());
    return {};
}

bool FakeSerialDevice::ErrorCounts(LineErrorCounts& counts) {
    std::lock_guard lock(state_->lock);
    counts = state_->counts;
    return true;
}

DeviceResult FakeSerialDevice::Purge(bool input, bool) {
    std::lock_guard lock(state_->lock);
    if (input) {
        state_->input.clear();
    }
    Sync(*state_);
    return {};
}

DeviceResult FakeSerialDevice::SetRs485(bool) {
    return DeviceResult::FromErrno(EINVAL);
}

void FakeSerialDevice::Feed(State& state, const std::string& bytes) {
    std::lock_guard lock(state.lock);
    state.input.insert(state.input.end(), bytes.begin(), bytes.end());
    Sync(state);
}

} // namespace pellwick::test
