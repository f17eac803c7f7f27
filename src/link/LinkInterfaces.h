// The two narrow interfaces between the serial link and the window that runs uploads.
// ILinkOperations is what the upload engine asks of the link; ILinkHost is what the link asks
// of the main window (the link sits below the upload engine, so it declares the host side and
// the main window supplies it).
#pragma once

#include <cstdint>
#include <string>

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

    // The upload gauge for it: the share on the line, in percent (nothing to send is all sent).
    int OnLinePercent() const {
        return TransferGaugePercent(Total, static_cast<std::int32_t>(Total - OnLine));
    }
};

// The link as the upload engine sees it. Operations may throw the serial engine's exceptions
// (for example when the port is closed); SendInitCmd reports its own errors and answers "ERROR".
class ILinkOperations {
public:
    virtual ~ILinkOperations() = default;
    // Who hears of the transfer's end, errors and the port's use; null for nobody.
    virtual void SetHost(ILinkHost* host) = 0;
    virtual void SendDataString(const std::string& text) = 0;
    virtual void SendInitCmd(const std::string& text, std::string& answer) = 0;
    // Starts a paced block transfer. The bytes must stay valid until the transfer has ended
    // (the host's EnableScriptTimer or SetULError). A transfer start clears a stale stop request.
    virtual void SendBuffer(const std::uint8_t* bytes, std::uint32_t count) = 0;
    virtual void SetUploadMode(bool on) = 0;
    // Stop the running transfer after at most one more block (the operator cancelled).
    virtual void SetStopRequest(bool on) = 0;
    // A block transfer has started and its end (the output's drain, or the line's loss) has not
    // yet been told to the host: the bytes handed to SendBuffer are still in use.
    virtual bool TransferRunning() const = 0;
    // A run goes: the device's error string is watched even while another window (the
    // terminal) has the received bytes, so that a refusal is never missed.
    virtual void SetRunActive(bool on) = 0;
    virtual bool SCommOpen() = 0;
    // Takes what has been received and not yet read (stale answers, line noise), and what goes
    // on arriving until the line is quiet for a moment, out of the input, so that it cannot
    // end the next wait; returns it.
    virtual std::string TakeInput() = 0;
    // The device hung up (peer gone, adapter pulled) since the port was opened: nothing sent
    // reaches it any more and no answer will come.
    virtual bool LineHungUp() = 0;
    // The trigger strings and the reply of the last command exchange, as received.
    virtual const LinkState& State() const = 0;
    // The running or last block transfer; cheap enough to ask at any moment. A link that
    // does not follow its transfers answers an empty one.
    virtual TransferProgress Progress() const { return {}; }
    // A note about the line to keep with a run (a raw TCP port, whose line settings cannot
    // reach the device); empty when there is none.
    virtual std::string LineNote() const { return {}; }
};

} // namespace pellwick
