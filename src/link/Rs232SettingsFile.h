// The RS-232 settings, the trigger strings and the upload sizes as stored in loader.ini, with
// the repairs made while loading and the keys written by "Save". Needs no window: the settings
// dialog shows and edits the values, this class reads and writes them.
#pragma once

#include "ini/PrivateProfile.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace pellwick {

struct Rs232Settings {
    std::uint16_t PortNumber = 1; // 1 = COM1
    std::int32_t BaudRate = 19200;
    std::uint16_t DataBitCount = 8;
    std::uint8_t ParityCode = 0; // 0 none, 1 odd, 2 even
    std::uint16_t StopBitCount = 1;
    bool UseDtr = false;
    bool UseRts = true;
    bool RequireDsr = false;
    bool RequireCts = true;
    bool DtrOn = true; // line states when the line is not under flow control
    bool RtsOn = true;
    // [Line] "Baud Rate": a rate beyond the six of BaudRate, 0 when there is none. It then
    // takes BaudRate's place on the line; BaudRate keeps its own value.
    std::uint32_t LineRate = 0;

    // The rate the port opens with.
    std::int32_t PortBaud() const {
        return LineRate != 0 ? static_cast<std::int32_t>(LineRate) : BaudRate;
    }

    bool operator==(const Rs232Settings&) const = default;
};

// The device's answer strings and the upload sizes used by the link.
struct LinkSettings {
    std::string PromptText = "#";
    std::string ErrorText = "?";
    std::string UlPromptText = ">";
    std::string UlErrorText = "ERR";
    std::string ResultMarker = "=";
    std::uint16_t BufferSize = 4096; // output buffer of the port, bytes
    std::uint16_t BlockSize = 50;    // bytes per upload block, 1 .. BufferSize

    bool operator==(const LinkSettings&) const = default;
};

class Rs232SettingsFile {
public:
    static constexpr std::array<std::int32_t, 6> BaudRates = {1200,  9600,  19200,
                                                              38400, 57600, 115200};
    // The dialog's rates after the six, and the range of any rate of [Line].
    static constexpr std::array<std::uint32_t, 3> FastRates = {230400, 460800, 921600};
    static constexpr std::uint32_t MinLineRate = 50;
    static constexpr std::uint32_t MaxLineRate = 4000000;
    static constexpr std::uint16_t MinBufferSize = 2078;
    static constexpr const char* EntryPrefix = "Direct to COM";
    // The sections of the settings; a station's file uses the first three too.
    static constexpr const char* Rs232Section = "RS232Settings";
    static constexpr const char* TriggerSection = "Trigger";
    static constexpr const char* UploadSection = "Upload Settings";
    static constexpr const char* LineSection = "Line";

    // Reads every key in a fixed order, each into its field as soon as it is read. Invalid
    // port, baud rate, data bits, parity and stop bits take their defaults and the default is
    // written back at once; a failed write-back throws EIniWriteError and leaves the later
    // fields as they were. Buffer and block sizes are kept within their limits without being
    // written back. A [Line] "Baud Rate" that is no rate from MinLineRate to MaxLineRate is
    // not used (nor repaired, since it is not ours to guess): the returned note says so for
    // the operator, and is empty otherwise.
    static std::string Load(PrivateProfile& ini, Rs232Settings& settings, LinkSettings& link);

    // Writes the keys of section "RS232Settings" in the order of the dialog's save step.
    // "Comm Port" is "COM" + the number of the port list entry ("Direct to COM3" gives "COM3");
    // for any other entry text it is "COM" + PortNumber. Then [Line] "Baud Rate":
    // LineRate, or removed when it is 0. Throws EIniWriteError.
    static void Save(PrivateProfile& ini, const Rs232Settings& settings,
                     const std::string& selectedEntryText);
    // A [Line] rate as text: a whole number from MinLineRate to MaxLineRate, else nothing.
    static std::optional<std::uint32_t> ParseLineRate(const std::string& text);

    // The port list entry of a port number: "Direct to COM" + number.
    static std::string EntryText(int portNumber);
    // The port number of a port list entry ("Direct to COM12" -> 12, also with the device
    // after a blank: "Direct to COM12  /dev/ttyUSB0"), or nothing when the entry is not a
    // direct port or its number is not an integer in 1..255.
    static std::optional<std::uint16_t> PortNumberOfEntry(const std::string& entryText);
};

} // namespace pellwick
