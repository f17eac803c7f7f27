#include "link/Rs232SettingsFile.h"

#include <algorithm>

namespace pellwick {

namespace {

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

// The value of an integer key of [RS232Settings] (missing: `missing`); one that `valid` refuses
// is repaired: the file gets `repair`, which is what is used.
template <typename Valid>
std::int32_t CheckedInteger(PrivateProfile& ini, const char* key, std::int32_t missing,
                            std::int32_t repair, Valid valid) {
    const std::int32_t value = ini.ReadInteger(Rs232SettingsFile::Rs232Section, key, missing);
    if (valid(value)) {
        return value;
    }
    ini.WriteInteger(Rs232SettingsFile::Rs232Section, key, repair);
    return repair;
}

} // namespace

std::optional<std::uint32_t> Rs232SettingsFile::ParseLineRate(const std::string& text) {
    if (text.empty() || text.size() > 7 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const auto rate = static_cast<std::uint32_t>(std::stoul(text));
    if (rate < MinLineRate || rate > MaxLineRate)
        return std::nullopt;
    return rate;
}

std::string Rs232SettingsFile::Load(PrivateProfile& ini, Rs232Settings& settings,
                                    LinkSettings& link) {
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

    settings.DataBitCount = static_cast<std::uint16_t>(
        CheckedInteger(ini, "Data Bits", 0, 8, [](std::int32_t v) { return v == 7 || v == 8; }));
    settings.ParityCode = static_cast<std::uint8_t>(
        CheckedInteger(ini, "Parity", 9, 0, [](std::int32_t v) { return v >= 0 && v <= 2; }));
    settings.StopBitCount = static_cast<std::uint16_t>(
        CheckedInteger(ini, "Stop Bit", 0, 1, [](std::int32_t v) { return v == 1 || v == 2; }));

    settings.UseDtr = ini.ReadBool(Rs232Section, "Use DTR", false);
    settings.UseRts = ini.ReadBool(Rs232Section, "Use RTS", true);
    settings.RequireDsr = ini.ReadBool(Rs232Section, "Require DSR", false);
    settings.RequireCts = ini.ReadBool(Rs232Section, "Require CTS", true);
    settings.DtrOn = ini.ReadBool(Rs232Section, "DTR State", true);
    settings.RtsOn = ini.ReadBool(Rs232Section, "RTS State", true);

    std::string note;
    const std::string lineRate = ini.ReadString(LineSection, "Baud Rate", "");
    const std::optional<std::uint32_t> rate = ParseLineRate(lineRate);
    settings.LineRate = rate.value_or(0);
    if (!lineRate.empty() && !rate) {
        note = "Baud Rate \"" + lineRate +
               "\" of section [Line] in loader.ini is not a rate from " +
               std::to_string(MinLineRate) + " to " + std::to_string(MaxLineRate) +
               " baud and is not used: the port opens at " + std::to_string(settings.BaudRate) +
               " baud.\rChoose the rate in Communication Settings, or correct the key.";
    }

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
    return note;
}

void Rs232SettingsFile::Save(PrivateProfile& ini, const Rs232Settings& settings,
                             const std::string& selectedEntryText) {
    // "Direct to COM3" -> "COM3"; what follows the number (device and adapter) is not kept.
    const std::optional<std::uint16_t> entryNumber = PortNumberOfEntry(selectedEntryText);
    const std::string port =
        "COM" + std::to_string(entryNumber ? *entryNumber : settings.PortNumber);
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
    if (settings.LineRate != 0)
        ini.WriteString(LineSection, "Baud Rate", std::to_string(settings.LineRate));
    else
        ini.DeleteKey(LineSection, "Baud Rate");
}

std::string Rs232SettingsFile::EntryText(int portNumber) {
    return EntryPrefix + std::to_string(portNumber);
}

std::optional<std::uint16_t> Rs232SettingsFile::PortNumberOfEntry(const std::string& entryText) {
    const std::string prefix = EntryPrefix;
    if (entryText.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    // The number starts at the 14th character and ends at the blank before the device, if the
    // entry shows one; the "COM" before it is checked above.
    const std::string value = entryText.substr(prefix.size() - 3);
    return PortNumberOfValue(value.substr(0, value.find(' ')));
}

} // namespace pellwick
