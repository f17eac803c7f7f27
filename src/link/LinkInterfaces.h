// The two narrow interfaces between the serial link and the window that runs uploads.
// ILinkOperations is what the upload engine asks of the link; ILinkHost is what the link asks
// of the main window (the link sits below the upload engine, so it declares the host side and
// the main window supplies it).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/InputLook.h"
#include "link/LinkState.h"

namespace pellwick {

// The main window as the link sees it. All calls come on the GUI thread.
class ILinkHost {
public:
    virtual ~ILinkHost() = default;
    // The device's error string arrived in upload mode outside a block transfer.
    virtual void SetScriptError() = 0;
    // The device's error string arrived during a block transfer; called once the output drained.
    virtual void SetULError() = 0;
    // A block transfer ended normally in upload mode: the script goes on at the next tick.
    virtual void EnableScriptTimer() = 0;
    // Upload gauge, 0..100.
    virtual void SetUploadGauge(int percent) = 0;
    // Port-dependent controls of the main window (upload button, terminal actions).
    virtual void SetComBtnState(bool on) = 0;
    // The link's triggers were made or dropped (the port opened or closed again, the terminal
    // took the received bytes or gave them back): whether a run can start may have changed.
    virtual void TriggersChanged() {}
};

// How far the running block transfer, or the last one until the next starts, has got. Bytes
// count from the start of the transfer, times from the moment its first byte was queued.
struct TransferProgress {
    std::int32_t Total = 0;  // bytes of the transfer
    std::int64_t Handed = 0; // bytes handed to the driver (after a stop, without the bytes
                             // discarded before they got there)
    std::int64_t OnLine = 0; // bytes that can have reached the line by now
    bool Started = false;    // its first byte was queued
    // Its output has drained: out of the driver onto the line where the driver tells (a driver
    // that stops sending for a while is not waited for), out of the program's buffer where it
    // does not (pseudo-terminals). OnLine may go on growing after that, at the line's rate.
    bool Drained = false;
    // Once drained, the transfer's time on the line: until its last byte can have gone out,
    // which where the driver does not tell comes from the line's rate and may lie ahead.
    // Before that, the time since the first byte was queued.
    double Seconds = 0;
    // Once drained: how much longer the line may be carrying what the driver took, at the
    // rate the line has shown (a driver that does not tell may hold up to the most it takes).
    double SecondsLeft = 0;
    // FreezeProgress fixed the figures: the file stopped, and OnLine is what had gone by then.
    bool Frozen = false;

    // The upload gauge for it: the share on the line, in percent (nothing to send is all sent).
    int OnLinePercent() const {
        return TransferGaugePercent(Total, static_cast<std::int32_t>(Total - OnLine));
    }
};

// Rounds a string waits at most for output room before it goes out regardless.
inline constexpr int StringPacingRounds = 15000;
// Ticks of 55 ms a command waits at most for its answer.
inline constexpr std::int32_t AnswerWaitTicks = 100;
// The quiet wait before an answer: the line counts as quiet after this long without a byte, or
// 64 character times on a slow line; the wait takes at most InputQuietLimit.
inline constexpr std::chrono::milliseconds InputQuietShortest{10};
inline constexpr std::chrono::milliseconds InputQuietLimit{1100};
// How long the output of a transfer may stand still before the line counts as held.
inline constexpr std::chrono::milliseconds TransferHeldLimit{5000};

// The link as the upload engine sees it. Every wait is the caller's: the operations that take
// part in one (room for a string, a command's answer, the quiet before it) each do one look and
// return, so that the caller's thread goes on with other work in between. Operations may throw
// the serial engine's exceptions (for example when the port is closed); the command exchange
// reports its own errors and answers "ERROR".
class ILinkOperations {
public:
    virtual ~ILinkOperations() = default;
    // Who hears of the transfer's end, errors and the port's use; null for nobody.
    virtual void SetHost(ILinkHost* host) = 0;

    // --- A string: it waits for room in the output buffer (pacing), then goes out.
    // The output buffer has room for `length` bytes and ten more.
    virtual bool RoomFor(std::size_t length) = 0;
    // Hands the string to the port, room or not; what came before it is not part of what
    // follows (the input the prompt's handler threw away is forgotten).
    virtual void WriteString(const std::string& text) = 0;

