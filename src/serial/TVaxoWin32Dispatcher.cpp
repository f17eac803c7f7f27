#include "serial/TVaxoWin32Dispatcher.h"

#include "serial/LinuxSerialDevice.h"
#include "serial/NetworkSerialDevice.h"
#include "serial/portmap/NetworkAddress.h"
#include "serial/portmap/PortMap.h"

#include <cerrno>
#include <poll.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pellwick {

namespace {

// How often the modem lines and error counters are sampled while the device has them.
constexpr int kSampleIntervalMs = 10;
// How often TComThread looks again while the input ring is full and input is held back.
constexpr int kHeldInputIntervalMs = 20;
// The dispatch worker's longest sleep: timer triggers, output levels and held-back input.
constexpr int kDispatchWakeMs = 50;

int CurrentTid() {
    return static_cast<int>(syscall(SYS_gettid));
}

} // namespace

TVaxoWin32Dispatcher::TVaxoWin32Dispatcher(void* owner) : TVaxoBaseDispatcher(owner) {
    const DeviceFactory factory = DeviceFactoryHook().Get();
    fromFactory_ = static_cast<bool>(factory);
    device_ = factory ? factory() : std::make_unique<LinuxSerialDevice>();
}

TVaxoWin32Dispatcher::~TVaxoWin32Dispatcher() {
    StopWorkers();
    DeviceClose();
    ReleaseBuffers();
}

ProcessHook<TVaxoWin32Dispatcher::DeviceFactory>& TVaxoWin32Dispatcher::DeviceFactoryHook() {
    static ProcessHook<DeviceFactory> factory;
    return factory;
}

std::optional<std::string> TVaxoWin32Dispatcher::ResolveName(const std::string& name) {
    return PortMap::ResolveDeviceName(name);
}

// ---------------------------------------------------------------------------------------------
// Device layer

void TVaxoWin32Dispatcher::ChooseDevice(const std::string& path) {
    if (fromFactory_) {
        return;
    }
    const bool network = LooksLikeNetworkAddress(path);
    if (network != networkDevice_) {
        device_ = network ? std::unique_ptr<ISerialDevice>(std::make_unique<NetworkSerialDevice>())
                          : std::make_unique<LinuxSerialDevice>();
        networkDevice_ = network;
    }
}

int TVaxoWin32Dispatcher::DeviceOpen(const std::string& name, std::uint32_t, std::uint32_t) {
    auto path = ResolveName(name);
    if (!path) {
        return EngineNumberOf({DeviceError::NotFound, 0});
    }
    ChooseDevice(*path);
    hungUp_ = false;
    if (const DeviceResult opened = device_->Open(*path); !opened.Ok()) {
        return EngineNumberOf(opened);
    }
    std::lock_guard lock(countsLock_);
    countsValid_ = device_->ErrorCounts(lastCounts_);
    return 0;
}

int TVaxoWin32Dispatcher::DeviceProbe(const std::string& name) {
    const auto path = ResolveName(name);
    if (!path) {
        return EngineNumberOf({DeviceError::NotFound, 0});
    }
    ChooseDevice(*path);
    return EngineNumberOf(device_->Probe(*path));
}

void TVaxoWin32Dispatcher::DeviceClose() {
    device_->Close();
}

bool TVaxoWin32Dispatcher::DeviceOpenNow() const {
    return device_->IsOpen();
}

int TVaxoWin32Dispatcher::DeviceGetLine(LineBlock& block) {
    return EngineNumberOf(device_->GetLine(block));
}

int TVaxoWin32Dispatcher::DeviceSetLine(const LineBlock& block) {
    return EngineNumberOf(device_->SetLine(block));
}

long TVaxoWin32Dispatcher::DeviceRead(std::uint8_t* buffer, std::uint32_t count) {
    if (!device_->IsOpen()) {
        return -1;
    }
    std::size_t done = 0;
    if (const DeviceResult read = device_->Read(buffer, count, done); !read.Ok()) {
        NoteFailedTransfer(read);
        return EngineNumberOf(read);
    }
    return static_cast<long>(done);
}

void TVaxoWin32Dispatcher::NoteFailedTransfer(const DeviceResult& result) {
    // EIO, ENODEV and ENXIO: the adapter is gone even if poll has not said so yet.
    if (result.DeviceGone()) {
        hungUp_ = true;
        comWake_.Set();
    }
}

