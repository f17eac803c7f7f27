#include "station/StationConfig.h"

#include "ini/PrivateProfile.h"
#include "serial/NameTable.h"
#include "serial/portmap/NetworkAddress.h"
#include "upload/DateText.h"
#include "upload/RunRecord.h"
#include "upload/ScriptText.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace pellwick {

namespace {

const char* const StationSection = "Station";
const char* const SlotsSection = "Slots";
const char* const PortsSection = "Ports";
const char* const LineSection = Rs232SettingsFile::Rs232Section;
const char* const TriggerSection = Rs232SettingsFile::TriggerSection;
const char* const UploadSection = Rs232SettingsFile::UploadSection;
const char* const BoardSection = "Board";
const char* const RecordSection = "Record";
// The longest string a data trigger takes.
constexpr std::size_t MaxTriggerText = 21;

// The start modes by their names in station.ini.
constexpr NameTable<StartMode> StartModeNames[] = {
    {StartMode::Button, "button"}, {StartMode::Appear, "appear"}, {StartMode::Probe, "probe"}};

// Any case.
std::optional<StartMode> ParseStartMode(const std::string& text) {
    return ValueNamed(StartModeNames, text);
}

std::string HostName() {
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string();
}

// The login of the user the station runs as: the one who runs the station.
std::string LoginName() {
    if (const passwd* user = getpwuid(geteuid()); user != nullptr && user->pw_name != nullptr) {
        return user->pw_name;
    }
    const char* name = std::getenv("USER");
    return name != nullptr ? name : "";
}

// The number N of a key "<prefix>N" (any case), 1..999; nothing for other keys.
std::optional<int> KeyNumber(const std::string& key, const std::string& prefix) {
    if (key.size() <= prefix.size() || key.size() > prefix.size() + 3 ||
        ScriptText::UpperCase(key.substr(0, prefix.size())) != ScriptText::UpperCase(prefix)) {
        return std::nullopt;
    }
    const std::string digits = key.substr(prefix.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits[0] == '0') {
        return std::nullopt;
    }
    return std::stoi(digits);
}

// Reads the keys of one file and collects what is wrong with them.
class Reader {
public:
    Reader(const std::string& path, std::vector<std::string>& errors)
        : ini_(path), errors_(errors) {}

    std::string Text(const char* section, const char* key, const std::string& fallback) {
        keysRead_[ScriptText::UpperCase(section)].push_back(key);
        return ini_.ReadString(section, key, fallback);
    }

    std::int32_t Integer(const char* section, const char* key, std::int32_t fallback,
                         std::int32_t min, std::int32_t max) {
        const std::string text = Text(section, key, "");
        if (text.empty()) {
            return fallback;
        }
        const auto value = PrivateProfile::ParseInteger(text);
        if (!value || *value < min || *value > max) {
            Error(section, key,
                  "\"" + text + "\" is not a whole number from " + std::to_string(min) + " to " +
                      std::to_string(max));
            return fallback;
        }
        return *value;
    }

    bool Flag(const char* section, const char* key, bool fallback) {
        return Integer(section, key, fallback ? 1 : 0, 0, 1) != 0;
    }

    std::string TriggerText(const char* key, const std::string& fallback) {
        std::string text = Text(TriggerSection, key, fallback);
        if (text.size() > MaxTriggerText) {
            Error(TriggerSection, key,
                  "\"" + text + "\" is longer than the " + std::to_string(MaxTriggerText) +
                      " characters the port can watch for");
        }
        return text;
    }

    void Error(const std::string& section, const std::string& key, const std::string& what) {
        errors_.push_back("[" + section + "] " + key + ": " + what + ".");
        reported_.insert(ScriptText::UpperCase(section) + "]" + ScriptText::UpperCase(key));
    }

    PrivateProfile& Ini() { return ini_; }

    // Each key of the section that was never read is an error, and so is one given twice (the
    // first is the one read), so that a misspelt key is not passed over for its default.
    void CheckKeys(const char* section) {
        const std::vector<std::string>& known = keysRead_[ScriptText::UpperCase(section)];
        std::set<std::string> seen;
        for (const auto& [key, value] : ini_.ReadSectionLines(section)) {
            const std::string upper = ScriptText::UpperCase(key);
            if (!seen.insert(upper).second) {
                Error(section, key, "named twice (the first is the one read)");
            } else if (!reported_.contains(ScriptText::UpperCase(section) + "]" + upper) &&
                       std::none_of(known.begin(), known.end(), [&](const std::string& k) {
                           return ScriptText::UpperCase(k) == upper;
                       })) {
                Error(section, key, "unknown key (" + Joined(known) + ")");
            }
        }
    }

