#include "upload/UploadLog.h"

namespace pellwick {

bool UploadLog::Start(const std::string& path, const std::tm& startLocal,
                      const DateFormats& formats) {
    Close();
    out_.open(path, std::ios::binary | std::ios::trunc);
    if (!out_) {
        Close();
        return false;
    }
    return WriteLines({Banner, DateText::Stamp(startLocal, formats), ""});
}

bool UploadLog::WriteNote(const std::string& text) {
    return IsOpen() && WriteLines({"Note: " + text, ""});
}

bool UploadLog::WriteUpload(const UploadLogEntry& entry) {
    if (!IsOpen()) {
        return false;
    }
    return WriteLines({"File Name: " + entry.FileName, "  File Size: " + std::to_string(entry.Size),
                       "  File Checksum: " + entry.ChecksumHex,
                       "  File Version: " + entry.Version + "; " + entry.DateText,
                       "  Load Address: " + entry.LoadAddress, ""});
}

bool UploadLog::WriteLines(std::initializer_list<std::string> lines) {
    for (const std::string& line : lines) {
        out_ << line << "\r\n";
    }
    // Flushed per block so the log is complete even if the program is killed mid-run.
    out_.flush();
    if (!out_) {
        Close();
        return false;
    }
    return true;
}

void UploadLog::Close() {
    if (out_.is_open()) {
        out_.close();
    }
    out_.clear();
}

} // namespace pellwick