std::uint32_t TVaxoWin32Dispatcher::DeviceStatus(std::uint32_t& inputQueued) {
    inputQueued = device_->IsOpen() ? device_->InputQueued() : 0;
    std::lock_guard lock(countsLock_);
    LineErrorCounts now;
    if (!countsValid_ || !device_->ErrorCounts(now)) {
        return 0;
    }
    std::uint32_t bits = 0;
    if (now.bufOverrun != lastCounts_.bufOverrun) {
        bits |= ceRxOver;
    }
    if (now.overrun != lastCounts_.overrun) {
        bits |= ceOverrun;
    }
    if (now.parity != lastCounts_.parity) {
        bits |= ceRxParity;
    }
    if (now.frame != lastCounts_.frame) {
        bits |= ceFrame;
    }
    if (now.brk != lastCounts_.brk) {
        bits |= ceBreak;
    }
    lastCounts_ = now;
    return bits;
}

void TVaxoWin32Dispatcher::DeviceEscape(LineFunction function) {
    if (!device_->IsOpen()) {
        return;
    }
    switch (function) {
    case LineFunction::SetDtr:
        device_->SetDtr(true);
        break;
    case LineFunction::ClrDtr:
        device_->SetDtr(false);
        break;
    case LineFunction::SetRts:
        device_->SetRts(true);
        break;
    case LineFunction::ClrRts:
        device_->SetRts(false);
        break;
    }
}

int TVaxoWin32Dispatcher::DeviceBreak() {
    return device_->IsOpen() ? EngineNumberOf(device_->SendBreak()) : ecCommNotOpen;
}

// A device that has hung up holds nothing to discard, and the driver refuses a flush on it:
// discarding succeeds, as writing to it is dropped, and the lost line shows where the device's
// answer is awaited. The hang-up is asked of the device itself when the flush fails, since the
// event worker may not have seen it yet.
int TVaxoWin32Dispatcher::DevicePurge(bool input, bool output) {
    if (hungUp_) {
        return 0;
    }
    const DeviceResult result = device_->Purge(input, output);
    if (!result.Ok()) {
        pollfd fd{device_->Fd(), 0, 0};
        if (poll(&fd, 1, 0) > 0 && (fd.revents & POLLHUP)) {
            return 0;
        }
    }
    return EngineNumberOf(result);
}

int TVaxoWin32Dispatcher::DevicePurgeInput() {
    return DevicePurge(true, false);
}

int TVaxoWin32Dispatcher::DevicePurgeOutput() {
    return DevicePurge(false, true);
}

bool TVaxoWin32Dispatcher::DeviceModemStatus(std::uint8_t& bits) {
    return device_->IsOpen() && device_->ModemStatus(bits);
}

long TVaxoWin32Dispatcher::DeviceOutputQueued() {
    return device_->IsOpen() ? device_->OutputQueued() : -1;
}

bool TVaxoWin32Dispatcher::DeviceAwaitInput(int timeoutMs) {
    pollfd fd{device_->Fd(), POLLIN, 0};
    return poll(&fd, 1, timeoutMs) > 0 && (fd.revents & POLLIN) != 0;
}

int TVaxoWin32Dispatcher::DeviceAwaitInputOr(const TVaxoEvent& signal, bool watchInput,
                                             int timeoutMs) {
    // A negative descriptor is left out of the poll.
    pollfd fds[2] = {{signal.Fd(), POLLIN, 0}, {watchInput ? device_->Fd() : -1, POLLIN, 0}};
    const int n = poll(fds, 2, timeoutMs);
    if (n < 0) {
        return errno == EINTR ? 0 : -1;
    }
    return ((fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) ? kDeviceInputReady : 0) |
           ((fds[0].revents & POLLIN) ? kSignalReady : 0);
}

int TVaxoWin32Dispatcher::DeviceSetRs485(bool on) {
    return EngineNumberOf(device_->SetRs485(on));
}

void TVaxoWin32Dispatcher::SignalOutputPending() {
    outputPending_.Set();
}

void TVaxoWin32Dispatcher::HaltOutputWorker() {
    if (!outRunning_) {
        return;
    }
    purgeRequested_ = true;
    outputKick_.Set();
    // The worker answers at once unless the thread is gone; the limit only guards against
    // waiting on a worker that ended meanwhile.
    purgeAck_.Wait(2000);
    purgeRequested_ = false;
}

// ---------------------------------------------------------------------------------------------
// Workers

void TVaxoWin32Dispatcher::StartWorkers() {
    std::lock_guard lock(statusLock_);
    if (workersStarted_) {
        throw std::logic_error("Dispatcher already started");
    }
    // After a close from inside a handler the dispatch worker ended by itself and nobody
    // joined it; its thread object must be let go before it can hold a new worker.
    for (std::thread* worker : {&comThread_, &dispThread_, &outThread_}) {
        if (worker->joinable()) {
            worker->join();
        }
    }
    workersStarted_ = true;
    stopWorkers_ = false;
    workerSignal_.Reset();
    deviceEventReady_.Reset();
    deviceEventDone_.Reset();
    outputKick_.Reset();
    purgeAck_.Reset();
    comWake_.Reset();
    activeWorkers_ = 3;
    comRunning_ = dispRunning_ = outRunning_ = true;
    comThread_ = std::thread([this] { ComThreadRun(); });
    workerSignal_.Wait(3000);
    dispThread_ = std::thread([this] { DispThreadRun(); });
    workerSignal_.Wait(3000);
    outThread_ = std::thread([this] { OutThreadRun(); });
    workerSignal_.Wait(3000);
}

