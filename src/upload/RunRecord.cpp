#include "upload/RunRecord.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "upload/ScriptText.h"
#include "upload/UploadHeader.h"

namespace pellwick {

// The names of the reports and the log, which their readers rely on: a switch, so that a new
// value without a name does not build.
const char* FileOutcomeName(FileOutcome outcome) {
    switch (outcome) {
    case FileOutcome::Verified:
        return "verified";
    case FileOutcome::Refused:
        return "refused";
    case FileOutcome::NotVerified:
        return "not verified";
    case FileOutcome::Cancelled:
        return "cancelled";
    case FileOutcome::HungUp:
        return "hung up";
    case FileOutcome::Failed:
        return "failed";
    case FileOutcome::NotSent:
        return "not sent";
    }
    return "not sent";
}

const char* RunEndName(RunEnd end) {
    switch (end) {
    case RunEnd::NotStarted:
        return "not started";
    case RunEnd::Running:
        return "running";
    case RunEnd::Completed:
        return "completed";
    case RunEnd::ScriptAborted:
        return "script error";
    case RunEnd::Refused:
        return "refused";
    case RunEnd::NotVerified:
        return "not verified";
    case RunEnd::Cancelled:
        return "cancelled";
    case RunEnd::HungUp:
        return "hung up";
    case RunEnd::Failed:
        return "failed";
    case RunEnd::ScriptUnreadable:
        return "script unreadable";
    }
    return "not started";
}

bool IsUploadFailure(RunEnd end) {
    switch (end) {
    case RunEnd::Refused:
    case RunEnd::NotVerified:
    case RunEnd::Cancelled:
    case RunEnd::HungUp:
    case RunEnd::Failed:
        return true;
    default:
        return false;
    }
}

double FileRecord::BytesPerSecond() const {
    return BytesSent > 0 && TransferSeconds > 0 ? static_cast<double>(BytesSent) / TransferSeconds
                                                : 0.0;
}

namespace {

// Size and checksum of a file not sent, read in pieces so that a large image costs no memory.
// Only a regular file is read: a FIFO named in the script would block.
bool Measure(const std::string& name, std::uint64_t& size, std::uint16_t& checksum) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(name, ec)) {
        return false;
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        return false;
    }
    std::vector<std::uint8_t> piece(64 * 1024);
    size = 0;
    unsigned sum = 0;
    while (in) {
        in.read(reinterpret_cast<char*>(piece.data()), static_cast<std::streamsize>(piece.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        for (std::size_t i = 0; i < got; ++i) {
            sum += piece[i];
        }
        size += got;
    }
    if (in.bad()) {
        return false;
    }
    checksum = static_cast<std::uint16_t>(sum & 0xFFFFu);
    return true;
}

} // namespace

std::vector<FileRecord> ListScriptFiles(const std::vector<std::string>& lines,
                                        const RunRecord& record, const DateFormats& formats) {
    std::vector<FileRecord> files;
    // The values _LF, _LA and _LV have set when each _LD is reached, as the engine keeps them.
    std::string name, address, version;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (!ScriptText::IsCommandLine(line)) {
            continue;
        }
        const std::string command = ScriptText::CommandOf(line);
        const std::string argument = ScriptText::ArgumentOf(line);
        if (command == "LF") {
            name = argument;
        } else if (command == "LA") {
            address = argument;
        } else if (command == "LV") {
            version = argument;
        } else if (command == "LD") {
            const int number = static_cast<int>(i) + 1;
            // A script error answered Ignore can run an _LD twice; its last try is its entry.
            const FileRecord* reached = nullptr;
            for (const FileRecord& file : record.Files) {
                if (file.Line == number) {
                    reached = &file;
                }
            }
            if (reached != nullptr) {
                files.push_back(*reached);
                continue;
            }
            FileRecord file;
            file.Line = number;
            file.Name = name;
            file.Address = address;
            file.Version = UploadHeader::IsDateVersion(version)
                               ? DateText::ForFile(name, formats, version)
                               : version;
            file.Readable = Measure(name, file.Size, file.Checksum);
            if (!file.Readable) {
                file.Size = 0;
                file.Checksum = 0;
                file.Cause = "The file could not be read.";
            }
            files.push_back(std::move(file));
        }
    }
    return files;
}

std::string ReadableBytes(const std::string& text, std::size_t limit) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        std::string piece;
        if (byte < 32 || byte == 127) {
            piece = {'^', static_cast<char>(byte ^ 0x40)};
        } else if (byte > 126) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            piece = hex;
        } else {
            piece = std::string(1, c);
        }
        if (out.size() + piece.size() > limit) {
            return out + "...";
        }
        out += piece;
    }
    return out;
}

} // namespace pellwick
