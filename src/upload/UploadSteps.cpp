// The upload half of the engine: a file's header, pause and transfer, its verification, the
// watch over a transfer's line, the cancel, the upload-error report and the record of each file.
#include "upload/ScriptEngine.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>
#include <utility>

#include "upload/EngineTexts.h"
#include "upload/Sha256.h"
#include "upload/UploadHeader.h"

namespace pellwick {

namespace {

constexpr const char* UploadLabelIdle = "Upload Progress";

} // namespace

bool ScriptEngine::ReadUploadFile(const std::string& fileName, std::vector<std::uint8_t>& buffer) {
    // The size comes from the file system: a directory or a device opens as a stream but has
    // no size, which counts as a read failure.
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(fileName, error);
    // The link counts a transfer in 32 bits signed; a larger file would go out cut short
    // under a header that announces its full size.
    if (error || size > static_cast<std::uintmax_t>(std::numeric_limits<std::int32_t>::max())) {
        return false;
    }
    try {
        buffer.assign(static_cast<std::size_t>(size), 0);
    } catch (const std::exception&) {
        return false;
    }
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        return false;
    }
    if (size > 0) {
        in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(size));
        if (static_cast<std::uintmax_t>(in.gcount()) != size) {
            return false;
        }
    }
    return true;
}

void ScriptEngine::UploadFile(const std::string& fileName, const std::string& address,
                              const std::string& version) {
    transferStarted_ = false;
    if (fileGate_) {
        if (const std::string cause = fileGate_(); !cause.empty()) {
            AbandonRun(RunEnd::Failed, cause, cause);
            return;
        }
    }
    // Only a regular file is uploaded: opening a FIFO would block the run for ever, and a
    // device has no size to announce.
    std::error_code statError;
    if (!std::filesystem::is_regular_file(fileName, statError) ||
        !std::ifstream(fileName, std::ios::binary)) {
        const std::string text = "Script file error - File not found!\rFile Name: " + fileName +
                                 LineNumberText(run_.LineIndex);
        if (boxes_.Show(MsgKind::Error, text, MbAbort | MbIgnore) != MbIgnore) {
            failureCause_ = "The upload file \"" + fileName + "\" cannot be opened.";
            run_.State = ScriptState::ssScriptError;
        } else {
            ErrorIgnored(text);
        }
        SetTimer(true);
        return;
    }
    if (!ReadUploadFile(fileName, run_.UploadBuffer)) {
        ReleaseUploadBuffer();
        // The run cannot go on; return to idle rather than leave the running controls up.
        AbandonRun(RunEnd::Failed, "The upload file \"" + fileName + "\" could not be read.",
                   "Insufficient Memory Resources - Script Terminated !");
        return;
    }
    const std::uint64_t size = run_.UploadBuffer.size();
    const std::string dateText = DateText::ForFile(fileName, formats_, version);
    const std::uint16_t checksum = UploadHeader::Checksum(run_.UploadBuffer);
    EnterPhase(UploadPhase::Loading, fileName);

    const std::string headerVersion = UploadHeader::IsDateVersion(version) ? dateText : version;
    FileRecord file;
    file.Line = run_.LineIndex;
    file.Name = fileName;
    file.Address = address;
    file.Version = headerVersion;
    file.Size = size;
    file.Checksum = checksum;
    file.Sha256 = Sha256::HexOf(run_.UploadBuffer.data(), run_.UploadBuffer.size());
    record_.Files.push_back(std::move(file));
    fileOpen_ = true;
    logEntry_ = {fileName, size, UploadHeader::ChecksumHex(checksum), version, dateText, address};
    AwaitRoom(UploadHeader::Build(address, size, checksum, headerVersion), Then::HeaderWritten);
}

void ScriptEngine::HeaderWritten() {
    link_.WriteString(pending_);
    if (run_.LogOpen) {
        run_.LogOpen = log_.WriteUpload(logEntry_);
    }
    if (window_.TerminalExists()) {
        window_.SetTerminalActive(false);
        terminalOff_ = true;
    }
    AwaitPause(run_.PreUploadDelay, Then::DelayOver);
}

