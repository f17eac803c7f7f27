// Types and constants shared by the dispatcher, its device layer and the port component.
#pragma once

#include "serial/errors/ErrorNumbers.h"

#include <cstdint>

namespace pellwick {

// Results the dispatcher returns (0 or a positive count means success) are the engine's error
// numbers (serial/errors/ErrorNumbers.h). A device's failures come as the run-time input/output
// numbers whose texts they take, or as the negated errno (EngineNumberOf, DeviceResult.h);
// these are the ones the port tells apart.
namespace dr {
// The device does not exist; the device is held by another program.
constexpr int DeviceNotFound = ecIoFileNotFound;
constexpr int DeviceAccessDenied = ecIoAccessDenied;
// "Path not found", taken as a missing device too; "General failure", a device that fails with
// an input/output error, or a failure whose errno the engine would read as something else.
constexpr int PathNotFound = ecIoPathNotFound;
constexpr int GeneralFailure = ecIoGeneralFailure;
} // namespace dr

// Hardware flow options, as the port component keeps them and the dispatcher applies them.
enum THWFlowOptions : std::uint8_t {
    hwfUseDTR = 1,
    hwfUseRTS = 2,
    hwfRequireDSR = 4,
    hwfRequireCTS = 8,
};
// Software flow options of the dispatcher.
enum SoftwareFlowOptions : std::uint32_t {
    sfObeyXoff = 1, // output stops at a received XOFF and goes on at XON
    sfSendXoff = 2, // XOFF and XON are sent as the input fills and drains
};

constexpr std::uint32_t InputRingSize = 8192;
constexpr std::uint32_t MaxMatchLength = 21;

// Line-error bits kept in ErrorBits.
constexpr std::uint32_t ceRxOver = 1;   // receive queue overflow
constexpr std::uint32_t ceOverrun = 2;  // hardware overrun
constexpr std::uint32_t ceRxParity = 4; // parity error
constexpr std::uint32_t ceFrame = 8;    // framing error
constexpr std::uint32_t ceBreak = 16;   // break received

// Device event mask bits handed from TComThread to TDispThread.
constexpr std::uint32_t evRxChar = 0x0001;
constexpr std::uint32_t evCts = 0x0008;
constexpr std::uint32_t evDsr = 0x0010;
constexpr std::uint32_t evRlsd = 0x0020; // DCD
constexpr std::uint32_t evBreak = 0x0040;
constexpr std::uint32_t evErr = 0x0080;
constexpr std::uint32_t evRing = 0x0100;
constexpr std::uint32_t evModemMask = evCts | evDsr | evRlsd | evRing;

// Modem signal states as the device layer reports them (bits 4-7 of ModemBits).
constexpr std::uint8_t msCtsOn = 0x10;
constexpr std::uint8_t msDsrOn = 0x20;
constexpr std::uint8_t msRingOn = 0x40;
constexpr std::uint8_t msDcdOn = 0x80;

// Line functions for DeviceEscape.
enum class LineFunction { SetDtr, ClrDtr, SetRts, ClrRts };

// DTR and RTS control modes of a line block.
enum class LineControl : std::uint8_t { Disable = 0, Enable = 1, Handshake = 2, Toggle = 3 };

// Stop-bit codes of a line block.
enum : std::uint8_t { OneStopBit = 0, One5StopBits = 1, TwoStopBits = 2 };

// The line settings of a device as one record: read, edited and applied as a whole.
struct LineBlock {
    std::uint32_t baud = 115200;
    bool outxCtsFlow = false; // output waits while CTS is off
    bool outxDsrFlow = false; // output waits while DSR is off
    LineControl dtrControl = LineControl::Enable;
    LineControl rtsControl = LineControl::Enable;
    bool outX = false; // obey received XOFF/XON
    bool inX = false;  // send XOFF/XON as the input fills and drains
    std::uint16_t xonLim = 0;
    std::uint16_t xoffLim = 0;
    std::uint8_t byteSize = 8;
    std::uint8_t parity = 0; // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stopBits = OneStopBit;
    std::uint8_t xonChar = 17;
    std::uint8_t xoffChar = 19;
};

// Status-trigger kinds; also the low three bits of a status trigger's handle.
enum StatusKind : std::uint32_t {
    skNone = 0,
    skModem = 1,
    skLineError = 2,
    skOutputFree = 3,
    skOutputUsed = 4,
    skOutputSent = 5,
};

// Notification messages.
constexpr std::uint32_t MsgTriggerAvail = 32257;  // 0x7E01
constexpr std::uint32_t MsgTriggerData = 32258;   // 0x7E02
constexpr std::uint32_t MsgTriggerTimer = 32259;  // 0x7E03
constexpr std::uint32_t MsgTriggerStatus = 32260; // 0x7E04
constexpr std::uint32_t MsgPortOpened = 32264;    // 0x7E08
constexpr std::uint32_t MsgPortClosing = 32265;   // 0x7E09
constexpr std::uint32_t MsgDeferredClose = 32266; // 0x7E0A

// The availability trigger has no record; this handle names it.
constexpr std::uint32_t AvailTriggerHandle = 1;

} // namespace pellwick
