#include "devsim/DeviceProtocol.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

namespace pellwick {

namespace {

constexpr char CR = '\r';
constexpr char LF = '\n';

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

bool ParseSize(std::string_view text, std::uint64_t& size) {
    // Decimal, no sign, no leading zeros: what the uploader is meant to send.
    if (text.empty() || text.size() > 19 || (text.size() > 1 && text[0] == '0')) {
        return false;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    size = value;
    return true;
}

bool ParseChecksum(std::string_view text, std::uint16_t& checksum) {
    if (text.size() != 4) {
        return false;
    }
    unsigned value = 0;
    for (char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        value = value * 16 + digit;
    }
    checksum = static_cast<std::uint16_t>(value);
    return true;
}

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

} // namespace

DeviceProtocol::DeviceProtocol(DeviceConfig config)
    : config_(std::move(config)), refusals_(config_.refusedCommands), junkState_(config_.junkSeed) {
    // Junk never contains a byte of the device's own strings, in either letter case (the
    // uploader matches the error string without case), so it cannot fake an answer.
    const std::string reserved = Upper(config_.prompt + config_.error + config_.uploadPrompt +
                                       config_.uploadError + config_.resultMarker);
    for (int c = 0; c < 256; ++c) {
        const auto upper = static_cast<char>(std::toupper(c));
        if (reserved.find(upper) == std::string::npos) {
            junkAlphabet_.push_back(static_cast<char>(c));
        }
    }
    noiseAlphabet_ = junkAlphabet_;
    const std::string errors = Upper(config_.error + config_.uploadError);
    for (char c : config_.prompt + config_.uploadPrompt) {
        if (errors.find(static_cast<char>(std::toupper(static_cast<unsigned char>(c)))) ==
            std::string::npos) {
            // Several copies, so that a burst holds prompt characters throughout.
            noiseAlphabet_.append(16, c);
        }
    }
}

std::string DeviceProtocol::Noise(std::int64_t count) {
    return Random(noiseAlphabet_, count);
}

std::string DeviceProtocol::FileNameForAddress(std::string_view address) {
    std::string name;
    name.reserve(address.size() + 4);
    for (char c : address) {
        const bool keep = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
        name.push_back(keep ? c : '_');
    }
    return name + ".bin";
}

std::uint16_t DeviceProtocol::Checksum(std::string_view bytes) {
    std::uint16_t sum = 0;
    for (char c : bytes) {
        sum = static_cast<std::uint16_t>(sum + static_cast<unsigned char>(c));
    }
    return sum;
}

const std::string& DeviceProtocol::ActivePrompt() const {
    return uploadMode_ ? config_.uploadPrompt : config_.prompt;
}

const std::string& DeviceProtocol::ActiveError() const {
    return uploadMode_ ? config_.uploadError : config_.error;
}

std::string DeviceProtocol::Junk(std::int64_t count) {
    return Random(junkAlphabet_, count);
}

std::string DeviceProtocol::Random(const std::string& alphabet, std::int64_t count) {
    std::string out;
    if (count <= 0 || alphabet.empty()) {
        return out;
    }
    out.reserve(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
        junkState_ = junkState_ * 1103515245u + 12345u;
        out.push_back(alphabet[(junkState_ >> 16) % alphabet.size()]);
    }
    return out;
}

void DeviceProtocol::Answer(std::string text, std::int64_t pauseMs) {
    if (!echo_.empty()) {
        output_.push_back({std::move(echo_), false});
        echo_.clear();
    }
    if (firstAnswer_ && config_.flood > 0) {
        output_.push_back({Junk(config_.flood), true, std::exchange(pauseMs, 0)});
        Note("flood of " + std::to_string(config_.flood) + " bytes");
    }
    firstAnswer_ = false;
    output_.push_back({Junk(config_.garbage) + text, true, pauseMs});
}

void DeviceProtocol::AnswerError(std::int64_t pauseMs) {
    std::string text =
        config_.promptAfterError ? ActiveError() + "\r\n" + ActivePrompt() : ActiveError();
    if (config_.splitErrorMs <= 0) {
        Answer(std::move(text), pauseMs);
        return;
    }
    // The first piece ends inside the error string (after its first byte), as a slow line or a
    // device that writes byte by byte delivers it.
    Answer(text.substr(0, 1), pauseMs);
    output_.push_back({text.substr(1), true, config_.splitErrorMs});
}

void DeviceProtocol::AnswerInjectedError() {
    // A device that keeps complaining while the rest of the file is still on its way.
    for (std::int64_t i = 0; i < config_.errRepeat; ++i) {
        AnswerError(i == 0 ? 0 : config_.errRepeatMs);
    }
}

void DeviceProtocol::AnswerUnsolicitedError() {
    // Nothing changes in the device: a file being received goes on, the mode stays.
    Note("unsolicited error");
    AnswerError();
}

void DeviceProtocol::Note(std::string text) {
    notes_.push_back(std::move(text));
}

std::vector<DeviceProtocol::Chunk> DeviceProtocol::TakeOutput() {
    if (!echo_.empty()) {
        output_.push_back({std::move(echo_), false});
        echo_.clear();
    }
    return std::exchange(output_, {});
}

std::vector<std::string> DeviceProtocol::TakeNotes() {
    return std::exchange(notes_, {});
}

void DeviceProtocol::Receive(std::string_view bytes, Clock::time_point now) {
    if (!bytes.empty() && !sawByte_) {
        sawByte_ = true;
        if (config_.unsolicitedErrorMs >= 0) {
            unsolicitedAt_ = now + std::chrono::milliseconds(config_.unsolicitedErrorMs);
        }
    }
    Tick(now);
    if (!bytes.empty()) {
        lastByte_ = now;
    }
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        switch (phase_) {
        case Phase::Line:
            LineByte(bytes[pos++]);
            break;
        case Phase::Data:
            DataBytes(bytes, pos);
            break;
        case Phase::Discard:
            pos = bytes.size();
            break;
        }
    }
}

void DeviceProtocol::Tick(Clock::time_point now) {
    const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastByte_);
    if (phase_ == Phase::Discard && idle.count() >= config_.resyncMs) {
        phase_ = Phase::Line;
        line_.clear();
        lineTooLong_ = false;
        Note("line quiet again, reading commands");
    } else if (phase_ == Phase::Data && config_.dataTimeoutMs > 0 &&
               idle.count() >= config_.dataTimeoutMs) {
        const auto received = file_->offset;
        FailUpload("no data for " + std::to_string(config_.dataTimeoutMs) + " ms after " +
                   std::to_string(received) + " bytes");
        phase_ = Phase::Line;
    }
    if (unsolicitedAt_ && now >= *unsolicitedAt_) {
        unsolicitedAt_.reset();
        AnswerUnsolicitedError();
    }
}