void ScriptEngine::DelayOver() {
    if (Stopped()) {
        // Cancelled or refused while the header went out. A transfer start clears the stop
        // request, so starting one now would send the whole file regardless.
        SetTimer(true);
        return;
    }
    transferStarted_ = true;
    link_.SendBuffer(run_.UploadBuffer.data(),
                     static_cast<std::uint32_t>(run_.UploadBuffer.size()));
    watchTimer_->Start(WatchInterval);
}

void ScriptEngine::WatchTransfer() {
    if (!link_.TransferRunning()) {
        return;
    }
    // What the line has carried, not what went into the buffer: at a low rate the driver
    // holds many seconds of output.
    window_.SetUploadGauge(link_.Progress().OnLinePercent());
    if (const std::string held = link_.TransferHeld(); !held.empty() && !Stopped()) {
        // A line that carries nothing would hold the run for ever: the transfer ends, and its
        // drain brings the upload-error report with what holds the line.
        StopFileFigures();
        NoteFailure(FileOutcome::Failed, held);
        run_.State = ScriptState::ssUploadError;
        link_.StopTransfer();
    }
    watchTimer_->Start(WatchInterval);
}

bool ScriptEngine::LineStillCarrying() {
    if (!fileOpen_ || !transferStarted_ || link_.TransferRunning()) {
        return false;
    }
    const TransferProgress progress = link_.Progress();
    if (!progress.Started || !progress.Drained || progress.SecondsLeft <= 0) {
        return false;
    }
    window_.SetUploadGauge(progress.OnLinePercent());
    return true;
}

bool ScriptEngine::Stopped() const {
    return run_.State == ScriptState::ssCancelled || run_.State == ScriptState::ssUploadError;
}

void ScriptEngine::UploadFinish() {
    watchTimer_->Stop();
    if (fileOpen_ && transferStarted_) {
        // The output has drained: the transfer's figures are final now.
        NoteTransfer(record_.Files.back());
    }
    verifyStart_ = clock_.Now();
    verifyTries_ = 1;
    EnterPhase(UploadPhase::Verifying);
    window_.SetUploadGauge(50);
    AwaitPause(run_.PostDelay, Then::VerifyLook);
}

void ScriptEngine::VerifyLook() {
    begun_.clear();
    reply_.clear();
    answer_.clear();
    if (LineGone()) {
        Judge(Verdict::LineGone);
        return;
    }
    // Input from before the CR cannot be its answer (a prompt left over from the transfer, or
    // line noise, would end the wait at once), but it may hold the device's error string.
    AwaitQuiet(Then::StaleTaken);
}

void ScriptEngine::StaleTaken() {
    const std::string error = link_.State().ActiveError;
    const std::string stale = link_.EndTakeInput();
    // The error string whole came before the CR: the device refused the file on its way (its
    // driver took the file faster than the device read it), as if the trigger had seen it.
    if (!error.empty() && stale.find(error) != std::string::npos) {
        RefuseFile();
        return;
    }
    // Begun, when the rest follows with the answer.
    const std::size_t longest = error.empty() ? 0 : std::min(stale.size(), error.size() - 1);
    for (std::size_t n = longest; n > 0; --n) {
        if (stale.compare(stale.size() - n, n, error, 0, n) == 0) {
            begun_ = error.substr(0, n);
            break;
        }
    }
    link_.BeginCommand("\r");
    AwaitAnswer(TickDeadline(clock_.Now(), AnswerWaitTicks), Then::VerifyAnswered);
}

