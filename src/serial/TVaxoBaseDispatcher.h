// The serial engine's dispatcher: one per open port. It owns the input ring (8192 bytes), the
// output ring (OutSize bytes), the trigger table and the handler list, keeps the line, modem
// and flow settings, and runs the triggers against arriving data, device status and time
// (the trigger passes). TVaxoWin32Dispatcher adds the device layer and the three workers.
//
// Threads and locks
// - The application's main thread calls every public operation.
// - TComThread waits for device events; TDispThread reads input, tests triggers and delivers
//   notifications (NotificationDelivery); TOutThread writes the output ring to the device.
//   The handler list, the delivery and the trigger passes are in DispatcherDelivery.cpp.
// - StatusLock guards the line settings and LineBlock, modem and error bits, the handler list
//   and worker start. The input ring (InputRing), the output ring (OutputRing), the trigger
//   table (TriggerTable) and the delivery in flight (NotificationDelivery) each have a lock of
//   their own, held only inside their operations.
// - Lock order: the dispatcher registry's lock (DispatcherRegistryLock, held by the port's
//   notification window while the port's event handlers run, which call in here), then the
//   input ring's, then the trigger table's: the input ring's lock is held while a scan feeds
//   the data triggers. It is let go while the device is read, so that taking input never
//   waits for a system call. The output ring's and the trigger table's locks are never held
//   with StatusLock. No dispatcher lock is held while a notification is being delivered, and
//   the registry lock is never taken under one. The device layer is called under StatusLock
//   for the line settings, the modem lines and RS485, and under no dispatcher lock otherwise.
// - Written under StatusLock, read without it (atomic, so that a worker may look at any
//   time): delivering_ (set and cleared by the dispatch worker around a delivery, cleared at
//   open), waitingForText_ (the main thread's wait for text) and deliveryNeeded_.
// - Written without a lock, each an atomic that stands alone: no other field must change with
//   it, a worker only reads the stop and close flags and acts on them at its next look, and it
//   is woken through its events after they are set. stopWorkers_ and closePending_ are set and
//   cleared by the main thread (closePending_ set when it closes from inside a delivery).
//   workersStarted_ is set by StartWorkers and cleared by StopWorkers, both on the main thread,
//   or by the last worker to end when the dispatch worker ends by itself after such a close.
//   outputSent_ is set by QueueBlock and cleared at open on the main thread, and taken by the
//   dispatch worker's status tests. outputHanded_ is a count that only the output worker adds
//   to and any thread reads (the output ring's level is not read with it).
// - DriverOutputQueued asks the driver itself and takes no lock; the main thread calls it
//   while the device is open, beside the output worker's writes.
#pragma once

#include "serial/DispatcherTypes.h"
#include "serial/InputRing.h"
#include "serial/NotificationDelivery.h"
#include "serial/OutputRing.h"
#include "serial/TriggerTable.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pellwick {

class TVaxoBaseDispatcher {
public:
    // owner: the port component that made the dispatcher (none for a probe).
    explicit TVaxoBaseDispatcher(void* owner);
    virtual ~TVaxoBaseDispatcher();
    TVaxoBaseDispatcher(const TVaxoBaseDispatcher&) = delete;
    TVaxoBaseDispatcher& operator=(const TVaxoBaseDispatcher&) = delete;

    void* Owner() const { return owner_; }
    void ClearOwner() { owner_ = nullptr; }
    // Index of this dispatcher in the dispatcher registry.
    int PortHandle() const { return portHandle_; }

    // --- Device and line -------------------------------------------------------------------
    int OpenDevice(const std::string& name, std::uint32_t baud, int parity, int dataBits,
                   int stopBits, std::uint32_t inSize, std::uint32_t outSize, bool dtr, bool rts);
    int CloseDevice();
    bool DeviceIsOpen() const;
    // baud 0, parity 5, dataBits 9, stopBits 3 keep the current value.
    int ConfigureLine(std::uint32_t baud, int parity, int dataBits, int stopBits);
    void QueryLine(std::uint32_t& baud, int& parity, int& dataBits, int& stopBits);
    int SizeDeviceQueues(std::uint32_t inSize, std::uint32_t outSize);