std::optional<DeviceProtocol::Clock::time_point> DeviceProtocol::NextDeadline() const {
    std::optional<Clock::time_point> next = unsolicitedAt_;
    const auto atLatest = [&next](Clock::time_point when) {
        next = next ? std::min(*next, when) : when;
    };
    if (phase_ == Phase::Discard) {
        atLatest(lastByte_ + std::chrono::milliseconds(config_.resyncMs));
    } else if (phase_ == Phase::Data && config_.dataTimeoutMs > 0) {
        atLatest(lastByte_ + std::chrono::milliseconds(config_.dataTimeoutMs));
    }
    return next;
}

void DeviceProtocol::LineByte(char c) {
    if (c == LF) {
        return; // line ends are CR; a following LF is noise
    }
    if (config_.echo) {
        echo_.push_back(c);
    }
    if (c == CR) {
        EndOfLine();
        return;
    }
    if (line_.size() < config_.maxLine) {
        line_.push_back(c);
    } else {
        lineTooLong_ = true;
    }
}

void DeviceProtocol::EndOfLine() {
    const std::string line = std::exchange(line_, {});
    const bool tooLong = std::exchange(lineTooLong_, false);
    HandleLine(line, tooLong);
    if (++linesRead_ == config_.unsolicitedErrorLine) {
        AnswerUnsolicitedError();
    }
}