void TVaxoWin32Dispatcher::StopDeviceWorkers() {
    stopWorkers_ = true;
    if (outThread_.joinable()) {
        outputKick_.Set();
        outThread_.join();
    }
    if (comThread_.joinable()) {
        comWake_.Set();
        deviceEventDone_.Set();
        comThread_.join();
    }
}

void TVaxoWin32Dispatcher::StopWorkers() {
    StopDeviceWorkers();
    if (dispThread_.joinable()) {
        if (dispThread_.get_id() == std::this_thread::get_id()) {
            dispThread_.detach(); // cannot happen from the program's threads; never self-join
        } else {
            // A notification the GUI thread has not begun is given up; the worker then sees
            // the stop flag at once instead of waiting out the delivery limit.
            AbandonCurrentDelivery();
            deviceEventReady_.Set();
            dispThread_.join();
        }
    }
    workersStarted_ = false;
}

void TVaxoWin32Dispatcher::WorkerStarted(int& tidSlot) {
    std::lock_guard lock(priorityLock_);
    tidSlot = CurrentTid();
    ApplyPriority(tidSlot, priority_ + 3);
}

void TVaxoWin32Dispatcher::WorkerEnded(int& tidSlot) {
    {
        std::lock_guard lock(priorityLock_);
        tidSlot = 0;
    }
    if (--activeWorkers_ == 0) {
        workersStarted_ = false;
    }
}

void TVaxoWin32Dispatcher::ComThreadRun() {
    WorkerStarted(comTid_);
    bool lost = false;
    std::uint8_t lastModem = 0;
    const bool sampleModem = device_->ModemStatus(lastModem);
    LineErrorCounts lastCounts;
    const bool sampleCounts = device_->ErrorCounts(lastCounts);
    workerSignal_.Set();

    while (!stopWorkers_) {
        // A full input ring with input held back in the driver would make the device readable
        // for ever: leave it out of the wait until the ring has room again.
        const bool inputHeld = MoreInputPending() && InputRingFull();
        pollfd fds[2] = {{comWake_.Fd(), POLLIN, 0},
                         {device_->Fd(), inputHeld ? short(0) : short(POLLIN), 0}};
        int timeout = sampleModem || sampleCounts ? kSampleIntervalMs : -1;
        if (inputHeld && (timeout < 0 || timeout > kHeldInputIntervalMs)) {
            timeout = kHeldInputIntervalMs;
        }
        if (poll(fds, 2, timeout) < 0) {
            // A wait that fails can no longer watch the device: it counts as a hang-up, so
            // that the port reports a lost line instead of falling silent.
            fds[0].revents = 0;
            fds[1].revents = errno == EINTR ? 0 : POLLERR;
        }
        if (stopWorkers_) {
            break;
        }
        if (fds[0].revents & POLLIN) {
            comWake_.Consume();
        }
        std::uint32_t mask = 0;
        if (fds[1].revents & POLLIN) {
            mask |= evRxChar;
        }
        if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) || hungUp_) {
            // The device is gone (peer closed, adapter pulled): hand over what input is left,
            // then end; no more events arrive until the port is reopened.
            mask |= evRxChar;
            lost = true;
        }
        if (sampleModem) {
            std::uint8_t now = 0;
            if (device_->ModemStatus(now)) {
                std::uint8_t changed = now ^ lastModem;
                if (changed & msCtsOn) {
                    mask |= evCts;
                }
                if (changed & msDsrOn) {
                    mask |= evDsr;
                }
                if (changed & msDcdOn) {
                    mask |= evRlsd;
                }
                if (changed & now & msRingOn) {
                    mask |= evRing;
                    NoteRing();
                }
                lastModem = now;
            }
        }
        if (sampleCounts) {
            LineErrorCounts now;
            if (device_->ErrorCounts(now)) {
                if (now.brk != lastCounts.brk) {
                    mask |= evBreak;
                }
                if (now.overrun != lastCounts.overrun || now.parity != lastCounts.parity ||
                    now.frame != lastCounts.frame || now.bufOverrun != lastCounts.bufOverrun) {
                    mask |= evErr;
                }
                lastCounts = now;
            }
        }
        // Marked before the last input is handed over: its handlers already meet a gone line.
        if (lost) {
            hungUp_ = true;
        }
        if (mask != 0) {
            deviceEventMask_ = mask;
            deviceEventReady_.Set();
            deviceEventDone_.Wait(-1);
        }
        if (lost) {
            break;
        }
    }
    if (lost && !stopWorkers_ && lostHandler_) {
        lostHandler_();
    }
    comRunning_ = false;
    WorkerEnded(comTid_);
}