    // --- Output ----------------------------------------------------------------------------
    int QueueByte(std::uint8_t byte);
    int QueueBlock(const void* data, std::uint32_t count);
    std::uint32_t OutputUsed();
    std::uint32_t OutputFree();
    int ClearOutput();
    // Bytes the output worker has handed to the driver since the dispatcher was made: what
    // the driver's writes accepted. Bytes discarded from the ring, and runs a failing device
    // refused, are not among them.
    std::uint64_t OutputHanded() const { return outputHanded_.load(); }
    // Bytes the driver still holds for output, or -1 when it does not tell or no device is
    // open.
    long DriverOutputQueued();

    // --- Input -----------------------------------------------------------------------------
    int TakeByte(std::uint8_t& byte);
    int TakeBlock(void* buffer, std::uint32_t count);
    // n = 1 is the oldest waiting byte.
    int PeekByteAt(std::uint32_t n, std::uint8_t& byte);
    bool HasInput();
    std::uint32_t InputUsed();
    int ClearInput();

    // --- Modem lines and line status -------------------------------------------------------
    int DriveDtr(int on);
    int DriveRts(int on);
    // A 250 ms break after the driver's output has gone out; the caller waits for its end.
    // 0, ecCommNotOpen without a device, or -(OS error).
    int SendBreak();
    std::uint8_t SampleModemStatus(std::uint8_t mask);
    bool CtsAsserted();
    bool DsrAsserted();
    bool DcdAsserted();
    bool RingAsserted();
    int TakeLineError();
    bool TakeBreakFlag();
    std::uint32_t ModemBits();
    std::uint32_t ErrorBits();

    // --- Flow control ----------------------------------------------------------------------
    // options: THWFlowOptions bits.
    int ConfigureHardwareFlow(std::uint32_t bufferFull, std::uint32_t bufferResume,
                              std::uint32_t options);
    // options: SoftwareFlowOptions bits.
    int ConfigureSoftwareFlow(std::uint32_t bufferFull, std::uint32_t bufferResume,
                              std::uint32_t options);
    int StopSoftwareFlow();
    int ConfigureFlowChars(std::uint8_t xonChar, std::uint8_t xoffChar);
    void QueryFlow(std::uint32_t& hwOptions, std::uint32_t& swOptions, std::uint8_t& xonChar,
                   std::uint8_t& xoffChar);
    int ApplyRs485Mode(bool on);
    bool Rs485Mode();
    void SetOptionFlag(std::uint32_t flag, bool on);
    std::uint32_t OptionFlags();
    virtual void SetWorkerPriority(int priority);

    // --- Triggers --------------------------------------------------------------------------
    int AddDataMatchTrigger(const void* bytes, std::uint32_t length, bool ignoreCase);
    int AddTickTrigger();
    int AddStatusWatch(std::uint32_t kind);
    int ArmTickTrigger(std::uint32_t handle, std::int32_t ticks, bool activate);
    int ArmStatusWatch(std::uint32_t handle, std::uint32_t value, bool activate);
    int DeleteTrigger(std::uint32_t handle);
    void SetAvailThreshold(std::uint32_t count);
    void ClearAllTriggers();
    void SnapshotTriggers(TriggerSaveRecord& save);
    void ReinstateTriggers(const TriggerSaveRecord& save);

    // --- Notification windows ---------------------------------------------------------------
    // A window that takes the input (a terminal) is delivered input notices and waited for, as
    // every other notification is; while one is attached, the other windows get input notices
    // posted without waiting, at most one outstanding a window. Waiting for a second window each
    // batch halved a flood's speed.
    void AttachWindowHandler(INotificationWindow* window, bool takesInput = false);
    void DetachWindowHandler(INotificationWindow* window);
    // 0 recompute, 1 port handler installed, 2 port handler removed.
    void RecountHandlers(int change);

