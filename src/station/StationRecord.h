// The station's record, station.log: one line per board in JSON Lines (one JSON object a line),
// appended and never rewritten. Each line goes to the file in one write as soon as its board
// is done, so a crash of the station loses at most the boards that were being loaded. Beside
// it, optionally, a JUnit XML file per board in a folder of its own.
#pragma once

#include "station/BoardResult.h"

#include <string>
#include <sys/types.h>

namespace pellwick {

// One board as a line of the record, without the line end: time, slot, port, device, adapter
// serial, script, verdict, how the run ended, seconds, cause, and each file with its outcome,
// seconds and cause.
std::string BoardLine(const BoardResult& board);
// The same board as JUnit XML, one test case per file.
std::string BoardJUnit(const BoardResult& board);

class StationRecord {
public:
    StationRecord() = default;
    ~StationRecord();
    StationRecord(const StationRecord&) = delete;
    StationRecord& operator=(const StationRecord&) = delete;

    // Opens path for appending (created when missing); junitFolder, when not empty, must be
    // a folder. Empty on success, otherwise what is wrong. A file that ends in the part of a
    // line (a write the disk did not finish) is cut back to its last whole line, so that the
    // next line does not run into it; Repaired() then says so.
    std::string Open(const std::string& path, const std::string& junitFolder);
    // Appends the board's line and writes its JUnit file. Empty on success, otherwise what
    // could not be written. A line the disk takes only part of is cut off again.
    std::string Append(const BoardResult& board);
    const std::string& Path() const { return path_; }
    const std::string& Repaired() const { return repaired_; }

private:
    // Cuts the file back to the end of its last whole line; the bytes cut off, -1 on failure.
    off_t CutTornLine(off_t size);

    int fd_ = -1;
    std::string path_;
    std::string junitFolder_;
    std::string repaired_;
};

} // namespace pellwick
