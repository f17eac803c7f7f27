// station.ini: what a production station loads into each board and how each slot starts. The
// file lies in the station folder beside the script and its files:
//
//   [Station]   Script (default loader.sld), Start (button, appear or probe; default appear),
//               Probe (sent while a probe slot waits, caret escapes as in scripts; default ^M),
//               Answer (text in the reply that means a board is there; empty: any byte),
//               Lock (1: the window starts locked), Require Label (1: a board starts only
//               once a label was scanned for it), Name (the station's name in the record;
//               default the host name), Operator (default the login)
//   [Slots]     SlotN=<port>: COMn of the port map, or a device path such as a
//               /dev/serial/by-id/... link; StartN=<mode> gives slot N a start of its own;
//               PlaceN=<place> binds slot N to one physical place (a USB topology path such
//               as 1-1.4, or a /dev/serial/by-path/... link): a board elsewhere is not loaded
//   [Board]     Id Line (the script line whose _TC answer is the board's own id; 0: none)
//   [Record]    Database (empty: station.db in the station folder; postgresql://... for a
//               database a line of stations shares)
//   [Ports]     the port map, as in loader.ini (COMn=<path>, Scan=0)
//   [RS232Settings], [Trigger], [Upload Settings]: the line, the device's strings, Delay,
//               Buffer Size and Block Size, with the keys and defaults of loader.ini
//
// Unlike loader.ini nothing is repaired or written back: a value that cannot be used is an
// error, and every error is found before anything starts.
#pragma once

#include "link/Rs232SettingsFile.h"
#include "serial/portmap/PortMap.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pellwick {

enum class StartMode {
    Button, // the operator starts the board
    Appear, // the board's device appears (inotify on its folder)
    Probe,  // the board answers the probe on a port that is always there
};
// "button", "appear", "probe".
const char* StartModeName(StartMode mode);

struct SlotConfig {
    int Number = 0;         // N of its key SlotN
    std::string Port;       // as written
    int ComNumber = 0;      // its number in the station's port map
    std::string DevicePath; // what that number stands for
    StartMode Start = StartMode::Appear;
    // The physical place the slot is bound to (USB topology path or by-path link); empty: any.
    std::string Place;
};

struct StationConfig {
    static constexpr const char* FileName = "station.ini";

    std::string Folder; // absolute
    std::string Script = "loader.sld";
    StartMode Start = StartMode::Appear;
    std::string Probe = "\r"; // decoded bytes
    std::string Answer;
    bool Locked = false;
    // A board starts only once a label was scanned for it.
    bool RequireLabel = false;
    std::string Name;     // the station's name in the record
    std::string Host;     // the computer's name
    std::string Operator; // who runs it
    // The 1-based script line whose _TC answer is the board's id; 0 when the board is not asked.
    int IdLine = 0;
    std::string Database;      // empty: station.db in Folder
    std::int32_t Delay = 1000; // ms between an upload's header and its data
    Rs232Settings Line;        // PortNumber unused: each slot has its own
    LinkSettings Link;
    std::vector<SlotConfig> Slots;
    std::shared_ptr<const PortMap> Ports;
};

// Tells whether a device path leads to a device now; by default a stat.
using DevicePresence = std::function<bool(const std::string& path)>;

// Reads station.ini of the current folder, the station folder, and checks it, the script and
// the files the script uploads (relative names count from there, as the runs read them). The
// port map is built from [Ports] and the devices present, and takes the slots' device paths.
// Every error found is added to errors, one sentence each, naming the key or file.
StationConfig ReadStationConfig(std::vector<std::string>& errors,
                                const DevicePresence& present = {});

} // namespace pellwick
