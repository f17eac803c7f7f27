// A serial port on a virtual clock with a simulated device behind it, for soaks and tests that
// run the link and the upload run for minutes of virtual time in milliseconds. It behaves like
// the real port where the link can tell: an output ring of OutSize bytes that a driver takes
// and puts on the line at the line's byte rate; status triggers (room >= N, queued <= N) and
// data triggers fired in later timer events, the data triggers only on arriving input and not
// while an input wait runs (what the wait took is scanned with the next arrival); hang-up and
// loss of the line; a CTS line that holds a UART's output under RTS/CTS flow control. The device
// is a DeviceProtocol whose answers arrive at their times, paced at the same rate.
//
// Two drivers: a UART that tells what it holds (a few KiB), and a pseudo-terminal that tells
// nothing, holds up to 20 KiB and is emptied only as fast as the device reads it.
#pragma once

#include "devsim/DeviceConfig.h"
#include "devsim/DeviceProtocol.h"
#include "link/ILinkPort.h"
#include "serial/TriggerTable.h"
#include "support/VirtualClock.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pellwick::test {

enum class DriverKind { Uart, PseudoTerminal };

class VirtualDevicePort : public ILinkPort {
public:
    static constexpr std::size_t UartHolds = 4096;
    static constexpr std::size_t PseudoTerminalHolds = 20 * 1024;

    VirtualDevicePort(VirtualClock& clock, DriverKind driver);
    ~VirtualDevicePort() override;
    VirtualDevicePort(const VirtualDevicePort&) = delete;
    VirtualDevicePort& operator=(const VirtualDevicePort&) = delete;

    // Another adapter; only while the port is closed.
    void SetDriver(DriverKind driver) { driver_ = driver; }
    DriverKind Driver() const { return driver_; }

    // A new device behind the port (a board plugged in), replacing any other.
    void PlugIn(const DeviceConfig& config);
    // The device goes: the line hangs up at once, and an open port is lost in a later event
    // (closed by itself, its triggers gone; then OnLost).
    void Unplug();
    bool Plugged() const { return device_ != nullptr; }
    void SetCts(bool high);
    // The port was closed by the loss of its device and not opened since.
    bool Lost() const { return lost_; }
    // The owner opens or closes the port itself now: a loss is forgotten.
    void ClearLoss();

    // Told of every opening (true) and closing (false), the closing of a loss included.
    std::function<void(bool opening)> OnOpenClose;
    // After a loss was announced as a closing.
    std::function<void()> OnLost;
    // Another reader of the input (a terminal window): called when bytes have arrived and no
    // input wait runs, after the data triggers.
    std::function<void()> InputReader;

    // What the device did, for the reader of a transcript: '*' its notes (and "device ready",
    // "unplugged"), '>' each answer as it began to leave; t in seconds of the clock.
    struct Line {
        double t;
        char direction;
        std::string text;
    };
    const std::vector<Line>& Journal() const { return journal_; }
    void ClearJournal() { journal_.clear(); }
    // Bytes the device behind the port has read since it was plugged in.
    std::uint64_t DeviceReceived() const { return received_; }
    // The last moment output moved: into the driver or out of it onto the line.
    RunClock::TimePoint LastOutputMove() const { return lastMove_; }

    // --- ILinkPort -----------------------------------------------------------------------------
    void SetHandlers(LinkPortHandlers handlers) override { handlers_ = std::move(handlers); }
    bool Open() const override { return open_; }
    void SetOpen(bool open) override;
    void SetComNumber(std::uint16_t) override {}
    void SetBaud(std::int32_t baud) override { baud_ = baud; }
    void SetDataBits(std::uint16_t bits) override { dataBits_ = bits; }
    void SetParityCode(std::uint8_t code) override { parity_ = code; }
    void SetStopBits(std::uint16_t bits) override { stopBits_ = bits; }
    void SetHWFlowOptions(std::uint8_t options) override;
    void SetDTR(bool) override {}
    void SetRTS(bool) override {}
    void SetOutSize(std::uint16_t size) override { outSize_ = size; }
    int Tag() const override { return tag_; }
    void SetTag(int tag) override { tag_ = tag; }
    std::uint16_t OutputRoom() override;
    std::uint16_t OutputCount() override;
    std::uint64_t OutputHanded() override { return handed_; }
    std::int32_t DriverOutputCount() override;
    double BytesPerSecond() const override;
    std::uint16_t InputCount() override;
    std::uint16_t PendingLineError() override { return 0; }
    void WriteChar(char c) override { Queue(&c, 1); }
    void WriteText(const std::string& text) override { Queue(text.data(), text.size()); }
    void WriteBlock(const void* buffer, std::uint16_t length) override {
        Queue(static_cast<const char*>(buffer), length);
    }
    void ReadBlock(void* buffer, std::uint16_t length) override;
    char PeekInput(std::uint16_t index) override;
    void DiscardInput() override;
    void DiscardOutput() override;
    std::uint16_t NewTextTrigger(const std::string& text, bool ignoreCase) override;
    std::uint16_t NewStatusTrigger(std::uint16_t kind) override;
    void DropTrigger(std::uint16_t handle) override;
    void ArmStatusTrigger(std::uint16_t handle, std::uint16_t value, bool activate) override;
    bool HungUp() override { return hungUp_; }
    void BeginInputWait() override;
    InputLook TakeWaitingInput(const std::function<bool(char)>& done) override;
    void EndInputWait() override { awaiting_ = false; }
    bool CtsSignal() override { return open_ && driver_ == DriverKind::Uart && cts_; }
    std::uint8_t HWFlowOptions() const override { return flow_; }

private:
    // Bytes one direction of the line may have carried since it began to carry them.
    struct Pacer {
        bool busy = false;
        RunClock::TimePoint from{};
        std::int64_t moved = 0;
        std::int64_t Allowance(RunClock::TimePoint now, double rate) const;
        void Begin(RunClock::TimePoint at);
    };
    struct Answer {
        std::string bytes;
        RunClock::TimePoint due;
        bool journaled = false;
    };

    void RequireOpen() const;
    void Queue(const char* bytes, std::size_t count);
    void Close(bool lost);
    // Forgets what the line held in either direction and the triggers set on it.
    void ClearLine();
    // The driver takes what it has room for; then the status triggers are tested.
    void TakeIntoDriver();
    void StatusPass();
    void ScanArrived();
    void LineStep();
    void ScheduleLine();
    // The device's new answers and notes.
    void Collect();
    bool OutputHeld() const;
    void Note(const std::string& text);
    double Seconds() const;

    VirtualClock& clock_;
    DriverKind driver_;
    std::unique_ptr<RunTimer> worker_, line_, idle_, loss_;
    LinkPortHandlers handlers_;
    TriggerTable triggers_;

    bool open_ = false, hungUp_ = false, lost_ = false, awaiting_ = false, cts_ = true;
    std::int32_t baud_ = 19200;
    std::uint16_t dataBits_ = 8, stopBits_ = 1, outSize_ = 4096;
    std::uint8_t parity_ = 0, flow_ = 0;
    int tag_ = 0;

    std::string ring_, driverHolds_, input_, unscanned_;
    std::uint64_t handed_ = 0;
    Pacer out_, in_;
    std::optional<RunClock::TimePoint> lineDue_;
    RunClock::TimePoint lastMove_{};

    std::unique_ptr<DeviceProtocol> device_;
    DeviceConfig config_;
    std::uint64_t received_ = 0;
    std::deque<Answer> answers_;
    std::vector<Line> journal_;
    RunClock::TimePoint origin_;
};

} // namespace pellwick::test
