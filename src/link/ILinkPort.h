// The part of the port component that the link drives, as an interface: the window-free link
// logic runs on the real port (ComPortLink) in the program and on a scripted port in tests.
// Every call comes on the GUI thread; the port's failures arrive as exceptions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "link/InputLook.h"

namespace pellwick {

// The port events the link handles.
struct LinkPortHandlers {
    std::function<void(char c)> WaitChar;
    std::function<void(std::uint16_t triggerHandle)> TriggerData;
    std::function<void()> OutbuffFree;
    std::function<void()> OutbuffUsed;
};

class ILinkPort {
public:
    virtual ~ILinkPort() = default;

    virtual void SetHandlers(LinkPortHandlers handlers) = 0;

    // Settings; each one reaches the device at once while the port is open.
    virtual bool Open() const = 0;
    virtual void SetOpen(bool open) = 0;
    virtual void SetComNumber(std::uint16_t number) = 0;
    virtual void SetBaud(std::int32_t baud) = 0;
    virtual void SetDataBits(std::uint16_t bits) = 0;
    virtual void SetParityCode(std::uint8_t code) = 0; // 0 none, 1 odd, 2 even
    virtual void SetStopBits(std::uint16_t bits) = 0;
    // Bits: 1 use DTR, 2 use RTS, 4 require DSR, 8 require CTS.
    virtual void SetHWFlowOptions(std::uint8_t options) = 0;
    virtual void SetDTR(bool on) = 0;
    virtual void SetRTS(bool on) = 0;
    virtual void SetOutSize(std::uint16_t size) = 0;

    // The transfer phase of a block upload: 0 none, 1 sending, 2 error string while sending.
    virtual int Tag() const = 0;
    virtual void SetTag(int tag) = 0;

    virtual std::uint16_t OutputRoom() = 0;
    // Bytes queued in the port's output buffer, not yet handed to the driver.
    virtual std::uint16_t OutputCount() = 0;
    // Bytes handed to the driver since the port was made, over all its openings.
    virtual std::uint64_t OutputHanded() = 0;
    // Bytes the driver holds for output, not yet on the line; -1 when closed or where the
    // driver does not tell.
    virtual std::int32_t DriverOutputCount() = 0;
    // Bytes per second the line carries with the port's settings; 0 when unknown.
    virtual double BytesPerSecond() const = 0;
    // A driver that does not tell what it holds holds no more than a local terminal takes (a
    // pseudo-terminal); false where it may hold any amount (a connection on the network).
    virtual bool UntoldQueueBounded() const { return true; }
    virtual std::uint16_t InputCount() = 0;
    virtual std::uint16_t PendingLineError() = 0;
    virtual void WriteChar(char c) = 0;
    virtual void WriteText(const std::string& text) = 0;
    virtual void WriteBlock(const void* buffer, std::uint16_t length) = 0;
    virtual void ReadBlock(void* buffer, std::uint16_t length) = 0;
    virtual char PeekInput(std::uint16_t index) = 0;
    virtual void DiscardInput() = 0;
    virtual void DiscardOutput() = 0;
    virtual std::uint16_t NewTextTrigger(const std::string& text, bool ignoreCase) = 0;
    virtual std::uint16_t NewStatusTrigger(std::uint16_t kind) = 0;
    virtual void DropTrigger(std::uint16_t handle) = 0;
    virtual void ArmStatusTrigger(std::uint16_t handle, std::uint16_t value, bool activate) = 0;
    // The device hung up since the port was opened (the port's event worker has seen it).
    virtual bool HungUp() = 0;
    // A wait for input driven one look at a time: from Begin to End no trigger is tested, and
    // each look passes the bytes that have arrived to the WaitChar handler until `done` says one
    // ends the wait (Done). Gone: the port closed, or the device hung up and its last bytes are
    // taken. Begin raises when the port is not open.
    virtual void BeginInputWait() = 0;
    virtual InputLook TakeWaitingInput(const std::function<bool(char)>& done) = 0;
    virtual void EndInputWait() = 0;
    // CTS as the device drives it (false while closed), and the hardware flow options set
    // (bits as for SetHWFlowOptions).
    virtual bool CtsSignal() = 0;
    virtual std::uint8_t HWFlowOptions() const = 0;
    // What the user should know about the port's line (see ILinkOperations::LineNote).
    virtual std::string LineNote() const { return {}; }
};

} // namespace pellwick
