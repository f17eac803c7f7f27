#include "link/Rs232SettingsFile.h"

#include <algorithm>

namespace pellwick {

namespace {

const char* const Rs232Section = "RS232Settings";
const char* const TriggerSection = "Trigger";
const char* const UploadSection = "Upload Settings";

// Highest port number the port map can resolve.
constexpr std::int32_t MaxPortNumber = 255;

// The port number of a "Comm Port" value: the integer formed by the text from its 4th
// character on ("COM12" -> 12), if that is a port number at all.
std::optional<std::uint16_t> PortNumberOfValue(const std::string& value) {
    if (value.size() <= 3)
        return std::nullopt;
    const std::optional<std::int32_t> number = PrivateProfile::ParseInteger(value.substr(3));
    if (!number || *number < 1 || *number > MaxPortNumber)
        return std::nullopt;
    return static_cast<std::uint16_t>(*number);
}

} // namespace

void Rs232SettingsFile::Load(PrivateProfile& ini, Rs232Settings& settings, LinkSettings& link) {
    // "ERROR" is the value of a missing key. A value whose number part is no port number
    // (for example "COMX", or a device path typed in by hand) could never be opened, so it
    // is repaired the same way.
    const std::string port = ini.ReadString(Rs232Section, "Comm Port", "ERROR");
    const std::optional<std::uint16_t> portNumber =
        port == "ERROR" ? std::nullopt : PortNumberOfValue(port);
    if (portNumber) {
        settings.PortNumber = *portNumber;
    } else {
        settings.PortNumber = 1;
        ini.WriteString(Rs232Section, "Comm Port", "COM1");
    }

    const std::string baud = ini.ReadString(Rs232Section, "Baud Rate", "19200");
    const auto knownBaud = std::find_if(BaudRates.begin(), BaudRates.end(), [&](std::int32_t rate) {
        return std::to_string(rate) == baud;
    });
    if (knownBaud != BaudRates.end()) {
        settings.BaudRate = *knownBaud;
    } else {
        settings.BaudRate = 19200;
        ini.WriteString(Rs232Section, "Baud Rate", "19200");
    }

    const std::int32_t dataBits = ini.ReadInteger(Rs232Section, "Data Bits", 0);
    if (dataBits == 7 || dataBits == 8) {
        settings.DataBitCount = static_cast<std::uint16_t>(dataBits);
    } else {
        settings.DataBitCount = 8;
        ini.WriteInteger(Rs232Section, "Data Bits", 8);
    }

    const std::int32_t parity = ini.ReadInteger(Rs232Section, "Parity", 9);
    if (parity >= 0 && parity <= 2) {
        settings.ParityCode = static_cast<std::uint8_t>(parity);
    } else {
        settings.ParityCode = 0;
        ini.WriteInteger(Rs232Section, "Parity", 0);
    }

    const std::int32_t stopBits = ini.ReadInteger(Rs232Section, "Stop Bit", 0);
    if (stopBits == 1 || stopBits == 2) {
        settings.StopBitCount = static_cast<std::uint16_t>(stopBits);
    } else {
        settings.StopBitCount = 1;
        ini.WriteInteger(Rs232Section, "Stop Bit", 1);
    }

    settings.UseDtr = ini.ReadBool(Rs232Section, "Use DTR", false);
    settings.UseRts = ini.ReadBool(Rs232Section, "Use RTS", true);
    settings.RequireDsr = ini.ReadBool(Rs232Section, "Require DSR", false);
    settings.RequireCts = ini.ReadBool(Rs232Section, "Require CTS", true);
    settings.DtrOn = ini.ReadBool(Rs232Section, "DTR State", true);
    settings.RtsOn = ini.ReadBool(Rs232Section, "RTS State", true);

    link.PromptText = ini.ReadString(TriggerSection, "Prompt", "#");
    link.ErrorText = ini.ReadString(TriggerSection, "Error", "?");
    link.UlPromptText = ini.ReadString(TriggerSection, "UL Prompt", ">");
    link.UlErrorText = ini.ReadString(TriggerSection, "UL Error", "ERR");
    link.ResultMarker = ini.ReadString(TriggerSection, "Result", "=");

    // Both sizes are 16-bit: larger values keep their low 16 bits (70000 -> 4464).
    link.BufferSize =
        static_cast<std::uint16_t>(ini.ReadInteger(UploadSection, "Buffer Size", 4096));
    if (link.BufferSize < MinBufferSize)
        link.BufferSize = MinBufferSize;
    link.BlockSize = static_cast<std::uint16_t>(ini.ReadInteger(UploadSection, "Block Size", 50));
    // A block of 0 bytes would make the block transfer fire without end, and one larger than
    // the output buffer would never find room.
    link.BlockSize = std::clamp<std::uint16_t>(link.BlockSize, 1, link.BufferSize);
}

void Rs232SettingsFile::Save(PrivateProfile& ini, const Rs232Settings& settings,
                             const std::string& selectedEntryText) {
    // Text from the 11th character on: "Direct to COM3" -> "COM3".
    const std::string port = PortNumberOfEntry(selectedEntryText)
                                 ? selectedEntryText.substr(10)
                                 : "COM" + std::to_string(settings.PortNumber);
    ini.WriteString(Rs232Section, "Comm Port", port);
    ini.WriteString(Rs232Section, "Baud Rate", std::to_string(settings.BaudRate));
    ini.WriteInteger(Rs232Section, "Data Bits", settings.DataBitCount);
    ini.WriteInteger(Rs232Section, "Parity", settings.ParityCode);
    ini.WriteInteger(Rs232Section, "Stop Bit", settings.StopBitCount);
    ini.WriteBool(Rs232Section, "Use DTR", settings.UseDtr);
    ini.WriteBool(Rs232Section, "Use RTS", settings.UseRts);
    ini.WriteBool(Rs232Section, "Require DSR", settings.RequireDsr);
    ini.WriteBool(Rs232Section, "Require CTS", settings.RequireCts);
    ini.WriteBool(Rs232Section, "DTR State", settings.DtrOn);
    ini.WriteBool(Rs232Section, "RTS State", settings.RtsOn);
}

std::string Rs232SettingsFile::EntryText(int portNumber) {
    return EntryPrefix + std::to_string(portNumber);
}

std::optional<std::uint16_t> Rs232SettingsFile::PortNumberOfEntry(const std::string& entryText) {
    const std::string prefix = EntryPrefix;
    if (entryText.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    // The number starts at the 14th character; the "COM" before it is checked above.
    return PortNumberOfValue(entryText.substr(prefix.size() - 3));
}

} // namespace pellwick
