// What a station keeps of one board: where it was, when, and what its run did to each file.
#pragma once

#include "upload/RunRecord.h"

#include <string>
#include <vector>

namespace pellwick {

struct BoardResult {
    std::string Station; // the station's name
    std::string Host;    // the computer it runs on
    std::string Operator;
    std::string ToolVersion; // of the station program
    int Slot = 0;
    std::string Port;          // as station.ini names it
    int ComNumber = 0;         // its number in the station's port map
    std::string Device;        // the device path behind it
    std::string Place;         // the USB topology path of its adapter (1-1.4), where it has one
    std::string ByPath;        // the /dev/serial/by-path link to it, where there is one
    std::string AdapterSerial; // the USB serial number where sysfs has one
    std::string Label;         // the board's scanned label, empty when none was scanned
    std::string BoardId;       // the board's own answer to the id line, empty when not asked
    int Attempt = 0;           // of this label or id, from the database; 0 when not known
    std::string Script;
    std::string ScriptSha256; // of the script as the run read it, in hex
    std::string StartTime;    // ISO 8601 local time with offset
    std::string EndTime;
    double Seconds = 0;
    bool Passed = false; // the script ran to its end and every file was verified
    RunEnd End = RunEnd::NotStarted;
    std::string Cause;             // why it failed, one sentence
    std::string Message;           // the box that ended it
    std::vector<FileRecord> Files; // one entry per _LD of the script
};

} // namespace pellwick
