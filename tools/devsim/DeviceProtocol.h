// The simulated device's side of the dialogue, free of any I/O: bytes from the line go in, answer
// chunks and notes for the transcript come out. Command lines end with CR; in upload mode a
// header line announces a file whose raw bytes follow, verified by the next lone CR.
// Not thread-safe: one owner feeds it (the server's loop).
#pragma once

#include "devsim/DeviceConfig.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellwick {

// One file as the device saw it, whether or not it was accepted.
struct UploadRecord {
    std::string address;
    std::string version;
    std::uint64_t size = 0;
    std::uint16_t announcedChecksum = 0;
    std::uint16_t receivedChecksum = 0;
    bool accepted = false;
    std::string storedPath; // empty when not stored
    std::string reason;     // why it was refused
};

class DeviceProtocol {
public:
    using Clock = std::chrono::steady_clock;

    struct Chunk {
        std::string bytes;
        bool answer = true;       // false: echo, which the answer delay does not hold back
        std::int64_t pauseMs = 0; // held back this much longer than the chunk before it
    };

    explicit DeviceProtocol(DeviceConfig config);

    void Receive(std::string_view bytes, Clock::time_point now);
    // Runs the time-outs: the end of the discard after an error, the idle abandon of a file and
    // the timed unsolicited error.
    void Tick(Clock::time_point now);
    // When Tick next has something to do, if ever.
    std::optional<Clock::time_point> NextDeadline() const;

    std::vector<Chunk> TakeOutput();
    std::vector<std::string> TakeNotes();

    bool UploadMode() const { return uploadMode_; }
    // Throwing input away after an error, until the line is quiet.
    bool Discarding() const { return phase_ == Phase::Discard; }
    const std::vector<UploadRecord>& Uploads() const { return uploads_; }

    // The name a file is stored under: the address with every byte other than a letter, digit,
    // '-' or '_' replaced by '_', plus ".bin". No address can name a path outside the folder.
    static std::string FileNameForAddress(std::string_view address);
    static std::uint16_t Checksum(std::string_view bytes);

private:
    enum class Phase { Line, Data, Discard };

    struct PendingFile {
        UploadRecord record;
        std::string data;
        std::uint64_t offset = 0; // bytes of this file taken from the line, dropped ones included
        std::int64_t unansweredVerifies = 0;
    };

    void LineByte(char c);
    void EndOfLine();
    void HandleLine(const std::string& line, bool tooLong);
    void CommandLine(const std::string& line);
    void HeaderLine(const std::string& line);
    void VerifyFile(bool lone);
    void DataBytes(std::string_view bytes, std::size_t& pos);
    void FailUpload(const std::string& reason);
    bool StoreFile(PendingFile& file);

    // pauseMs holds the answer back that much longer than the chunk before it.
    void Answer(std::string text, std::int64_t pauseMs = 0);
    void AnswerError(std::int64_t pauseMs = 0);
    // The error answer of the --err-after fault, repeated as configured.
    void AnswerInjectedError();
    void AnswerUnsolicitedError();
    bool RefuseCommand(const std::string& word);
    void Note(std::string text);
    std::string Junk(std::int64_t count);
    // Junk of the noise fault: may hold the prompts, never a byte of an error string.
    std::string Noise(std::int64_t count);
    // count bytes drawn from alphabet by the one generator, so that a seed repeats a run.
    std::string Random(const std::string& alphabet, std::int64_t count);
    const std::string& ActivePrompt() const;
    const std::string& ActiveError() const;

    DeviceConfig config_;
    Phase phase_ = Phase::Line;
    bool uploadMode_ = false;
    bool failed_ = false; // upload mode: lone CRs answer the error until a header or mode command
    std::string line_;
    bool lineTooLong_ = false;
    std::optional<PendingFile> file_;
    bool awaitingVerify_ = false;
    Clock::time_point lastByte_{};
    bool sawByte_ = false;
    std::optional<Clock::time_point> unsolicitedAt_;
    std::int64_t linesRead_ = 0;
    std::vector<RefusedCommand> refusals_; // counts left of the refused commands
    bool firstAnswer_ = true;
    std::uint32_t junkState_;
    std::string junkAlphabet_;
    std::string noiseAlphabet_;
    std::string echo_;
    std::vector<Chunk> output_;
    std::vector<std::string> notes_;
    std::vector<UploadRecord> uploads_;
};

} // namespace pellwick
