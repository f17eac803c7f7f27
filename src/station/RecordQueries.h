// What a production lead asks of the station's database: yields, one board's history, and
// every attempt as CSV. Read-only; no window, no slot, no port.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pellwick {

struct FileAttempt {
    std::string Name;
    std::string Address;
    std::int64_t Size = 0;
    std::string Sha256;
    std::string Outcome;
    std::int64_t BytesSent = 0;
    double TransferSeconds = 0;
    double VerifySeconds = 0;
    std::string Cause;
};

struct Attempt {
    std::int64_t Id = 0;
    std::string Station, Host, Operator, ToolVersion;
    int Slot = 0;
    std::string Port, Device, Place, ByPath, AdapterSerial, Label, BoardId;
    std::string BoardKey; // empty: the attempt is a board of its own
    int Number = 0;       // the attempt number of its board
    std::string Script, ScriptSha256, StartTime, EndTime;
    std::int64_t StartEpoch = -1, EndEpoch = -1; // -1: not known
    double Seconds = 0;
    std::string Verdict; // passed, failed, interrupted
    std::string RunEnd, Cause, Message;
    std::vector<FileAttempt> Files;

    // When it ended, or for an interrupted board when it started; -1 when neither is known.
    std::int64_t Time() const { return EndEpoch >= 0 ? EndEpoch : StartEpoch; }
};

// The [Record] Database of station.ini in folder (empty for station.db). Reads no other key,
// so a slot's absent adapter does not stand in the way. Empty on success, else why not.
std::string ReadRecordAddress(const std::string& folder, std::string& address);

// --since: YYYY-MM-DD, or YYYY-MM-DDTHH:MM[:SS], with an optional Z or +HH:MM offset; local
// time without one. Seconds since 1970 UTC, or nothing for any other text.
std::optional<std::int64_t> ParseSinceTime(const std::string& text);

class RecordReader {
public:
    RecordReader();
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    // Opens the database read-only (address as in [Record] Database). Empty on success,
    // otherwise what failed and what to do.
    std::string Open(const std::string& address, const std::string& folder);
    // Every attempt that ended (or, interrupted, started) at or after since (all when
    // nothing), with its files, in the order they were recorded.
    std::string Attempts(std::optional<std::int64_t> since, std::vector<Attempt>& out);
    // Every attempt of the board with this label or board id, in order.
    std::string History(const std::string& labelOrId, std::vector<Attempt>& out);
    // The database as messages name it.
    const std::string& Shown() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

enum class SummaryGroup { Slot, Cause, Hour };

struct YieldLine {
    std::string Group; // the slot, the cause or the hour; empty for all boards
    int Boards = 0;
    int FirstPassed = 0; // boards whose first attempt passed
    int FinalPassed = 0; // boards whose last attempt passed

    bool operator==(const YieldLine&) const = default;
};

struct Summary {
    YieldLine All;
    std::vector<YieldLine> Groups; // in order of slot, cause or hour
    int Attempts = 0;
    int LastHour = 0; // attempts that ended in the hour before now
};

// A board is a label, else a board id, else each attempt on its own; it belongs to the group
// of its first attempt (its slot, its cause, the local hour it ended in).
Summary Summarize(const std::vector<Attempt>& attempts, SummaryGroup by, std::int64_t now);
std::string SummaryText(const Summary& summary, SummaryGroup by, const std::string& since);
std::string HistoryText(const std::string& labelOrId, const std::vector<Attempt>& attempts);

// One line per attempt after a header line, RFC 4180 (CRLF, fields with a comma, a quote or a
// line break in quotes).
std::string CsvText(const std::vector<Attempt>& attempts);

} // namespace pellwick
