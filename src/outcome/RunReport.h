// The report of one pellwick-run run for CI systems and station scripts: what ran, on which
// port and line, how it ended, and one entry per uploaded file. Turned into JSON (--report) or
// JUnit XML (--junit, one test case per file) and written atomically, so a reader never sees
// half a report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "upload/RunRecord.h"

namespace pellwick {

struct FileReport {
    std::string file;
    std::uint32_t address = 0;
    std::uint64_t size = 0;
    std::uint32_t checksum = 0;
    std::string version;
    FileOutcome outcome = FileOutcome::NotSent;
    std::uint64_t bytesSent = 0; // bytes that can have reached the line
    double transferSeconds = 0;  // first byte queued to the output's drain
    double verifySeconds = 0;
    std::string cause;   // why the file failed, one sentence
    std::string message; // the box text that ended the file, if any
    // Bytes on the line per second of transfer; 0 when nothing was sent.
    double BytesPerSecond() const;
};

struct RunReport {
    std::string script;
    std::string comName;    // "COM3"
    std::string devicePath; // what COM3 stands for, empty when it has no device
    std::uint32_t baudRate = 0;
    int dataBits = 8;
    std::string parity;   // "none", "odd", "even", "mark", "space"
    std::string stopBits; // "1", "1.5", "2"
    bool hardwareFlow = false;
    std::string startTime; // ISO 8601 local time with offset
    std::string endTime;
    int exitStatus = 0;
    std::string exitName; // "clean", "refused", "cancelled", ...
    std::string message;  // the message that ended the run, empty for a clean one
    std::vector<FileReport> files;
};

// A file's entry as the run's record has it.
FileReport ReportOf(const FileRecord& file);

std::string ReportJson(const RunReport& report);
// A JSON string of bytes that may not be UTF-8 (they become U+FFFD), quotes included.
std::string JsonString(std::string_view bytes);
std::string ReportJUnit(const RunReport& report);

// The current local time as 2026-12-09T14:05:09.123+01:00.
std::string IsoTimeNow();

// Writes text to a temporary file beside path and renames it over path. Empty on success,
// otherwise a message naming the file and the system's reason.
std::string WriteFileAtomically(const std::string& path, const std::string& text);

// Why a report may not be put at path: a report replaces only a regular file or takes a name
// that is free, never a device, a FIFO, a symbolic link or a folder. Empty when it may.
std::string ReportPathRefusal(const std::string& path);

// Readies the report paths before a run (empty ones are skipped): an old report, a regular file,
// is removed, so that none of an earlier run can pass for this one's; anything else is left as
// it is and refused. The refusals, one a line; empty when every path may take its report.
std::string ClearReportPaths(const std::vector<std::string>& paths);

// Writes the JSON report to jsonPath and the JUnit one to junitPath, each when its path is not
// empty and not refused. The messages of the writes that failed, one a line; empty when all
// succeeded.
std::string WriteReports(const RunReport& report, const std::string& jsonPath,
                         const std::string& junitPath);

} // namespace pellwick