bool ScriptEngine::RefusedOnItsWay(RunClock::TimePoint now) {
    const std::string& error = link_.State().ActiveError;
    const std::size_t at =
        error.empty() ? std::string::npos : (begun_ + link_.State().ReplyText).find(error);
    if (!fileOpen_ || !transferStarted_ || at == std::string::npos) {
        return false;
    }
    // Begun before the CR went out: no answer to it.
    if (at < begun_.size()) {
        return true;
    }
    // A driver that does not tell what it holds takes the file faster than the line carries
    // it, and the CR goes out behind it: a device still reading the file refuses it on its way,
    // long after the CR; one that has read the CR answers it at once.
    RunClock::TimePoint began = now;
    for (const auto& [length, arrived] : wait_.Arrivals) {
        if (length > at - begun_.size()) {
            began = arrived;
            break;
        }
    }
    const TransferProgress progress = link_.Progress();
    return progress.OnLine < progress.Handed && began - wait_.Begun > CrAnswerWithin;
}

void ScriptEngine::VerifyAnswered() {
    answer_ = link_.EndCommand();
    if (std::exchange(fileRefused_, false)) {
        // As a refusal that the trigger saw during the transfer: the cause counts the bytes the
        // line had carried, and the verification has nothing to say.
        RefuseFile();
        return;
    }
    reply_ = begun_ + link_.State().ReplyText;
    if (answer_ == "OK" && !link_.State().ActiveError.empty()) {
        // The prompt that ended the wait may have been noise in front of the real answer: a
        // refusal that follows it still counts.
        AwaitQuiet(Then::AfterPromptTaken);
        return;
    }
    JudgeReply();
}

void ScriptEngine::JudgeReply() {
    const std::string& error = link_.State().ActiveError;
    if (!error.empty() && reply_.find(error) != std::string::npos) {
        Judge(Verdict::Refused);
    } else if (answer_ == "OK") {
        Judge(Verdict::Accepted);
    } else if (LineGone()) {
        Judge(Verdict::LineGone);
    } else {
        Judge(Verdict::NoAnswer);
    }
}

void ScriptEngine::Judge(Verdict verdict) {
    // Only a missing answer is worth a second try: the device's error string is its verdict,
    // and a line that has hung up will not answer.
    if (verdict == Verdict::NoAnswer && verifyTries_ == 1) {
        window_.SetUploadGauge(70);
        ++verifyTries_;
        AwaitPause(2000, Then::VerifyLook);
        return;
    }
    if (fileOpen_) {
        record_.Files.back().VerifySeconds =
            std::chrono::duration<double>(clock_.Now() - verifyStart_).count();
    }
    if (verdict != Verdict::Accepted) {
        switch (verdict) {
        case Verdict::Refused:
            StopFileFigures();
            NoteFailure(FileOutcome::Refused, "The device answered \"" +
                                                  ReadableBytes(link_.State().ActiveError) +
                                                  "\" to the verifying CR.");
            if (transferStarted_) {
                link_.DiscardOutput();
            }
            break;
        case Verdict::LineGone:
            StopFileFigures();
            NoteFailure(FileOutcome::HungUp, HangUpCause());
            break;
        default:
            NoteFailure(FileOutcome::NotVerified,
                        reply_.empty()
                            ? "No answer to the verifying CR (" + std::to_string(verifyTries_) +
                                  " tries, " + AnswerWaitText() + " s)."
                            : "No prompt in the answer to the verifying CR (" +
                                  std::to_string(verifyTries_) + " tries): \"" +
                                  ReadableBytes(reply_) + "\".");
            break;
        }
        window_.SetUploadGauge(90);
        boxes_.Show(
            MsgKind::Error,
            WithCause("Communication test failed. Upload of " + run_.UploadName +
                          " may have failed!\rScript Line: " + std::to_string(run_.LineIndex),
                      failureCause_),
            MbOk);
        run_.State = ScriptState::ssUploadError;
        SetTimer(true);
        return;
    }
    EndFile(FileOutcome::Verified);
    RestoreTerminal();
    ReleaseUploadBuffer();
    EnterPhase(UploadPhase::None);
    window_.SetUploadGauge(0);
    run_.State = ScriptState::ssNextLine;
    SetTimer(true);
}

void ScriptEngine::RestoreTerminal() {
    if (terminalOff_ && window_.TerminalExists()) {
        window_.SetTerminalActive(true);
    }
    terminalOff_ = false;
}

