#include "station/StationRecord.h"

#include "outcome/RunReport.h"
#include "outcome/RunVerdict.h"
#include "upload/UploadHeader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellwick {

namespace {

std::string Seconds(double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", value);
    return buf;
}

std::string Field(const char* name, const std::string& json) {
    return std::string("\"") + name + "\":" + json;
}

std::string FileJson(const FileRecord& f) {
    std::string j = "{";
    j += Field("file", JsonString(f.Name)) + ",";
    j += Field("address", JsonString(f.Address)) + ",";
    j += Field("size", std::to_string(f.Size)) + ",";
    j += Field("checksum", JsonString(UploadHeader::ChecksumHex(f.Checksum))) + ",";
    j += Field("version", JsonString(f.Version)) + ",";
    j += Field("outcome", JsonString(FileOutcomeName(f.Outcome))) + ",";
    j += Field("bytes", std::to_string(std::max<std::int64_t>(f.BytesSent, 0))) + ",";
    j += Field("seconds", Seconds(f.TransferSeconds + f.VerifySeconds)) + ",";
    j += Field("cause", JsonString(f.Cause)) + ",";
    j += Field("sha256", JsonString(f.Sha256));
    return j + "}";
}

// Times in file names: the record's time with what a file name should not hold replaced.
std::string FileNameTime(std::string time) {
    for (char& c : time) {
        if (c == ':' || c == '+') {
            c = '-';
        }
    }
    return time;
}

} // namespace

std::string BoardLine(const BoardResult& b) {
    std::string j = "{";
    j += Field("time", JsonString(b.StartTime)) + ",";
    j += Field("end", JsonString(b.EndTime)) + ",";
    j += Field("slot", std::to_string(b.Slot)) + ",";
    j += Field("port", JsonString(b.Port)) + ",";
    j += Field("device", JsonString(b.Device)) + ",";
    j += Field("adapter_serial", JsonString(b.AdapterSerial)) + ",";
    j += Field("place", JsonString(b.Place)) + ",";
    j += Field("by_path", JsonString(b.ByPath)) + ",";
    j += Field("label", JsonString(b.Label)) + ",";
    j += Field("board_id", JsonString(b.BoardId)) + ",";
    j += Field("attempt", std::to_string(b.Attempt)) + ",";
    j += Field("station", JsonString(b.Station)) + ",";
    j += Field("host", JsonString(b.Host)) + ",";
    j += Field("operator", JsonString(b.Operator)) + ",";
    j += Field("version", JsonString(b.ToolVersion)) + ",";
    j += Field("script", JsonString(b.Script)) + ",";
    j += Field("script_sha256", JsonString(b.ScriptSha256)) + ",";
    j += Field("verdict", JsonString(b.Passed ? "passed" : "failed")) + ",";
    j += Field("run", JsonString(RunEndName(b.End))) + ",";
    j += Field("seconds", Seconds(b.Seconds)) + ",";
    j += Field("cause", JsonString(b.Passed ? "" : b.Cause)) + ",";
    j += Field("files", "[");
    for (std::size_t i = 0; i < b.Files.size(); ++i) {
        j += (i > 0 ? "," : "") + FileJson(b.Files[i]);
    }
    return j + "]}";
}

std::string BoardJUnit(const BoardResult& b) {
    RunReport report;
    report.script = b.Script;
    report.comName = b.Port;
    report.devicePath = b.Device;
    report.startTime = b.StartTime;
    report.endTime = b.EndTime;
    RunVerdict verdict;
    verdict.end = b.End;
    SetExit(report, b.Passed ? ExitClean : ExitStatusFor(verdict), b.End, b.Message);
    for (const FileRecord& file : b.Files) {
        report.files.push_back(ReportOf(file));
    }
    return ReportJUnit(report);
}

StationRecord::~StationRecord() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::string StationRecord::Open(const std::string& path, const std::string& junitFolder) {
    path_ = path;
    junitFolder_ = junitFolder;
    if (!junitFolder.empty()) {
        struct stat st {};
        if (stat(junitFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            return "--junit " + junitFolder + " is not a folder: make it first.";
        }
    }
    // Appending only: a line already written is never touched again, and lines of boards that
    // finish together never cut into each other.
    // Non-blocking only for the open: a FIFO there must not hold the station until a reader
    // comes (it is refused below); writes to the regular file are not affected.
    fd_ =
        open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd_ < 0) {
        return "The record " + path + " cannot be opened for appending: " + std::strerror(errno) +
               ".";
    }
    struct stat st {};
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd_);
        fd_ = -1;
        return "The record " + path + " is not a regular file.";
    }
    const off_t cut = CutTornLine(st.st_size);
    if (cut < 0) {
        return "The record " + path +
               " ends in a torn line that cannot be cut off: " + std::strerror(errno) + ".";
    }
    if (cut > 0) {
        repaired_ = "The record " + path + " ended in the part of a line (" + std::to_string(cut) +
                    " bytes of a write the disk did not finish); it was cut off.";
    }
    return {};
}

off_t StationRecord::CutTornLine(off_t size) {
    char chunk[4096];
    off_t end = size;
    while (end > 0) {
        const off_t start = end > off_t(sizeof chunk) ? end - off_t(sizeof chunk) : 0;
        const ssize_t got = pread(fd_, chunk, static_cast<std::size_t>(end - start), start);
        if (got != end - start) {
            return -1;
        }
        for (off_t i = end - start; i > 0; --i) {
            if (chunk[i - 1] == '\n') {
                const off_t whole = start + i;
                return whole == size ? 0 : ftruncate(fd_, whole) == 0 ? size - whole : -1;
            }
        }
        end = start;
    }
    return size == 0 ? 0 : ftruncate(fd_, 0) == 0 ? size : -1;
}

std::string StationRecord::Append(const BoardResult& board) {
    std::string errors;
    const std::string line = BoardLine(board) + "\n";
    // One write per line: a reader or a crash sees whole lines only. A part of a line (a full
    // disk) is cut off again, or the next line, once there is room, would run into it.
    struct stat st {};
    const bool sized = fd_ >= 0 && fstat(fd_, &st) == 0;
    const ssize_t written = sized ? write(fd_, line.data(), line.size()) : -1;
    if (written != static_cast<ssize_t>(line.size())) {
        const int cause = errno;
        if (written > 0 && ftruncate(fd_, st.st_size) != 0) {
            errors += "The record " + path_ + " keeps a torn line: " + std::strerror(errno) + ". ";
        }
        errors += "The record " + path_ + " could not take the board of slot " +
                  std::to_string(board.Slot) + ": " +
                  (written < 0 ? std::strerror(cause) : "the disk took only part of it") + ".";
    }
    if (!junitFolder_.empty()) {
        const std::string file = junitFolder_ + "/" + FileNameTime(board.StartTime) + "-slot" +
                                 std::to_string(board.Slot) + ".xml";
        if (const std::string failed = WriteFileAtomically(file, BoardJUnit(board));
            !failed.empty()) {
            errors += (errors.empty() ? "" : " ") + failed;
        }
    }
    return errors;
}

} // namespace pellwick