void TVaxoWin32Dispatcher::DispThreadRun() {
    WorkerStarted(dispTid_);
    workerSignal_.Set();
    while (!stopWorkers_ && !closePending_) {
        // Input staged during the last notice is run through at once when no event comes.
        int which = TVaxoEvent::WaitAny(deviceEventReady_, outputProgress_,
                                        StagedInputWaiting() ? 0 : kDispatchWakeMs);
        if (stopWorkers_ || closePending_) {
            break;
        }
        if (which == 0) {
            ServiceDeviceEvents(deviceEventMask_.load());
            if (closePending_) {
                break;
            }
            deviceEventDone_.Set();
            ServiceIdleTriggers();
            continue;
        }
        if (MoreInputPending() && !InputRingFull()) {
            // Input held back while the ring was full: read it now and run it through the
            // triggers at once, since no new device event may come to announce it.
            ServiceDeviceEvents(evRxChar);
        }
        ServiceIdleTriggers();
    }
    if (closePending_) {
        FinishPendingClose();
    }
    dispRunning_ = false;
    WorkerEnded(dispTid_);
}

void TVaxoWin32Dispatcher::OutThreadRun() {
    WorkerStarted(outTid_);
    workerSignal_.Set();
    // The stop flags are looked at before every wait: a write pass that was waiting for room
    // on the device may have taken the kick that announced the stop.
    while (!stopWorkers_ && !closePending_) {
        int which = TVaxoEvent::WaitAny(outputPending_, outputKick_, -1);
        if (stopWorkers_ || closePending_) {
            break;
        }
        if (purgeRequested_.exchange(false)) {
            purgeAck_.Set();
            if (which == 1) {
                continue;
            }
        }
        if (which == 0) {
            WritePasses();
        }
    }
    outRunning_ = false;
    if (purgeRequested_.exchange(false)) {
        purgeAck_.Set();
    }
    WorkerEnded(outTid_);
}

void TVaxoWin32Dispatcher::WritePasses() {
    while (!stopWorkers_ && !closePending_) {
        if (purgeRequested_.exchange(false)) {
            purgeAck_.Set();
            return;
        }
        const std::uint64_t generation = OutputGeneration();
        const std::uint8_t* data = nullptr;
        std::uint32_t count = 0;
        if (!NextOutputRun(data, count)) {
            return;
        }
        std::size_t n = 0;
        if (const DeviceResult written = device_->Write(data, count, n); !written.Ok()) {
            // A failed write drops the run; the ring keeps going.
            NoteFailedTransfer(written);
            AdvanceOutputTail(count, generation);
            outputProgress_.Set();
            continue;
        }
        if (n > 0) {
            // Counted even when the ring was emptied meanwhile: the driver has the bytes.
            NoteOutputHanded(static_cast<std::uint32_t>(n));
            AdvanceOutputTail(static_cast<std::uint32_t>(n), generation);
            outputProgress_.Set();
            continue;
        }
        // The device takes nothing now: wait for room, or for a purge or stop.
        pollfd fds[2] = {{outputKick_.Fd(), POLLIN, 0}, {device_->Fd(), POLLOUT, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (fds[0].revents & POLLIN) {
            outputKick_.Consume();
            if (purgeRequested_.exchange(false)) {
                purgeAck_.Set();
            }
            return;
        }
        if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fds[1].revents & POLLOUT)) {
            AdvanceOutputTail(count, generation);
            outputProgress_.Set();
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Priorities

void TVaxoWin32Dispatcher::ApplyPriority(int tid, int level) {
    // Levels 0 (idle) .. 3 (normal) .. 6 (time-critical) as nice values. Raising a priority
    // needs a privilege most users lack; the workers then keep the normal one.
    static const int kNice[] = {19, 10, 5, 0, -5, -10, -15};
    if (tid == 0) {
        return;
    }
    level = level < 0 ? 0 : level > 6 ? 6 : level;
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), kNice[level]);
}

void TVaxoWin32Dispatcher::SetWorkerPriority(int priority) {
    std::lock_guard lock(priorityLock_);
    if (priority == priority_) {
        return;
    }
    priority_ = priority;
    ApplyPriority(comTid_, priority + 3);
    ApplyPriority(dispTid_, priority + 3);
    ApplyPriority(outTid_, priority + (Rs485Mode() ? 4 : 3));
}

} // namespace pellwick