void ScriptEngine::UploadError() {
    // The bytes of a transfer still running are in use: its end (the output's drain) brings
    // the next tick, which ends the run.
    if (link_.TransferRunning()) {
        return;
    }
    watchTimer_->Stop();
    if (run_.State == ScriptState::ssCancelled) {
        NoteFailure(FileOutcome::Cancelled, "Cancelled by the operator.");
    }
    window_.SetComLamp(LampRed);
    if (fileOpen_) {
        EndFile(failure_ == FileOutcome::Verified ? FileOutcome::Failed : failure_);
    }
    ReleaseUploadBuffer();
    // No transfer runs at this point, so a stop request left by this run's cancel is dropped
    // here instead of lingering.
    link_.SetStopRequest(false);
    const std::string text = WithCause(
        "Upload error encountered, script aborted! Reset remote system.\rFile: " + run_.UploadName,
        failureCause_);
    if (!record_.Files.empty() && record_.Files.back().Message.empty() &&
        record_.Files.back().Outcome != FileOutcome::Verified) {
        record_.Files.back().Message = text;
    }
    record_.Cause = failureCause_;
    record_.Message = text;
    boxes_.Show(MsgKind::Error, text, MbOk);
    switch (failure_) {
    case FileOutcome::Refused:
        EndRun(RunEnd::Refused);
        break;
    case FileOutcome::NotVerified:
        EndRun(RunEnd::NotVerified);
        break;
    case FileOutcome::Cancelled:
        EndRun(RunEnd::Cancelled);
        break;
    case FileOutcome::HungUp:
        EndRun(RunEnd::HungUp);
        break;
    default:
        EndRun(RunEnd::Failed);
        break;
    }
}

void ScriptEngine::BtnULCancelClick() {
    // The run goes on while the question is open; Yes acts on where it stands by then.
    const MsgButton pressed = boxes_.Show(MsgKind::Warning, "Cancel current upload?", MbYes | MbNo);
    if (pressed == MbYes && !running_) {
        // The run ended while the question was open; its own report has said how.
        boxes_.Show(MsgKind::Information,
                    "The upload run had already ended: there was nothing left to cancel.", MbOk);
    } else if (pressed == MbYes) {
        // A refusal that stopped the transfer before the operator said Yes stays its cause; the
        // link tells the engine of it only once the output has drained.
        if (link_.TransferRunning() && link_.State().DeviceErrorAt >= 0) {
            NoteFailure(FileOutcome::Refused, DeviceErrorCause());
        }
        StopFileFigures();
        NoteFailure(FileOutcome::Cancelled, "Cancelled by the operator.");
        run_.State = ScriptState::ssCancelled;
        link_.SetStopRequest(true);
        // What is queued goes, so that the stop takes effect even on a line that carries
        // nothing; the drain that follows brings the tick that ends the run.
        if (link_.TransferRunning()) {
            link_.StopTransfer();
        }
        // A wait ends now; what it would have done next is not done, and the step is over.
        if (wait_.Kind != RunWait::None) {
            AbandonWait();
            SetTimer(true);
            if (!inStep_) {
                RunPiece([] {});
            }
        }
    }
}

void ScriptEngine::AbandonRun(RunEnd end, const std::string& cause, const std::string& text) {
    // The file under way ended with this box, as a file the upload-error report ends does.
    if (fileOpen_ && record_.Files.back().Message.empty()) {
        record_.Files.back().Message = text;
    }
    record_.Message = text;
    boxes_.Show(MsgKind::Error, text, MbOk);
    NoteFailure(FileOutcome::Failed, cause);
    window_.SetComLamp(LampRed);
    record_.Cause = failureCause_;
    EndRun(end);
}

