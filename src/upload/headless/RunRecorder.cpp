#include "upload/headless/RunRecorder.h"

#include "upload/ScriptText.h"
#include "upload/UploadHeader.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace pellwick {

namespace {

constexpr const char* LabelVerifying = "Verifying Upload";
constexpr const char* LabelIdle = "Upload Progress";

// The _LA text as a number when it is one (hexadecimal, as the device reads it); 0 otherwise,
// since the script may carry any word there.
std::uint32_t AddressValue(const std::string& text) {
    if (text.empty()) {
        return 0;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 16);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull || text[0] == '-') {
        return 0;
    }
    return static_cast<std::uint32_t>(value);
}

} // namespace

void RunRecorder::WindowTap::SetUploadLabel(const std::string& text) {
    inner_.SetUploadLabel(text);
    if (text == LabelVerifying) {
        r_.VerifyStarted();
    } else if (text == LabelIdle) {
        // Failures turn the lamp red first and have ended the file by now.
        if (r_.open_ && r_.open_->phase == Phase::Verify) {
            r_.FileEnded(std::nullopt);
        }
    } else if (r_.run_ && r_.run_->State == ScriptState::ssUploading) {
        r_.FileStarted(); // the file's name: its header goes out next
    }
}

void RunRecorder::WindowTap::SetComLamp(LampColour colour) {
    inner_.SetComLamp(colour);
    if (colour != LampRed || !r_.open_ || !r_.run_) {
        return;
    }
    const ScriptState state = r_.run_->State;
    FileOutcome outcome = FileOutcome::NotVerified;
    if (state == ScriptState::ssCancelled) {
        outcome = FileOutcome::Cancelled;
    } else if (r_.open_->phase == Phase::Verify) {
        outcome = r_.refused_ && r_.refused_() ? FileOutcome::Refused : FileOutcome::NotVerified;
    } else if (state == ScriptState::ssUploadError) {
        outcome = FileOutcome::Refused; // the device's error string during the transfer
    }
    r_.FileEnded(outcome);
}

void RunRecorder::WindowTap::Sleep(std::int32_t milliseconds) {
    inner_.Sleep(milliseconds);
    // The pause between header and data is not part of the transfer.
    if (r_.open_ && r_.open_->phase == Phase::Header) {
        r_.open_->phase = Phase::Transfer;
        r_.open_->transferStart = Clock::now();
    }
}

MsgButton RunRecorder::BoxTap::Show(MsgKind kind, const std::string& text, unsigned buttons) {
    const MsgButton answer = inner_.Show(kind, text, buttons);
    if (kind == MsgKind::Error) {
        r_.ErrorShown(text);
    }
    return answer;
}

RunRecorder::RunRecorder(IUploadWindow& window, IMessageBoxes& boxes)
    : window_(*this, window), boxes_(*this, boxes) {}

void RunRecorder::Attach(const ScriptRun* run, RefusalCheck refused, DateFormats formats) {
    run_ = run;
    refused_ = std::move(refused);
    formats_ = std::move(formats);
}

void RunRecorder::FileStarted() {
    if (open_) {
        FileEnded(FileOutcome::NotVerified);
    }
    OpenFile file;
    file.line = run_->LineIndex;
    file.report =
        Describe(run_->UploadName, run_->LoadAddress, run_->LoadVersion, run_->UploadBuffer);
    file.transferStart = Clock::now();
    open_ = std::move(file);
}

void RunRecorder::VerifyStarted() {
    // Without an open file this is the verification after an ignored missing file.
    if (!open_) {
        return;
    }
    open_->verifyStart = Clock::now();
    open_->report.transferSeconds = Seconds(open_->transferStart, open_->verifyStart);
    open_->phase = Phase::Verify;
}

void RunRecorder::FileEnded(std::optional<FileOutcome> failure) {
    const Clock::time_point now = Clock::now();
    FileReport report = open_->report;
    report.outcome = failure.value_or(FileOutcome::Verified);
    if (open_->phase == Phase::Verify) {
        report.verifySeconds = Seconds(open_->verifyStart, now);
    } else {
        report.transferSeconds = Seconds(open_->transferStart, now);
    }
    // The box that tells of a failure may come after the lamp has turned red.
    if (failure && report.message.empty()) {
        awaitingMessage_ = open_->line;
    }
    done_[open_->line] = report;
    open_.reset();
}

void RunRecorder::ErrorShown(const std::string& text) {
    lastError_ = text;
    if (open_) {
        if (open_->report.message.empty()) {
            open_->report.message = text;
        }
    } else if (awaitingMessage_ != 0) {
        done_[awaitingMessage_].message = text;
        awaitingMessage_ = 0;
    } else if (run_) {
        notes_.emplace(run_->LineIndex, text);
    }
}

FileReport RunRecorder::Describe(const std::string& file, const std::string& address,
                                 const std::string& version,
                                 const std::vector<std::uint8_t>& bytes) const {
    FileReport report;
    report.file = file;
    report.address = AddressValue(address);
    report.size = static_cast<std::uint32_t>(bytes.size());
    report.checksum = UploadHeader::Checksum(bytes);
    report.version =
        UploadHeader::IsDateVersion(version) ? DateText::ForFile(file, formats_, version) : version;
    return report;
}

double RunRecorder::Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

void RunRecorder::ListScript(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) {
        unrunLines_ = ScriptText::SplitLines(ScriptText::ReadFile(path).value_or(""));
    }
}

std::vector<FileReport> RunRecorder::Files() const {
    std::vector<FileReport> files;
    const std::vector<std::string>& lines = run_ ? run_->Lines : unrunLines_;
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
            if (const auto it = done_.find(number); it != done_.end()) {
                files.push_back(it->second);
            } else if (open_ && open_->line == number) {
                FileReport report = open_->report;
                report.outcome = run_ && run_->State == ScriptState::ssCancelled
                                     ? FileOutcome::Cancelled
                                     : FileOutcome::NotVerified;
                const double elapsed = Seconds(open_->phase == Phase::Verify ? open_->verifyStart
                                                                             : open_->transferStart,
                                               Clock::now());
                (open_->phase == Phase::Verify ? report.verifySeconds : report.transferSeconds) =
                    elapsed;
                files.push_back(report);
            } else {
                // Only a regular file is read: a FIFO named in the script would block.
                std::error_code ec;
                const auto text = std::filesystem::is_regular_file(name, ec)
                                      ? ScriptText::ReadFile(name)
                                      : std::nullopt;
                const std::vector<std::uint8_t> bytes =
                    text ? std::vector<std::uint8_t>(text->begin(), text->end())
                         : std::vector<std::uint8_t>{};
                FileReport report = Describe(name, address, version, bytes);
                report.outcome = FileOutcome::NotSent;
                if (const auto note = notes_.find(number); note != notes_.end()) {
                    report.message = note->second;
                }
                files.push_back(report);
            }
        }
    }
    return files;
}

} // namespace pellwick
