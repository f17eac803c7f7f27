// The Linux serial engine, despite the inherited "Win32" in its name: the dispatcher's device layer
// for a tty device opened by name (through ISerialDevice, LinuxSerialDevice on a real line), with
// its three workers (std::thread):
// TComThread waits for device events (input, modem-line changes, line errors, hang-up),
// TDispThread reads input into the ring, tests triggers and delivers notifications, and
// TOutThread writes the output ring to the device.
#pragma once

#include "serial/ISerialDevice.h"
#include "serial/ProcessHook.h"
#include "serial/TVaxoBaseDispatcher.h"
#include "serial/TVaxoEvent.h"

#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace pellwick {

class TVaxoWin32Dispatcher final : public TVaxoBaseDispatcher {
public:
    explicit TVaxoWin32Dispatcher(void* owner);
    ~TVaxoWin32Dispatcher() override;

    // Makes the device object of each new dispatcher; tests put doubles here. None: the device
    // follows the path opened, a NetworkSerialDevice for a network port (rfc2217://, tcp://)
    // and a LinuxSerialDevice for anything else.
    using DeviceFactory = std::function<std::unique_ptr<ISerialDevice>()>;
    static ProcessHook<DeviceFactory>& DeviceFactoryHook();
    // Turns a device name ("\\.\COM3") into a device path through the port map. A name that
    // already is a path ("/dev/ttyUSB0") or a network port is used as it is.
    static std::optional<std::string> ResolveName(const std::string& name);

    // The port probe opens and closes the device alone, without rings or workers.
    int DeviceOpen(const std::string& name, std::uint32_t inSize, std::uint32_t outSize) override;
    // Whether the named device is there, with DeviceOpen's results, without changing it.
    int DeviceProbe(const std::string& name);
    void DeviceClose() override;

    void SetWorkerPriority(int priority) override;
    // Whether the device reported a hang-up (peer gone, adapter pulled) since it was opened.
    bool DeviceHungUp() const { return hungUp_.load(); }
    // Called once on the event worker when the device has gone away (a hang-up, or a read or
    // write that found it gone), after the input that came before it has been handed over; not
    // when the workers were told to stop first. Set it before the device is opened.
    using LostHandler = std::function<void()>;
    void SetLostHandler(LostHandler handler) { lostHandler_ = std::move(handler); }

protected:
    bool DeviceOpenNow() const override;
    int DeviceGetLine(LineBlock& block) override;
    int DeviceSetLine(const LineBlock& block) override;
    long DeviceRead(std::uint8_t* buffer, std::uint32_t count) override;
    std::uint32_t DeviceStatus(std::uint32_t& inputQueued) override;
    void DeviceEscape(LineFunction function) override;
    int DeviceBreak() override;
    int DevicePurgeInput() override;
    int DevicePurgeOutput() override;
    bool DeviceModemStatus(std::uint8_t& bits) override;
    long DeviceOutputQueued() override;
    int DeviceSetRs485(bool on) override;
    bool DeviceAwaitInput(int timeoutMs) override;
    int DeviceAwaitInputOr(const TVaxoEvent& signal, bool watchInput, int timeoutMs) override;
    void SignalOutputPending() override;
    void HaltOutputWorker() override;
    void StartWorkers() override;
    void StopWorkers() override;
    void StopDeviceWorkers() override;

private:
    int DevicePurge(bool input, bool output);
    // Before an open or a probe, on the owner's thread while no worker runs.
    void ChooseDevice(const std::string& path);
    void ComThreadRun();
    void DispThreadRun();
    void OutThreadRun();
    void WritePasses();
    void WorkerStarted(int& tidSlot);
    void WorkerEnded(int& tidSlot);
    void ApplyPriority(int tid, int level);
    // A failed read or write that means the device is gone wakes the event worker to end.
    void NoteFailedTransfer(const DeviceResult& result);

    std::unique_ptr<ISerialDevice> device_;
    bool fromFactory_ = false;
    bool networkDevice_ = false;

    // Hand-over events.
    TVaxoEvent deviceEventReady_{false}; // TComThread -> TDispThread: a device event waits
    TVaxoEvent deviceEventDone_{false};  // TDispThread -> TComThread: the event was serviced
                                         // (owner -> TComThread too, to release it on a stop)
    TVaxoEvent workerSignal_{false};     // worker -> owner: started
    TVaxoEvent outputPending_{false};    // writers -> TOutThread: bytes were queued
    TVaxoEvent outputKick_{false};       // owner -> TOutThread: stop writing (purge or stop)
    TVaxoEvent purgeAck_{false};         // TOutThread -> owner: no write in progress
    TVaxoEvent outputProgress_{false};   // TOutThread -> TDispThread: bytes left the ring
    TVaxoEvent comWake_{false}; // owner -> TComThread: look at the stop flag; a worker whose
                                // read or write found the device gone -> TComThread: end

    std::thread comThread_, dispThread_, outThread_;
    std::atomic<bool> comRunning_{false}, dispRunning_{false}, outRunning_{false};
    std::atomic<int> activeWorkers_{0};
    std::atomic<std::uint32_t> deviceEventMask_{0};
    std::atomic<bool> purgeRequested_{false};
    std::atomic<bool> hungUp_{false};
    LostHandler lostHandler_;

    // Error counts as last seen by DeviceStatus, which the base calls from the dispatch worker
    // and the main thread, under no lock of its own.
    std::mutex countsLock_;
    LineErrorCounts lastCounts_;
    bool countsValid_ = false;

    // The priority and the workers' thread ids. StatusLock (Rs485Mode) is taken under it,
    // never the other way round.
    std::mutex priorityLock_;
    int priority_ = 0;
    int comTid_ = 0, dispTid_ = 0, outTid_ = 0;
};

} // namespace pellwick