    // --- A command and its answer (SendInitCmd one look at a time).
    // Sends the text and begins taking the answer: until EndCommand no trigger is tested and
    // every byte taken goes to State().ReplyText. A port that fails is reported ("Error
    // Accessing Comm Port !") and fails the exchange.
    virtual void BeginCommand(const std::string& text) = 0;
    // Takes what has arrived of the answer: Done once the active prompt has come (in any
    // letter case), Gone when the line has gone or the exchange failed.
    virtual InputLook TakeAnswer() = 0;
    // Ends the exchange (triggers are tested again) and classifies the reply: "OK", "ERROR" or
    // the value after the result marker; "ERROR" for a failed exchange.
    virtual std::string EndCommand() = 0;

    // --- What has come before an answer (TakeInput one look at a time).
    // Begins taking the input; until EndTakeInput no trigger is tested.
    virtual void BeginTakeInput() = 0;
    // Takes what has arrived and counts it into `taken`; Gone when the line has gone.
    virtual InputLook TakeArrived(std::size_t& taken) = 0;
    // Ends it: returns what was taken, with what the prompt's handler threw away since the
    // last command went out, and discards the rest of the input.
    virtual std::string EndTakeInput() = 0;
    // How long the line must be without a byte to count as quiet (InputQuietShortest, or 64
    // character times on a slow line).
    virtual std::chrono::milliseconds QuietTime() const = 0;

    // --- The block transfer.
    // Starts a paced block transfer. The bytes must stay valid until the transfer has ended
    // (the host's EnableScriptTimer or SetULError). A transfer start clears a stale stop request.
    virtual void SendBuffer(const std::uint8_t* bytes, std::uint32_t count) = 0;
    // Stop the running transfer after at most one more block.
    virtual void SetStopRequest(bool on) = 0;
    // Ends the running transfer now (the operator cancelled, the line is held): what is queued
    // and has not reached the line is discarded, and the end is told as a drain would tell it.
    virtual void StopTransfer() = 0;
    // Throws away what is queued for the line and not yet on it, in the program's buffer and in
    // the driver's (a device that refused a file while its driver still held some of it).
    virtual void DiscardOutput() = 0;
    // Why the running transfer's output has stood still for TransferHeldLimit, in words for the
    // operator ("Nothing left for 5 s: CTS is low and Require CTS is on."); empty while it
    // moves, or where nothing says it is held.
    virtual std::string TransferHeld() = 0;
    // A block transfer has started and its end (the output's drain, or the line's loss) has not
    // yet been told to the host: the bytes handed to SendBuffer are still in use.
    virtual bool TransferRunning() const = 0;
    // The running or last block transfer; cheap enough to ask at any moment. A link that
    // does not follow its transfers answers an empty one.
    virtual TransferProgress Progress() const { return {}; }
    // From now on Progress tells the running or last transfer as it stands at this moment: the
    // bytes that can have reached the line, and the seconds since its first byte (a file that
    // has failed counts what had gone when it failed).
    virtual void FreezeProgress() {}

    virtual void SetUploadMode(bool on) = 0;
    // A run goes: the device's error string is watched even while another window (the
    // terminal) has the received bytes, so that a refusal is never missed.
    virtual void SetRunActive(bool on) = 0;
    virtual bool SCommOpen() = 0;
    // The port is open and holds every trigger a run needs (a trigger string the port refused
    // leaves it open but unusable for uploads).
    virtual bool TriggersReady() = 0;
    // The device hung up (peer gone, adapter pulled) since the port was opened: nothing sent
    // reaches it any more and no answer will come.
    virtual bool LineHungUp() = 0;
    // The trigger strings and the reply of the last command exchange, as received.
    virtual const LinkState& State() const = 0;
    // A note about the line to keep with a run (a raw TCP port, whose line settings cannot
    // reach the device); empty when there is none.
    virtual std::string LineNote() const { return {}; }

    // The same operations waited for on the spot, for a caller whose thread has nothing else
    // to do meanwhile (tools and tests; a run never uses them): between looks the thread
    // sleeps a millisecond.
    // A string waits for room (at most StringPacingRounds looks), then goes out regardless.
    void SendDataString(const std::string& text);
    // The command's answer is waited for up to AnswerWaitTicks ticks.
    void SendInitCmd(const std::string& text, std::string& answer);
    // What has been received and not yet read (stale answers, line noise), and what goes on
    // arriving until the line is quiet or InputQuietLimit has passed, taken out of the input.
    std::string TakeInput();
};

} // namespace pellwick
