// The link operations on the serial port: paced sending of bytes, strings and blocks, the
// command exchange that classifies the device's answer, the block upload driven by the
// port's output-buffer triggers, the switch between the normal and the upload trigger strings,
// and the port set-up with its four triggers. Needs no window: the main window is reached
// through ILinkHost, message boxes through IMessageBoxes, the busy cursor through a hook.
// Nothing here waits: a wait for room, an answer or a quiet line is its caller's, one look at a
// time (ILinkOperations).
#pragma once

#include "link/ILinkPort.h"
#include "link/LinkInterfaces.h"
#include "link/LinkState.h"
#include "link/Rs232SettingsFile.h"
#include "serial/MessageBoxes.h"
#include "serial/TextMatcher.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace pellwick {

class LinkOperations : public ILinkOperations {
public:
    // Installs the four port handlers on the port.
    LinkOperations(ILinkPort& port, IMessageBoxes& boxes);
    ~LinkOperations() override;
    LinkOperations(const LinkOperations&) = delete;
    LinkOperations& operator=(const LinkOperations&) = delete;

    // The main window; none until it is set (its calls are then left out).
    void SetHost(ILinkHost* host) override { host_ = host; }
    ILinkHost* Host() const { return host_; }
    // Called with true before a command exchange waits and with false after it.
    void SetBusyCursorHook(std::function<void(bool busy)> hook) { busyCursor_ = std::move(hook); }
    // The clock that times transfers and the held line; by default the steady clock.
    using Clock = std::chrono::steady_clock;
    void SetClockHook(std::function<Clock::time_point()> now) { now_ = std::move(now); }

    LinkState& State() { return state_; }
    const LinkState& State() const override { return state_; }
    ILinkPort& Port() { return port_; }

    // --- ILinkOperations ---------------------------------------------------------------------
    bool RoomFor(std::size_t length) override;
    void WriteString(const std::string& text) override;
    void BeginCommand(const std::string& text) override;
    InputLook TakeAnswer() override;
    std::string EndCommand() override;
    void BeginTakeInput() override;
    InputLook TakeArrived(std::size_t& taken) override;
    std::string EndTakeInput() override;
    std::chrono::milliseconds QuietTime() const override {
        return QuietFor(port_.BytesPerSecond());
    }
    void SendBuffer(const std::uint8_t* bytes, std::uint32_t count) override;
    void SetUploadMode(bool on) override;
    void SetStopRequest(bool on) override { state_.StopRequest = on; }
    void StopTransfer() override;
    void DiscardOutput() override;
    std::string TransferHeld() override;
    bool TransferRunning() const override { return port_.Tag() != PhaseNone; }
    void FreezeProgress() override;
    bool TriggersReady() override;
    // While a run goes the error trigger stays armed even when the terminal has switched the
    // data triggers off; never throws (a trigger that cannot be made now is made at the next
    // opening).
    void SetRunActive(bool on) override;
    bool SCommOpen() override { return port_.Open(); }
    bool LineHungUp() override { return port_.HungUp(); }
    TransferProgress Progress() const override;
    std::string LineNote() const override { return port_.LineNote(); }

    // --- Further operations --------------------------------------------------------------------
    void SendDataByte(std::uint8_t byte);
    // Queues the bytes only when the output buffer has more room than that.
    bool SendBlock(const std::uint8_t* bytes, std::uint16_t count);
    // Reads count bytes; false when that failed or a line error is pending.
    bool GetBuffer(void* buffer, std::uint16_t count);
    // The n-th waiting byte (1 = next), 0 on any failure.
    std::uint8_t PreviewChar(std::uint16_t n);
    void FlushAll();
    void FlushInput();
    // Creates (on) or drops (off) the prompt and error triggers of the current mode; either
    // way only what is missing or held. The choice stays for the port's next opening. While a
    // run goes, off keeps the error trigger: only the prompt trigger, whose handler discards
    // input, would take the received bytes from the terminal.
    void DataTriggerEnabled(bool on);
    bool DataTriggersWanted() const { return dataTriggersWanted_; }
    bool RunActive() const { return runActive_; }

    // --- Port handlers -------------------------------------------------------------------------
    void VaxoComPort1WaitChar(char c);
    void VaxoComPort1TriggerData(std::uint16_t triggerHandle);
    void VaxoComPort1TriggerOutbuffFree();
    void VaxoComPort1TriggerOutbuffUsed();

    // --- Port set-up ---------------------------------------------------------------------------
    // Takes the trigger strings and sizes; the active strings become those of normal mode.
    void ApplyLinkSettings(const LinkSettings& link);
    // Hardware flow (cleared first, then the four flags), DTR and RTS onto the port.
    void ApplyFlowAndLines(const Rs232Settings& settings);
    // Baud rate, port number, data bits, parity and stop bits onto the port.
    void ApplyLineSettings(const Rs232Settings& settings);
    // Closes the port and sets every setting, the output buffer size included.
    void ConfigurePort(const Rs232Settings& settings);
    // Opens the port and creates the four triggers (the data triggers only while they are
    // switched on); tells the host whether the port is usable. On failure shows "Error Opening
    // Selected Comm Port !" (with the device and the reason on the next line when the device
    // layer knows them) and answers false; the port stays open when only a trigger failed.
    bool OpenPortWithTriggers();
    // The text OpenPortWithTriggers showed when it last failed; empty once it opened the port.
    const std::string& OpenFailure() const { return openFailure_; }
    // The same without the host and the message: the first failure is thrown, after every
    // trigger was tried.
    void OpenWithTriggers();
    // Drops the triggers it holds and closes the port, when it is open; never drops one twice.
    void CloseAndDropTriggers();
    // The port has closed because its device went away, taking the triggers with it: a
    // transfer under way ends and the host hears of an upload error (no room or drain notice
    // will come). Between transfers nothing is reported here: a run fails at its next step that
    // needs the line, and a run with nothing left to send (a closing message) ends as it would.
    // The host's port-dependent controls are switched off.
    void LineLost();
    // The whole set-up of a start: link settings, port settings, open, triggers.
    bool OpenWithSettings(const Rs232Settings& settings, const LinkSettings& link);