void ScriptEngine::EndRun(RunEnd end) {
    // A state left at ssScriptError or ssUploadError would let a late tick bring its dialog
    // back between runs.
    run_.State = ScriptState::ssScriptDone;
    SetTimer(false);
    watchTimer_->Stop();
    if (fileOpen_) {
        EndFile(failure_ == FileOutcome::Verified ? FileOutcome::Failed : failure_);
    }
    // A run aborted in the middle of an upload gives the terminal and the buffer back too.
    ReleaseUploadBuffer();
    EnterPhase(UploadPhase::None);
    window_.SetUploadGauge(0);
    RestoreTerminal();
    record_.End = end;
    failure_ = FileOutcome::Verified;
    failureCause_.clear();
    running_ = false;
    try {
        link_.SetRunActive(false);
    } catch (const std::exception&) {
        // A port that cannot drop a trigger now drops it when it closes.
    }
    window_.ShowProgress(false);
    window_.SetUploadBtnState(true);
}

void ScriptEngine::EnterPhase(UploadPhase phase, const std::string& file) {
    // Set before the label, so that whoever the label tells finds the phase it shows.
    phase_ = phase;
    if (phase != UploadPhase::Verifying) {
        phaseFile_ = file;
    }
    window_.SetUploadLabel(phase == UploadPhase::None      ? std::string(UploadLabelIdle)
                           : phase == UploadPhase::Loading ? phaseFile_
                                                           : std::string("Verifying Upload"));
}

void ScriptEngine::ErrorIgnored(const std::string& text) {
    ++record_.IgnoredErrors;
    record_.Message = text;
}

void ScriptEngine::NoteFailure(FileOutcome outcome, const std::string& cause) {
    if (failure_ == FileOutcome::Verified) {
        failure_ = outcome;
        failureCause_ = cause;
    }
}

void ScriptEngine::EndFile(FileOutcome outcome) {
    if (!fileOpen_) {
        return;
    }
    fileOpen_ = false;
    FileRecord& file = record_.Files.back();
    file.Outcome = outcome;
    if (outcome != FileOutcome::Verified) {
        file.Cause = failureCause_;
    }
    if (transferStarted_) {
        NoteTransfer(file);
    }
}

void ScriptEngine::RefuseFile() {
    NoteFailure(FileOutcome::Refused, DeviceErrorCause());
    // The driver may still hold much of the file (a pseudo-terminal takes 20 KiB): a device that
    // refused it gets none of that.
    if (transferStarted_) {
        link_.DiscardOutput();
    }
    run_.State = ScriptState::ssUploadError;
    SetTimer(true);
}

void ScriptEngine::StopFileFigures() {
    if (fileOpen_ && transferStarted_) {
        link_.FreezeProgress();
    }
}

void ScriptEngine::NoteTransfer(FileRecord& file) const {
    const TransferProgress progress = link_.Progress();
    file.TransferSeconds = progress.Seconds;
    // A file that stopped counts what had reached the line by then, not what went into the
    // driver: the same number as its cause.
    file.BytesSent = progress.Frozen ? progress.OnLine : progress.Handed;
}

std::string ScriptEngine::DeviceErrorCause() {
    const std::string error = "\"" + ReadableBytes(link_.State().ActiveError) + "\"";
    if (!fileOpen_ || !transferStarted_) {
        return "The device sent its error string " + error + ".";
    }
    StopFileFigures();
    const std::int64_t at =
        link_.State().DeviceErrorAt >= 0 ? link_.State().DeviceErrorAt : link_.Progress().OnLine;
    return "The device answered " + error + " after " + std::to_string(at) + " of " +
           std::to_string(record_.Files.back().Size) + " bytes.";
}

std::string ScriptEngine::HangUpCause() {
    if (!fileOpen_) {
        return "The device hung up.";
    }
    StopFileFigures();
    const std::int64_t sent = transferStarted_ ? link_.Progress().OnLine : 0;
    return "The device hung up after " + std::to_string(sent) + " bytes.";
}

void ScriptEngine::ReleaseUploadBuffer() {
    // The link reads the bytes of a running transfer until its end; a transfer that could not
    // be finished keeps them until the next release.
    if (link_.TransferRunning()) {
        return;
    }
    run_.UploadBuffer.clear();
    run_.UploadBuffer.shrink_to_fit();
}

} // namespace pellwick
