// The upload log "loader.log": created anew at the start of each run with a banner and the start
// time, then six lines per uploaded file. Lines end in CR LF. Any failure closes the log
// silently; the run goes on without it.
#pragma once

#include <cstdint>
#include <ctime>
#include <fstream>
#include <initializer_list>
#include <string>

#include "upload/DateText.h"

namespace pellwick {

struct UploadLogEntry {
    std::string FileName;
    std::uint64_t Size = 0;
    std::string ChecksumHex;
    std::string Version; // the _LV argument as written
    std::string DateText;
    std::string LoadAddress;
};

class UploadLog {
public:
    static constexpr const char* FileName = "loader.log";
    static constexpr const char* Banner = "Quarrow, RS232 Pellwick upload log";

    // Closes an open log, then creates `path` (emptying an existing file) and writes the banner,
    // the start's date and time, and an empty line. false (and closed) on any failure.
    bool Start(const std::string& path, const std::tm& startLocal, const DateFormats& formats);

    // Writes "Note: " + text and an empty line (something about the line the reader of the log
    // should know); on a failure the log closes. false when not written.
    bool WriteNote(const std::string& text);

    // Writes the six lines of one upload; on a failure the log closes. false when not written.
    bool WriteUpload(const UploadLogEntry& entry);

    void Close();
    bool IsOpen() const { return out_.is_open(); }

private:
    bool WriteLines(std::initializer_list<std::string> lines);

    std::ofstream out_;
};

} // namespace pellwick
