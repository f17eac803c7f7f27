// The link's state: trigger strings of both modes, the active ones, the trigger handles, the
// reply collected by a command exchange and the cursor of a block transfer.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

namespace pellwick {

struct LinkState {
    std::string PromptText = "#";
    std::string ErrorText = "?";
    std::string UlPromptText = ">";
    std::string UlErrorText = "ERR";
    std::string ResultMarker = "=";
    std::string ActivePrompt;
    std::string ActiveError;
    bool UploadMode = false;
    std::uint16_t PromptTrigger = 0;
    std::uint16_t ErrorTrigger = 0;
    std::uint16_t RoomTrigger = 0;
    std::uint16_t DrainTrigger = 0;
    std::string ReplyText;
    const std::uint8_t* BlockCursor = nullptr;
    std::int32_t BlockRemaining = 0;
    std::int32_t BlockTotal = 0;
    bool StopRequest = false;
    // Bytes of the transfer on the line when the device's error string stopped it; -1 when it
    // did not.
    std::int64_t DeviceErrorAt = -1;
    // Bytes of the transfer given to the port by then (at most one block more may follow).
    std::int64_t DeviceErrorQueued = -1;
    std::uint16_t BlockSize = 50;
    std::uint16_t BufferSize = 4096;
};

// The upload gauge for a transfer of total bytes with remaining still to hand over: the share
// handed over in percent, rounded to the nearest integer (halves to even). Nothing to send is
// all sent.
inline int TransferGaugePercent(std::int32_t total, std::int32_t remaining) {
    if (total <= 0)
        return 100;
    const double percent = static_cast<double>(total - remaining) / total * 100.0;
    return static_cast<int>(std::nearbyint(percent));
}

// Status trigger kinds the link uses.
inline constexpr std::uint16_t StatusKindOutputFree = 3;
inline constexpr std::uint16_t StatusKindOutputUsed = 4;

// Transfer phases kept in the port's Tag.
inline constexpr int PhaseNone = 0;
inline constexpr int PhaseSending = 1;
inline constexpr int PhaseDeviceError = 2;

} // namespace pellwick
