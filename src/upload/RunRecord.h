// What a run did, as the script engine saw it happen: one entry per file it started, with the
// file's outcome and the cause of a failure in words the operator can act on, and how the run
// as a whole ended. The engine writes it; windows, the runner's summary and its reports read it,
// so none of them has to infer a verdict from what was shown.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "upload/DateText.h"

namespace pellwick {

enum class FileOutcome : std::uint8_t {
    Verified,    // the device confirmed the file
    Refused,     // the device answered with its error string
    NotVerified, // sent, but the verification got no prompt
    Cancelled,   // the operator cancelled while the file was under way
    HungUp,      // the device hung up (adapter pulled, peer gone) while the file was under way
    Failed,      // the file could not be read, or the link failed
    NotSent,     // the run ended before the file's turn
};
// "verified", "refused", "not verified", "cancelled", "hung up", "failed", "not sent".
const char* FileOutcomeName(FileOutcome outcome);

struct FileRecord {
    int Line = 0; // 1-based line of its _LD
    std::string Name;
    std::string Address;
    std::string Version; // what the header carried: the date text for DATE
    std::uint64_t Size = 0;
    std::uint16_t Checksum = 0;
    std::string Sha256;   // of the bytes sent, in hex; empty when the file was not read
    bool Readable = true; // size and checksum are the file's own
    FileOutcome Outcome = FileOutcome::NotSent;
    std::int64_t BytesSent = 0; // bytes that can have reached the line
    double TransferSeconds = 0; // first byte queued to the output's drain
    double VerifySeconds = 0;
    std::string Cause;   // why it failed, one sentence; empty when verified
    std::string Message; // the box that ended it (lines joined with CR)

    // Bytes on the line per second of transfer; 0 when nothing was sent.
    double BytesPerSecond() const;
};

enum class RunEnd : std::uint8_t {
    NotStarted, // no run yet, or the start was abandoned (no script chosen)
    Running,
    Completed,        // the last line was taken
    ScriptAborted,    // Abort on a script error
    Refused,          // a file was refused by the device
    NotVerified,      // a file's verification got no prompt
    Cancelled,        // the operator cancelled
    HungUp,           // the device hung up
    Failed,           // the link failed in a step, or an upload file could not be read
    ScriptUnreadable, // the script could not be loaded
};
// "not started", "running", "completed", "script error", "refused", "not verified",
// "cancelled", "hung up", "failed", "script unreadable".
const char* RunEndName(RunEnd end);
// An end that reports an upload failure (the upload-error report was shown).
bool IsUploadFailure(RunEnd end);

struct RunRecord {
    RunEnd End = RunEnd::NotStarted;
    std::string Cause;             // the cause of a failed end, one sentence
    std::string Message;           // the box that ended the run, or the last one it went past
    int IgnoredErrors = 0;         // Abort/Ignore boxes answered Ignore
    std::vector<FileRecord> Files; // every file the run started, in order
    std::string ScriptSha256;      // of the script the run read, in hex
    // What the device answered to each _TC, by its 1-based line: the value after the result
    // marker, "OK" for a prompt alone, "ERROR" for anything else.
    std::map<int, std::string> Answers;
};

// One entry for every _LD of the script in order: the record's entry where the run reached it,
// otherwise the file named at that point with outcome NotSent (its size and checksum read from
// the file, in pieces, when it is a regular file).
std::vector<FileRecord> ListScriptFiles(const std::vector<std::string>& lines,
                                        const RunRecord& record, const DateFormats& formats);

// Text of a device's answer or a command as one readable line: control characters in caret
// notation (CR as ^M), bytes above 126 as \xHH, cut to at most `limit` characters with "...".
std::string ReadableBytes(const std::string& text, std::size_t limit = 40);

} // namespace pellwick