    // The answer of a command exchange for the reply text, as SendInitCmd classifies it.
    static std::string ClassifyReply(const std::string& reply, const std::string& resultMarker,
                                     const std::string& activeError,
                                     const std::string& activePrompt);
    // The upload gauge for a transfer of total bytes with remaining still to hand over.
    static int GaugePercent(std::int32_t total, std::int32_t remaining);

    // Looks a string waits at most for output room.
    static constexpr int PacingRounds = StringPacingRounds;
    // How long the end of a transfer waits for a driver whose output queue does not shrink
    // (flow control holding the line) before it ends as if the driver had not told.
    static constexpr std::chrono::milliseconds DriverStallLimit{5000};
    // The most a driver that does not tell what it holds (a pseudo-terminal) takes before its
    // writer must wait: 20 KiB, as Linux pseudo-terminals take.
    static constexpr std::int64_t UntoldDriverHolds = 20 * 1024;
    static constexpr std::int32_t AnswerTicks = AnswerWaitTicks;
    // TakeInput calls the line quiet after this long without a byte, or 64 character times on
    // a slow line; it waits at most QuietLimit for that.
    static constexpr std::chrono::milliseconds QuietShortest = InputQuietShortest;
    static constexpr std::chrono::milliseconds QuietLimit = InputQuietLimit;
    static std::chrono::milliseconds QuietFor(double bytesPerSecond);
    // The most bytes of dropped input kept for TakeInput.
    static constexpr int DroppedKept = 256;

private:
    void CreateTrigger(std::uint16_t& handle, const std::function<std::uint16_t()>& make,
                       std::exception_ptr& failure);
    void DropTrigger(std::uint16_t& handle);
    void CreateDataTriggers();
    void DropDataTriggers();
    void ForgetTriggers();
    void ArmTransferTrigger(std::uint16_t handle, std::uint16_t value);
    // Queues count bytes at the block cursor as part of the transfer.
    void QueueTransferBlock(std::uint16_t count);
    // The driver still holds transfer output that is worth waiting for (see DriverStallLimit).
    bool DriverStillSending();
    void EndTransfer(bool drained);
    // Bytes of the transfer handed to the driver.
    std::int64_t TransferHanded() const;
    void ShowError(const char* text);
    // Adds the input waiting now to dropped_.
    void KeepDroppedInput();
    // What a flow-control line says of output that stands still in a driver that tells its
    // queue: why it is held, or empty.
    std::string FlowLineHolding();
    void ShowBusy(bool busy);
    void TellTriggers();

    ILinkPort& port_;
    IMessageBoxes& boxes_;
    ILinkHost* host_ = nullptr;
    std::function<void(bool)> busyCursor_;
    LinkState state_;
    // Off while another window (the terminal) takes the received bytes.
    bool dataTriggersWanted_ = true;
    // A run goes: its error trigger is wanted whatever the terminal wants.
    bool runActive_ = false;
    // Input the prompt's handler threw away since the last command went out, at most
    // DroppedKept bytes.
    std::string dropped_;
    std::string openFailure_;
    // The command exchange under way: its answer's match, and whether the port failed it.
    std::unique_ptr<TextMatcher> answer_;
    bool commandFailed_ = false;
    bool busyShown_ = false;
    // Ends a transfer whose room and drain notices will not come (the port closed or its
    // device went away) and tells the host; false when no transfer ran.
    bool AbandonTransfer();

    // The running or last block transfer as far as the line is concerned.
    struct TransferTrack {
        bool Started = false;  // its first byte was queued, at FirstQueued
        bool Ended = false;    // it drained or the line went away, at EndedAt
        bool Drained = false;  // it ended by draining
        bool LineTold = false; // at its end the driver told it held none of it
        std::int64_t Queued = 0;
        // The port's handed-over count before the transfer's first byte: output queued ahead
        // of it (its header) goes to the driver first.
        std::uint64_t HandedBase = 0;
        std::int64_t HandedAtEnd = 0;
        double BytesPerSecond = 0;
        Clock::time_point FirstQueued{};
        Clock::time_point EndedAt{};
        // While the end waits for the driver: the least it held so far, and when it got there.
        std::int32_t DriverLeast = -1;
        Clock::time_point DriverMovedAt{};
        // Its output as TransferHeld last saw it move: bytes handed over, the driver's queue.
        bool Watched = false;
        std::uint64_t WatchHanded = 0;
        std::int32_t WatchDriver = -1;
        Clock::time_point MovedAt{};
        // Its figures fixed by FreezeProgress, and when.
        bool Frozen = false;
        std::int64_t FrozenOnLine = 0;
        Clock::time_point FrozenAt{};
    };
    TransferTrack transfer_;
    // The most the snapshot has said was on the line: bytes on the line never go back.
    mutable std::int64_t onLineShown_ = 0;
    std::function<Clock::time_point()> now_;
};

} // namespace pellwick