    // A section the station does not know, or one given twice (only the first is read).
    void CheckSections(const std::vector<std::string>& known) {
        std::set<std::string> seen;
        for (const std::string& name : ini_.SectionNames()) {
            const std::string upper = ScriptText::UpperCase(name);
            const bool isKnown = std::any_of(known.begin(), known.end(), [&](const std::string& k) {
                return ScriptText::UpperCase(k) == upper;
            });
            if (!isKnown) {
                errors_.push_back("[" + name + "]: unknown section (" + Joined(known) + ").");
            } else if (!seen.insert(upper).second) {
                errors_.push_back("[" + name +
                                  "]: named twice (only the first section of a name is read).");
            }
        }
    }

private:
    static std::string Joined(const std::vector<std::string>& names) {
        std::string text;
        for (const std::string& name : names) {
            text += (text.empty() ? "" : ", ") + name;
        }
        return text;
    }

    PrivateProfile ini_;
    std::vector<std::string>& errors_;
    // The keys read, by section (in upper case), in the order they were read.
    std::map<std::string, std::vector<std::string>> keysRead_;
    // "SECTION]KEY" of each key an error was reported for: one error a key is enough.
    std::set<std::string> reported_;
};

void ReadLine(Reader& r, StationConfig& config) {
    if (!r.Ini().ReadString(LineSection, "Comm Port", "").empty()) {
        r.Error(LineSection, "Comm Port", "a station names its ports in [Slots] (SlotN=...)");
    }
    // The station's own file takes any rate the port can open at, not only the six.
    const std::string baud = r.Text(LineSection, "Baud Rate", "19200");
    if (const auto rate = Rs232SettingsFile::ParseLineRate(baud)) {
        config.Line.BaudRate = static_cast<std::int32_t>(*rate);
    } else {
        r.Error(LineSection, "Baud Rate",
                "\"" + baud + "\" is not a rate from " +
                    std::to_string(Rs232SettingsFile::MinLineRate) + " to " +
                    std::to_string(Rs232SettingsFile::MaxLineRate) + " baud");
    }
    const std::int32_t dataBits = r.Integer(LineSection, "Data Bits", 8, 7, 8);
    config.Line.DataBitCount = static_cast<std::uint16_t>(dataBits);
    config.Line.ParityCode = static_cast<std::uint8_t>(r.Integer(LineSection, "Parity", 0, 0, 2));
    config.Line.StopBitCount =
        static_cast<std::uint16_t>(r.Integer(LineSection, "Stop Bit", 1, 1, 2));
    config.Line.UseDtr = r.Flag(LineSection, "Use DTR", false);
    config.Line.UseRts = r.Flag(LineSection, "Use RTS", true);
    config.Line.RequireDsr = r.Flag(LineSection, "Require DSR", false);
    config.Line.RequireCts = r.Flag(LineSection, "Require CTS", true);
    config.Line.DtrOn = r.Flag(LineSection, "DTR State", true);
    config.Line.RtsOn = r.Flag(LineSection, "RTS State", true);

    LinkSettings& link = config.Link;
    link.PromptText = r.TriggerText("Prompt", link.PromptText);
    link.ErrorText = r.TriggerText("Error", link.ErrorText);
    link.UlPromptText = r.TriggerText("UL Prompt", link.UlPromptText);
    link.UlErrorText = r.TriggerText("UL Error", link.UlErrorText);
    link.ResultMarker = r.Text(TriggerSection, "Result", link.ResultMarker);
    link.BufferSize = static_cast<std::uint16_t>(r.Integer(
        UploadSection, "Buffer Size", link.BufferSize, Rs232SettingsFile::MinBufferSize, 65535));
    link.BlockSize = static_cast<std::uint16_t>(
        r.Integer(UploadSection, "Block Size", link.BlockSize, 1, link.BufferSize));
    config.Delay = r.Integer(UploadSection, "Delay", config.Delay, 0, 600000);
    for (const char* section : {LineSection, TriggerSection, UploadSection}) {
        r.CheckKeys(section);
    }
}

// [Ports] is the port map's: COMn=<device>, Scan, Connect Timeout.
void CheckPortKeys(Reader& r) {
    std::set<std::string> seen;
    for (const auto& [key, value] : r.Ini().ReadSectionLines(PortsSection)) {
        const std::string upper = ScriptText::UpperCase(key);
        if (!seen.insert(upper).second) {
            r.Error(PortsSection, key, "named twice (the first is the one read)");
        } else if (!PortMap::ParseComName(key) && upper != "SCAN" && upper != "CONNECT TIMEOUT") {
            r.Error(PortsSection, key, "unknown key (COMn, Scan, Connect Timeout)");
        }
    }
}

void ReadStation(Reader& r, StationConfig& config) {
    config.Script = r.Text(StationSection, "Script", config.Script);
    const std::string start = r.Text(StationSection, "Start", "appear");
    if (const auto mode = ParseStartMode(start)) {
        config.Start = *mode;
    } else {
        r.Error(StationSection, "Start", "\"" + start + "\" is not button, appear or probe");
    }
    // The caret escapes of a script's command strings, the quotes already taken off.
    const std::string probe = r.Text(StationSection, "Probe", "^M");
    config.Probe = ScriptText::ProcessCmdString("\"" + probe + "\"");
    if (config.Probe.empty()) {
        r.Error(StationSection, "Probe", "a probe must send at least one byte");
    }
    config.Answer = r.Text(StationSection, "Answer", "");
    config.Locked = r.Flag(StationSection, "Lock", false);
    config.RequireLabel = r.Flag(StationSection, "Require Label", false);
    config.Host = HostName();
    config.Name = r.Text(StationSection, "Name", config.Host);
    config.Operator = r.Text(StationSection, "Operator", LoginName());
    r.CheckKeys(StationSection);
    config.IdLine = r.Integer(BoardSection, "Id Line", 0, 0, 1000000);
    r.CheckKeys(BoardSection);
    config.Database = r.Text(RecordSection, "Database", "");
    if (!config.Database.empty() && config.Database.rfind("postgresql://", 0) != 0 &&
        config.Database.rfind("postgres://", 0) != 0) {
        r.Error(RecordSection, "Database",
                "\"" + config.Database +
                    "\" is not a postgresql:// address (leave it empty for station.db)");
    }
    r.CheckKeys(RecordSection);
}

std::string Canonical(const std::string& path) {
    if (LooksLikeNetworkAddress(path)) {
        return path;
    }
    std::error_code ec;
    const auto canonical = std::filesystem::weakly_canonical(path, ec);
    return ec ? std::filesystem::path(path).lexically_normal().string() : canonical.string();
}

void ReadSlots(Reader& r, StationConfig& config, const PortMap& map,
               const DevicePresence& present) {
    std::map<int, std::string> ports;
    std::map<int, std::string> starts;
    std::map<int, std::string> places;
    std::set<std::string> seenKeys;
    for (const auto& [key, value] : r.Ini().ReadSectionLines(SlotsSection)) {
        const std::string upper = ScriptText::UpperCase(key);
        if (!seenKeys.insert(upper).second) {
            r.Error(SlotsSection, key, "named twice");
            continue;
        }
        if (const auto n = KeyNumber(key, "Slot")) {
            ports[*n] = value;
        } else if (const auto m = KeyNumber(key, "Start")) {
            starts[*m] = value;
        } else if (const auto p = KeyNumber(key, "Place")) {
            places[*p] = value;
        } else {
            r.Error(SlotsSection, key,
                    "unknown key (SlotN=<port>, StartN=<mode>, PlaceN=<place>, N from 1)");
        }
    }
    for (const auto* keys : {&starts, &places}) {
        for (const auto& [n, value] : *keys) {
            if (!ports.contains(n)) {
                r.Error(SlotsSection, (keys == &starts ? "Start" : "Place") + std::to_string(n),
                        "there is no Slot" + std::to_string(n));
            }
        }
    }
    if (ports.empty()) {
        r.Error(SlotsSection, "Slot1", "a station needs at least one slot");
    }
    std::map<std::string, int> byDevice; // canonical device -> slot
    std::set<int> usedNumbers;
    for (const auto& [number, port] : map.Entries()) {
        usedNumbers.insert(number);
    }
    for (const auto& [n, port] : ports) {
        const std::string key = "Slot" + std::to_string(n);
        SlotConfig slot;
        slot.Number = n;
        slot.Port = port;
        slot.Start = config.Start;
        if (places.contains(n)) {
            slot.Place = places[n];
            if (LooksLikeNetworkAddress(port)) {
                r.Error(SlotsSection, "Place" + std::to_string(n),
                        "a port on the network has no physical place to bind to");
            }
        }
        if (starts.contains(n)) {
            if (const auto mode = ParseStartMode(starts[n])) {
                slot.Start = *mode;
            } else {
                r.Error(SlotsSection, "Start" + std::to_string(n),
                        "\"" + starts[n] + "\" is not button, appear or probe");
            }
        }
        if (LooksLikeNetworkAddress(port)) {
            std::string why;
            if (!ParseNetworkAddress(port, why)) {
                r.Error(SlotsSection, key, "\"" + port + "\": " + why);
                continue;
            }
            slot.DevicePath = port;
        } else if (const auto com = PortMap::ParseComName(port)) {
            const auto path = map.PathOf(*com);
            if (!path) {
                r.Error(SlotsSection, key,
                        port + " is not in the port map (see [Ports], or plug in its adapter)");
                continue;
            }
            slot.ComNumber = *com;
            slot.DevicePath = *path;
        } else if (!port.empty() && port[0] == '/') {
            slot.DevicePath = port;
        } else {
            r.Error(SlotsSection, key,
                    "\"" + port + "\" is neither COMn nor a device path starting with /");
            continue;
        }
        // A slot whose board comes and goes may name a device that is not there yet; the
        // others need their adapter now.
        // A port on the network cannot be watched for appearing, nor looked for without
        // connecting: its server is reached when the slot opens it.
        if (LooksLikeNetworkAddress(slot.DevicePath)) {
            if (slot.Start == StartMode::Appear) {
                r.Error(SlotsSection, key,
                        slot.DevicePath + " is a port on the network: it starts by \"button\" "
                                          "or \"probe\", not by \"appear\"");
                continue;
            }
        } else if (slot.Start != StartMode::Appear && !present(slot.DevicePath)) {
            r.Error(SlotsSection, key,
                    slot.DevicePath + " does not exist (a slot that starts by \"" +
                        StartModeName(slot.Start) + "\" needs its adapter plugged in)");
            continue;
        }
        const std::string device = Canonical(slot.DevicePath);
        if (const auto it = byDevice.find(device); it != byDevice.end()) {
            r.Error(SlotsSection, key,
                    "names the same port as Slot" + std::to_string(it->second) + " (" + device +
                        ")");
            continue;
        }
        byDevice[device] = n;
        config.Slots.push_back(slot);
    }
    // Device paths take the number the map gives their device, or a free one from the top.
    int free = PortMap::MaxComNumber;
    const auto mapped = map.Entries();
    std::map<int, std::string> entries(mapped.begin(), mapped.end());
    for (SlotConfig& slot : config.Slots) {
        if (slot.ComNumber != 0) {
            continue;
        }
        for (const auto& [number, path] : entries) {
            if (Canonical(path) == Canonical(slot.DevicePath)) {
                slot.ComNumber = number;
            }
        }
        if (slot.ComNumber == 0) {
            while (usedNumbers.contains(free)) {
                --free;
            }
            slot.ComNumber = free;
            usedNumbers.insert(free);
            entries[free] = slot.DevicePath;
        }
    }
    config.Ports = std::make_shared<PortMap>(entries);
}

void CheckScript(Reader& r, const StationConfig& config) {
    bool tooLarge = false;
    const auto text = ScriptText::ReadFile(config.Script, &tooLarge);
    if (!text) {
        r.Error(StationSection, "Script",
                "\"" + config.Script + "\" " +
                    (tooLarge ? "is larger than a script can be" : "cannot be read"));
        return;
    }
    const std::vector<std::string> lines = ScriptText::SplitLines(*text);
    if (config.IdLine > 0 &&
        (static_cast<std::size_t>(config.IdLine) > lines.size() ||
         ScriptText::CommandOf(lines[static_cast<std::size_t>(config.IdLine) - 1]) != "TC")) {
        r.Error(BoardSection, "Id Line",
                "line " + std::to_string(config.IdLine) + " of " + config.Script +
                    " is not a _TC command, whose answer would be the board's id");
    }
    const auto files = ListScriptFiles(lines, RunRecord{}, DateFormats::FromLocale());
    for (const FileRecord& file : files) {
        if (!file.Readable) {
            r.Error(StationSection, "Script",
                    "line " + std::to_string(file.Line) + " of " + config.Script + " uploads \"" +
                        file.Name + "\", which cannot be read");
        }
    }
}

} // namespace

const char* StartModeName(StartMode mode) {
    return NameIn(StartModeNames, mode, "");
}

StationConfig ReadStationConfig(std::vector<std::string>& errors, const DevicePresence& present) {
    StationConfig config;
    std::error_code ec;
    config.Folder = std::filesystem::current_path(ec).string();
    const std::string path = config.Folder + "/" + StationConfig::FileName;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        errors.push_back(path + " does not exist: a station folder holds station.ini, the script "
                                "and its files.");
        return config;
    }
    Reader reader(path, errors);
    reader.CheckSections({StationSection, SlotsSection, PortsSection, LineSection, TriggerSection,
                          UploadSection, BoardSection, RecordSection});
    ReadStation(reader, config);
    ReadLine(reader, config);
    CheckPortKeys(reader);
    const PortMap map = PortMap::Build(path);
    ReadSlots(
        reader, config, map, present ? present : [](const std::string& device) {
            struct stat node {};
            return stat(device.c_str(), &node) == 0;
        });
    CheckScript(reader, config);
    return config;
}

} // namespace pellwick