void DeviceProtocol::HandleLine(const std::string& line, bool tooLong) {
    if (awaitingVerify_) {
        VerifyFile(line.empty() && !tooLong);
        return;
    }
    if (tooLong) {
        Note("line longer than " + std::to_string(config_.maxLine) + " bytes refused");
        if (uploadMode_) {
            failed_ = true;
        }
        AnswerError();
        return;
    }
    if (line.empty()) {
        if (uploadMode_ && failed_) {
            AnswerError();
        } else {
            Answer(ActivePrompt());
        }
        return;
    }
    if (uploadMode_ && line.rfind("LF ", 0) == 0) {
        HeaderLine(line);
        return;
    }
    CommandLine(line);
}

bool DeviceProtocol::RefuseCommand(const std::string& word) {
    for (RefusedCommand& refusal : refusals_) {
        if (refusal.count > 0 && word == Upper(refusal.name)) {
            --refusal.count;
            Note("command " + refusal.name + " refused, " + std::to_string(refusal.count) +
                 " more to refuse");
            return true;
        }
    }
    return false;
}

void DeviceProtocol::CommandLine(const std::string& line) {
    const std::string word = Upper(Trim(line));
    if (RefuseCommand(word)) {
        // Answered as an unknown command is.
        if (uploadMode_) {
            failed_ = true;
        }
        AnswerError();
        return;
    }
    if (word == Upper(config_.uploadCommand)) {
        uploadMode_ = true;
        failed_ = false;
        Note("upload mode");
        Answer(ActivePrompt());
        return;
    }
    if (word == Upper(config_.normalCommand)) {
        uploadMode_ = false;
        failed_ = false;
        Note("normal mode");
        Answer(ActivePrompt());
        return;
    }
    for (const DeviceCommand& command : config_.commands) {
        if (word == Upper(command.name)) {
            if (command.hasValue) {
                Answer(command.name + config_.resultMarker + command.value + "\r\n" +
                       ActivePrompt());
            } else {
                Answer(ActivePrompt());
            }
            return;
        }
    }
    if (uploadMode_) {
        failed_ = true;
    }
    AnswerError();
}

void DeviceProtocol::HeaderLine(const std::string& line) {
    // LF <address> <size> <checksum> <version>: single blanks; the version is the rest.
    failed_ = false;
    file_.reset();
    const std::string_view rest = std::string_view(line).substr(3);
    const auto b1 = rest.find(' ');
    const auto b2 = b1 == std::string_view::npos ? b1 : rest.find(' ', b1 + 1);
    const auto b3 = b2 == std::string_view::npos ? b2 : rest.find(' ', b2 + 1);

    UploadRecord record;
    std::string reason;
    if (b3 == std::string_view::npos) {
        reason = "header has fewer than four fields";
    } else {
        record.address = std::string(rest.substr(0, b1));
        record.version = std::string(rest.substr(b3 + 1));
        const auto sizeText = rest.substr(b1 + 1, b2 - b1 - 1);
        const auto sumText = rest.substr(b2 + 1, b3 - b2 - 1);
        if (record.address.empty() || record.address.size() > DeviceConfig::maxAddress) {
            reason = "address empty or longer than " + std::to_string(DeviceConfig::maxAddress);
        } else if (!ParseSize(sizeText, record.size)) {
            reason = "size is not a plain decimal number";
        } else if (record.size > config_.maxFileSize) {
            reason = "size above " + std::to_string(config_.maxFileSize);
        } else if (!ParseChecksum(sumText, record.announcedChecksum)) {
            reason = "checksum is not 4 upper-case hex digits";
        }
    }
    if (!reason.empty()) {
        failed_ = true;
        Note("malformed header: " + reason);
        AnswerError();
        return;
    }
    Note("header: address " + record.address + ", " + std::to_string(record.size) +
         " bytes, checksum " + Hex4(record.announcedChecksum) + ", version " + record.version);
    // Built as a temporary: clang does not yet count the nested struct as default-constructible
    // inside its enclosing class, where the member initialisers are still unparsed.
    file_.emplace(PendingFile{});
    file_->record = std::move(record);
    file_->data.reserve(static_cast<std::size_t>(file_->record.size));
    phase_ = Phase::Data;
    if (config_.errAfter == 0) {
        FailUpload("error injected before the first byte");
        AnswerInjectedError();
        return;
    }
    if (file_->record.size == 0) {
        phase_ = Phase::Line;
        awaitingVerify_ = true;
    }
}