    // The port's wait-for-text reads the input itself: while it runs, the dispatch worker
    // reads input but neither tests triggers nor delivers, and unless the wait runs inside a
    // handler, its takes remove what they read at once (InputRing::SetDirectTakes), also while
    // the worker ends a delivery it had begun. Returns the previous value.
    bool SetWaitingForText(bool on);
    // Notifications are being delivered, or a wait-for-text is running.
    bool Delivering() const { return delivering_.load() || waitingForText_.load(); }
    bool ClosePending() const { return closePending_.load(); }
    // True from StartWorkers until the last worker has ended.
    bool WorkersStarted() const { return workersStarted_.load(); }

    // How long a notification window may take to handle one notification.
    static constexpr int DeliveryTimeoutMs = NotificationDelivery::TimeoutMs;

protected:
    // --- Device layer ------------------------------------------------------------------------
    virtual int DeviceOpen(const std::string& name, std::uint32_t inSize,
                           std::uint32_t outSize) = 0;
    virtual void DeviceClose() = 0;
    virtual bool DeviceOpenNow() const = 0;
    virtual int DeviceGetLine(LineBlock& block) = 0;
    virtual int DeviceSetLine(const LineBlock& block) = 0;
    virtual long DeviceRead(std::uint8_t* buffer, std::uint32_t count) = 0;
    // Error bits (ce*) since the last call, and the driver's input-queue count.
    virtual std::uint32_t DeviceStatus(std::uint32_t& inputQueued) = 0;
    virtual void DeviceEscape(LineFunction function) = 0;
    virtual int DeviceBreak() = 0;
    virtual int DevicePurgeInput() = 0;
    virtual int DevicePurgeOutput() = 0;
    virtual bool DeviceModemStatus(std::uint8_t& bits) = 0;
    // The driver's output queue, -1 when unknown.
    virtual long DeviceOutputQueued() = 0;
    virtual int DeviceSetRs485(bool on) = 0;
    // Waits up to timeoutMs for the device to have input; false when none came.
    virtual bool DeviceAwaitInput(int timeoutMs) = 0;
    // Waits up to timeoutMs for the device to have input (only when watchInput) or for signal
    // to be set. Returns kDeviceInputReady and kSignalReady bits (0: time ran out), or -1 when
    // the wait itself failed.
    virtual int DeviceAwaitInputOr(const TVaxoEvent& signal, bool watchInput, int timeoutMs) = 0;
    static constexpr int kDeviceInputReady = 1;
    static constexpr int kSignalReady = 2;
    // Wakes the output worker after bytes were queued.
    virtual void SignalOutputPending() = 0;
    // Stops the output worker from writing and waits until it has let go of the output ring.
    virtual void HaltOutputWorker() = 0;
    virtual void StartWorkers() = 0;
    // Stops and joins all workers.
    virtual void StopWorkers() = 0;
    // Stops the workers that never wait for the GUI thread (used when the dispatch worker is
    // in the middle of a delivery).
    virtual void StopDeviceWorkers() = 0;

    // --- Used by the workers -----------------------------------------------------------------
    // Reads what the driver holds into the ring; returns the driver's count before the read.
    std::uint32_t PullDeviceInput();
    void ServiceDeviceEvents(std::uint32_t mask);
    void ServiceIdleTriggers();
    // One pass of the output worker's writing: returns the contiguous run to write.
    bool NextOutputRun(const std::uint8_t*& data, std::uint32_t& count);
    void AdvanceOutputTail(std::uint32_t n, std::uint64_t generation);
    // n bytes of a run were accepted by the driver.
    void NoteOutputHanded(std::uint32_t n) { outputHanded_ += n; }
    std::uint64_t OutputGeneration();
    bool MoreInputPending();
    // The driver or the staging buffer holds input and the ring has room for it.
    bool DeviceInputWaiting();
    // Input waits in the staging buffer and the ring has room for it.
    bool StagedInputWaiting() { return inRing_.HasStagedInput() && !inRing_.Full(); }
    bool InputRingFull();
    void RecordModemChange();
    // A ring-indicator event arrived since the last modem-status read.
    void NoteRing();
    // Adds the device's new line-error bits to ErrorBits; returns the driver's input count.
    std::uint32_t RefreshDeviceStatus();
    // The dispatch worker's last act before it ends with a close pending.
    void FinishPendingClose();
    void ReleaseBuffers();
    // Gives up a notification the GUI thread has not begun (used when the workers stop and
    // when the GUI thread turns to the input itself). False while a handler of it runs.
    bool AbandonCurrentDelivery();

    std::atomic<bool> stopWorkers_{false};
    std::atomic<bool> workersStarted_{false};
    std::atomic<bool> closePending_{false};

private:
    bool ScanNewInput();
    bool TestStatusTriggers();
    bool TestTimerTriggers();
    bool StatusPass(); // runs TestStatusTriggers until none fires; true if any fired
    bool DeliverTriggerEvent(std::uint32_t msg, std::uint32_t param, std::uint32_t extra);
    int SetLineBlockLocked(LineBlock& block);
    // Reads the line block, sets the flow limits for the two input levels and what set()
    // changes, and applies it; ecBadArgument for levels out of range.
    int ConfigureFlow(std::uint32_t bufferFull, std::uint32_t bufferResume,
                      const std::function<void(LineBlock&)>& set);
    // DTR or RTS by hand (StatusLock held): 1, with the line kept, while flow control drives it.
    int DriveControlLine(bool byFlow, bool& state, int on, LineFunction set, LineFunction clear);
    void DrainBeforeReconfigure();

    void* owner_;
    int portHandle_ = -1;

    // Device and line state (StatusLock).
    std::uint32_t errorBits_ = 0;
    std::uint32_t inSize_ = 0;
    std::uint32_t outSize_ = 0;
    std::uint32_t modemBits_ = 0;
    LineBlock lineBlock_;
    std::uint32_t currentBaud_ = 115200;
    std::uint32_t optionFlags_ = 0;
    bool dtrState_ = true, dtrFlow_ = false, rtsState_ = true, rtsFlow_ = false;
    // The device's line settings were last applied with the handshake driving RTS.
    bool rtsFlowApplied_ = false;
    bool rs485Mode_ = false;
    bool rs485ByDriver_ = false;
    bool ringSeen_ = false;

    // The handler list (StatusLock).
    struct WindowHandler {
        INotificationWindow* window;
        bool removed;
        bool takesInput = false;
        // The input notice posted to a window that does not take the input, until handled.
        std::shared_ptr<DeliveryToken> notice;
    };
    std::vector<WindowHandler> windows_;
    bool portHandlerInstalled_ = false;
    bool handlerRemovalPending_ = false;
    // Written under StatusLock, read without it.
    std::atomic<bool> deliveryNeeded_{false};
    std::atomic<bool> delivering_{false};     // set by the dispatch worker around a delivery
    std::atomic<bool> waitingForText_{false}; // set by the GUI thread's wait-for-text
    // The notification in flight (its own lock).
    NotificationDelivery delivery_;

    // The rings and the trigger table, each under its own lock.
    InputRing inRing_;
    TriggerTable triggers_;
    OutputRing outRing_;
    // Where the last availability notice ended (dispatch worker; reset at open).
    std::uint32_t lastNotify_ = 0;
    std::atomic<bool> outputSent_{false};
    std::atomic<std::uint64_t> outputHanded_{0};

protected:
    std::recursive_mutex statusLock_;
};

} // namespace pellwick