void DeviceProtocol::DataBytes(std::string_view bytes, std::size_t& pos) {
    PendingFile& file = *file_;
    while (pos < bytes.size() && file.data.size() < file.record.size) {
        char c = bytes[pos++];
        const auto offset = static_cast<std::int64_t>(file.offset++);
        if (offset == config_.dropAt) {
            Note("byte " + std::to_string(offset) + " of the file dropped");
        } else {
            if (offset == config_.corruptAt) {
                c = static_cast<char>(~static_cast<unsigned char>(c));
                Note("byte " + std::to_string(offset) + " of the file inverted");
            }
            file.data.push_back(c);
        }
        if (config_.errAfter > 0 && file.offset == static_cast<std::uint64_t>(config_.errAfter)) {
            FailUpload("error injected after " + std::to_string(config_.errAfter) + " bytes");
            AnswerInjectedError();
            return;
        }
    }
    if (file.data.size() == file.record.size) {
        phase_ = Phase::Line;
        awaitingVerify_ = true;
        if (config_.noiseAfterData > 0) {
            output_.push_back({Noise(config_.noiseAfterData), true});
            Note("noise of " + std::to_string(config_.noiseAfterData) + " bytes after the data");
        }
    }
}

void DeviceProtocol::FailUpload(const std::string& reason) {
    // The rest of the file may still be on its way: it is discarded until the line is quiet,
    // so that it is not read as commands.
    if (file_) {
        file_->record.reason = reason;
        file_->record.receivedChecksum = Checksum(file_->data);
        uploads_.push_back(file_->record);
        file_.reset();
    }
    Note("upload failed: " + reason);
    failed_ = true;
    awaitingVerify_ = false;
    phase_ = Phase::Discard;
}

void DeviceProtocol::VerifyFile(bool lone) {
    if (lone && file_->unansweredVerifies < config_.ignoreVerify) {
        // The file stays as it was, waiting for a later verifying CR.
        ++file_->unansweredVerifies;
        Note("verifying CR " + std::to_string(file_->unansweredVerifies) + " of file " +
             file_->record.address + " left unanswered");
        return;
    }
    awaitingVerify_ = false;
    PendingFile file = std::move(*file_);
    file_.reset();
    file.record.receivedChecksum = Checksum(file.data);
    if (!lone) {
        file.record.reason = "more bytes than announced before the CR";
    } else if (config_.refuseVerify) {
        file.record.reason = "refusal injected at verification";
    } else if (file.record.receivedChecksum != file.record.announcedChecksum) {
        file.record.reason = "checksum " + Hex4(file.record.receivedChecksum) + " instead of " +
                             Hex4(file.record.announcedChecksum);
    } else if (!StoreFile(file)) {
        // StoreFile has set the reason.
    } else {
        file.record.accepted = true;
    }
    uploads_.push_back(file.record);
    if (file.record.accepted) {
        Note("file " + file.record.address + " accepted" +
             (file.record.storedPath.empty() ? "" : ", stored as " + file.record.storedPath));
        Answer(config_.uploadPrompt, config_.verifyDelayMs);
    } else {
        Note("file " + file.record.address + " refused: " + file.record.reason);
        failed_ = !config_.forgetRefusal;
        AnswerError(config_.verifyDelayMs);
    }
}

bool DeviceProtocol::StoreFile(PendingFile& file) {
    if (config_.storeDir.empty()) {
        return true;
    }
    // Written beside its final name and renamed, so no reader sees half a file and an
    // existing file or link of that name is replaced, never written through.
    namespace fs = std::filesystem;
    const fs::path target = fs::path(config_.storeDir) / FileNameForAddress(file.record.address);
    const fs::path partial = fs::path(target).concat(".part");
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(file.data.data(), static_cast<std::streamsize>(file.data.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            fs::remove(partial, ignored);
            file.record.reason = "cannot write " + partial.string();
            return false;
        }
    }
    std::error_code error;
    fs::rename(partial, target, error);
    if (error) {
        fs::remove(partial, error);
        file.record.reason = "cannot store " + target.string();
        return false;
    }
    file.record.storedPath = target.string();
    return true;
}

} // namespace pellwick
