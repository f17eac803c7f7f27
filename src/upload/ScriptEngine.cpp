#include "upload/ScriptEngine.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <system_error>
#include <utility>

#include "upload/ScriptText.h"
#include "upload/UploadHeader.h"

namespace pellwick {

namespace {

constexpr const char* UploadLabelIdle = "Upload Progress";

std::string LineNumberText(std::int32_t number) {
    return "\rLine Number: " + std::to_string(number);
}

// A box text with the cause of the failure on a line of its own.
std::string WithCause(const std::string& text, const std::string& cause) {
    return cause.empty() ? text : text + "\r" + cause;
}

// How long the link waits for one answer, in seconds, as the operator reads it ("5.5").
std::string AnswerWaitText() {
    const int tenths = (100 * 55 + 50) / 100; // 100 ticks of 55 ms
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

double SecondsSince(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

} // namespace

ScriptEngine::ScriptEngine(ILinkOperations& link, IUploadWindow& window, IMessageBoxes& boxes)
    : link_(link), window_(window), boxes_(boxes), formats_(DateFormats::FromLocale()) {}

ScriptEngine::~ScriptEngine() {
    CloseLog();
}

void ScriptEngine::ApplySettings(const GeneralSettings& settings) {
    run_.ScriptFileName = settings.DefaultScript;
    run_.PreUploadDelay = settings.Delay;
}

void ScriptEngine::StartRun(bool manual) {
    // A start while a run goes would reload the script, empty the log and send files again.
    if (running_) {
        return;
    }
    StartLog();
    try {
        link_.SetUploadMode(true);
    } catch (const std::exception& e) {
        record_ = RunRecord{};
        record_.End = RunEnd::Failed;
        record_.Cause = e.what();
        record_.Message = e.what();
        boxes_.Show(MsgKind::Error, e.what(), MbOk);
        return;
    }
    WarnOfUndetectableRefusals();
    if (!manual) {
        ProcessScript(run_.ScriptFileName);
        return;
    }
    std::string chosen;
    if (!window_.ChooseScriptFile(chosen)) {
        return;
    }
    run_.ScriptFileName = chosen;
    ProcessScript(chosen);
}

void ScriptEngine::WarnOfUndetectableRefusals() {
    // An empty error string is kept (loader.ini may mean it), but the operator must know that
    // a refused command or file then looks like a good one. A run works in upload mode, so only
    // the upload error string matters to it.
    if (!link_.State().UlErrorText.empty()) {
        return;
    }
    boxes_.Show(MsgKind::Warning,
                "The device's error string \"UL Error\" is empty: a command or file the device "
                "refuses cannot be detected.\rSet it in section [Trigger] of loader.ini.",
                MbOk);
}

void ScriptEngine::StartLog() {
    if (run_.LogOpen) {
        log_.Close();
    }
    run_.LogOpen = false;
    if (!logWritten_) {
        return;
    }
    std::error_code error;
    const auto directory = std::filesystem::current_path(error);
    if (error) {
        return;
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local) == nullptr) {
        return;
    }
    run_.LogOpen = log_.Start((directory / UploadLog::FileName).string(), local, formats_);
    if (const std::string note = link_.LineNote(); run_.LogOpen && !note.empty()) {
        run_.LogOpen = log_.WriteNote(note);
    }
}

void ScriptEngine::CloseLog() {
    log_.Close();
    run_.LogOpen = false;
}

void ScriptEngine::ProcessScript(const std::string& fileName) {
    bool tooLarge = false;
    const auto content = ScriptText::ReadFile(fileName, &tooLarge);
    if (!content) {
        run_.Lines.clear();
        run_.LineCount = 0;
        record_ = RunRecord{};
        record_.End = RunEnd::ScriptUnreadable;
        record_.Cause =
            tooLarge ? "The script is larger than the limit." : "The script could not be read.";
        boxes_.Show(MsgKind::Error,
                    tooLarge
                        ? "Script file \"" + fileName + "\" is larger than " +
                              std::to_string(ScriptText::MaxScriptBytes) + " bytes: not a script !"
                        : "Script file \"" + fileName + "\" not found !",
                    MbOk);
        return;
    }
    run_.Lines = ScriptText::SplitLines(*content);
    record_ = RunRecord{};
    record_.End = RunEnd::Running;
    fileOpen_ = false;
    failure_ = FileOutcome::Verified;
    failureCause_.clear();
    window_.SetComLamp(LampGreen);
    window_.SetUploadBtnState(false);
    run_.LineIndex = 0;
    run_.LineCount = static_cast<std::int32_t>(
        std::min<std::size_t>(run_.Lines.size(), std::numeric_limits<std::int32_t>::max()));
    window_.SetScriptGauge(0);
    window_.ShowProgress(true);
    run_.State = ScriptState::ssNextLine;
    running_ = true;
    link_.SetRunActive(true);
    SetTimer(true);
}

void ScriptEngine::ScriptTimerTimer() {
    SetTimer(false);
    if (inStep_) {
        // The previous step is still inside a message box or a link call; this tick runs once
        // that step is over, on the state it leaves behind.
        tickDeferred_ = true;
        return;
    }
    inStep_ = true;
    std::optional<std::string> fault;
    try {
        Step();
    } catch (const std::exception& e) {
        fault = e.what();
    } catch (...) {
        fault = "Unknown error";
    }
    if (fault && link_.LineHungUp()) {
        // The device went away before or under the step (the port closed with it): the run
        // ends with the upload-error report, as a loss during a transfer does.
        NoteFailure(FileOutcome::HungUp, HangUpCause());
        run_.State = ScriptState::ssUploadError;
        UploadError();
        tickDeferred_ = false;
    } else if (fault) {
        // A link failure inside a step (port closed, device gone, output refused) ends the run
        // instead of leaving it half-way with the running controls shown.
        boxes_.Show(MsgKind::Error, *fault, MbOk);
        AbandonRun(RunEnd::Failed, *fault);
        tickDeferred_ = false;
    }
    inStep_ = false;
    if (tickDeferred_) {
        tickDeferred_ = false;
        SetTimer(true);
    }
}

void ScriptEngine::Step() {
    // Between runs only the device's error string (SetScriptError) has something to show. Any
    // other tick then is a leftover of a run that has ended, and must neither resume its script
    // with the idle controls showing nor report its end a second time.
    if (!running_ && run_.State != ScriptState::ssScriptError) {
        return;
    }
    switch (run_.State) {
    case ScriptState::ssNextLine:
        ProcessScriptLine();
        SetTimer(true);
        break;
    case ScriptState::ssDelay:
        if (run_.DelayTicks <= 1) {
            run_.DelayTicks = 0;
            run_.State = ScriptState::ssNextLine;
        } else {
            --run_.DelayTicks;
        }
        SetTimer(true);
        break;
    case ScriptState::ssStartUpload:
        run_.State = ScriptState::ssUploading;
        UploadFile(run_.UploadName, run_.LoadAddress, run_.LoadVersion);
        break;
    case ScriptState::ssUploading:
        run_.State = ScriptState::ssNextLine;
        UploadFinish();
        break;
    case ScriptState::ssUploadError:
    case ScriptState::ssCancelled:
        UploadError();
        break;
    case ScriptState::ssScriptError:
        ScriptError();
        break;
    case ScriptState::ssScriptDone:
        ScriptEnd();
        break;
    }
}

void ScriptEngine::ProcessScriptLine() {
    if (run_.LineIndex >= run_.LineCount) {
        run_.State = ScriptState::ssScriptDone;
        return;
    }
    const std::string line = run_.Lines[static_cast<std::size_t>(run_.LineIndex)];
    if (ScriptText::IsCommandLine(line) && !ExecuteCommand(line)) {
        return;
    }
    ++run_.LineIndex;
    window_.SetScriptGauge(ScriptText::GaugePercent(run_.LineIndex, run_.LineCount));
}

bool ScriptEngine::ExecuteCommand(const std::string& line) {
    const std::string command = ScriptText::CommandOf(line);
    const std::string argument = ScriptText::ArgumentOf(line);
    if (command == "DY") {
        const auto ticks = ScriptText::ParseInteger(argument);
        if (!ticks) {
            return !NumberErrorAborts("Script file error - Delay value corrupt!");
        }
        run_.DelayTicks = *ticks;
        run_.State = ScriptState::ssDelay;
    } else if (command == "LP") {
        const auto seconds = ScriptText::ParseInteger(argument);
        // Seconds whose milliseconds do not fit the 32-bit delay count as invalid too.
        const std::int64_t ms = seconds ? std::int64_t{*seconds} * 1000 : 0;
        if (!seconds || ms > std::numeric_limits<std::int32_t>::max() ||
            ms < std::numeric_limits<std::int32_t>::min()) {
            if (NumberErrorAborts("Script file error - Post Delay value invalid!")) {
                return false;
            }
            run_.PostDelay = 0;
        } else {
            run_.PostDelay = static_cast<std::int32_t>(ms);
        }
    } else if (command == "LF") {
        run_.UploadName = argument;
    } else if (command == "LA") {
        run_.LoadAddress = argument;
    } else if (command == "LV") {
        run_.LoadVersion = argument;
    } else if (command == "DM") {
        boxes_.Show(MsgKind::Information, ProcessCmdString(argument), MbOk);
    } else if (command == "TC") {
        std::string answer;
        const std::string sent = ProcessCmdString(argument);
        link_.SendInitCmd(sent, answer);
        if (answer == "ERROR") {
            const std::string& reply = link_.State().ReplyText;
            failureCause_ = reply.empty() ? "No answer to \"" + ReadableBytes(sent) + "\" within " +
                                                AnswerWaitText() + " s."
                                          : "The device answered \"" + ReadableBytes(reply) +
                                                "\" to \"" + ReadableBytes(sent) + "\".";
            run_.State = ScriptState::ssScriptError;
        }
    } else if (command == "SC") {
        link_.SendDataString(ProcessCmdString(argument));
    } else if (command == "LD") {
        run_.State = ScriptState::ssStartUpload;
    }
    return true;
}

bool ScriptEngine::NumberErrorAborts(const std::string& what) {
    const MsgButton pressed = boxes_.Show(MsgKind::Error,
                                          what + "\rFile Name: " + run_.ScriptFileName +
                                              LineNumberText(run_.LineIndex + 1),
                                          MbAbort | MbIgnore);
    if (pressed == MbIgnore) {
        ++record_.IgnoredErrors;
        return false;
    }
    failureCause_ = "Line " + std::to_string(run_.LineIndex + 1) + " holds no valid number.";
    run_.State = ScriptState::ssScriptError;
    return true;
}

std::string ScriptEngine::ProcessCmdString(const std::string& text) {
    return ScriptText::ProcessCmdString(text);
}

void ScriptEngine::ScriptError() {
    window_.SetComLamp(LampRed);
    const std::string cause = std::exchange(failureCause_, std::string());
    const std::string text = WithCause(
        "Script error encountered! - System not responding or command error.\rFile Name: " +
            run_.ScriptFileName + LineNumberText(run_.LineIndex),
        cause);
    const MsgButton pressed = boxes_.Show(MsgKind::Error, text, MbAbort | MbIgnore);
    if (!running_) {
        // The device's error string between runs: there is no run to end or resume.
        run_.State = ScriptState::ssScriptDone;
        return;
    }
    if (pressed == MbIgnore) {
        ++record_.IgnoredErrors;
        run_.State = ScriptState::ssNextLine;
        SetTimer(true);
    } else {
        record_.Cause = cause;
        record_.Message = text;
        run_.State = ScriptState::ssScriptError;
        ScriptEnd();
    }
}

void ScriptEngine::ScriptEnd() {
    EndRun(run_.State == ScriptState::ssScriptError ? RunEnd::ScriptAborted : RunEnd::Completed);
}

void ScriptEngine::EndRun(RunEnd end) {
    // A state left at ssScriptError or ssUploadError would let a late tick bring its dialog
    // back between runs.
    run_.State = ScriptState::ssScriptDone;
    SetTimer(false);
    if (fileOpen_) {
        EndFile(failure_ == FileOutcome::Verified ? FileOutcome::Failed : failure_);
    }
    // A run aborted in the middle of an upload gives the terminal and the buffer back too.
    ReleaseUploadBuffer();
    window_.SetUploadLabel(UploadLabelIdle);
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
    if (transferStarted_ && file.TransferSeconds == 0) {
        NoteTransfer(file);
    }
}

void ScriptEngine::NoteTransfer(FileRecord& file) const {
    const TransferProgress progress = link_.Progress();
    file.TransferSeconds = progress.Seconds;
    file.BytesSent = progress.Handed;
}

std::int64_t ScriptEngine::BytesHandedOver() const {
    return transferStarted_ ? link_.Progress().Handed : 0;
}

std::string ScriptEngine::DeviceErrorCause() const {
    const std::string error = "\"" + ReadableBytes(link_.State().ActiveError) + "\"";
    if (!fileOpen_ || !transferStarted_) {
        return "The device sent its error string " + error + ".";
    }
    const std::int64_t at =
        link_.State().DeviceErrorAt >= 0 ? link_.State().DeviceErrorAt : BytesHandedOver();
    return "The device answered " + error + " after " + std::to_string(at) + " of " +
           std::to_string(record_.Files.back().Size) + " bytes.";
}

std::string ScriptEngine::HangUpCause() const {
    if (!fileOpen_) {
        return "The device hung up.";
    }
    return "The device hung up after " + std::to_string(BytesHandedOver()) + " bytes.";
}

void ScriptEngine::SetScriptError() {
    // The device's error string while a file of this run is on its way, or after the upload
    // has failed, refuses that upload: it must not become a script error that Ignore passes.
    if (running_ &&
        (run_.State == ScriptState::ssUploading || run_.State == ScriptState::ssUploadError ||
         run_.State == ScriptState::ssCancelled)) {
        if (run_.State == ScriptState::ssUploading) {
            NoteFailure(FileOutcome::Refused, DeviceErrorCause());
            run_.State = ScriptState::ssUploadError;
        }
        // While the transfer runs, this only records the refusal: the output's drain ends it.
        SetTimer(true);
        return;
    }
    if (failureCause_.empty()) {
        failureCause_ = DeviceErrorCause();
    }
    run_.State = ScriptState::ssScriptError;
    SetTimer(true);
}

void ScriptEngine::SetULError() {
    // A lost line tells of it between runs too; there is no run then to end.
    if (!running_) {
        return;
    }
    if (link_.LineHungUp()) {
        NoteFailure(FileOutcome::HungUp, HangUpCause());
    } else if (link_.SCommOpen()) {
        NoteFailure(FileOutcome::Refused, DeviceErrorCause());
    } else {
        NoteFailure(FileOutcome::Failed, "The port closed during the transfer.");
    }
    if (run_.State != ScriptState::ssCancelled) {
        run_.State = ScriptState::ssUploadError;
    }
    SetTimer(true);
}

void ScriptEngine::EnableScriptTimer() {
    SetTimer(true);
}

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
    // Only a regular file is uploaded: opening a FIFO would block the run for ever, and a
    // device has no size to announce.
    std::error_code statError;
    if (!std::filesystem::is_regular_file(fileName, statError) ||
        !std::ifstream(fileName, std::ios::binary)) {
        const MsgButton pressed =
            boxes_.Show(MsgKind::Error,
                        "Script file error - File not found!\rFile Name: " + fileName +
                            LineNumberText(run_.LineIndex),
                        MbAbort | MbIgnore);
        if (pressed != MbIgnore) {
            failureCause_ = "The upload file \"" + fileName + "\" cannot be opened.";
            run_.State = ScriptState::ssScriptError;
        } else {
            ++record_.IgnoredErrors;
        }
        SetTimer(true);
        return;
    }
    if (!ReadUploadFile(fileName, run_.UploadBuffer)) {
        ReleaseUploadBuffer();
        boxes_.Show(MsgKind::Error, "Insufficient Memory Resources - Script Terminated !", MbOk);
        // The run cannot go on; return to idle rather than leave the running controls up.
        AbandonRun(RunEnd::Failed, "The upload file \"" + fileName + "\" could not be read.");
        return;
    }
    const std::uint64_t size = run_.UploadBuffer.size();
    const std::string dateText = DateText::ForFile(fileName, formats_, version);
    const std::uint16_t checksum = UploadHeader::Checksum(run_.UploadBuffer);
    window_.SetUploadLabel(fileName);

    const std::string headerVersion = UploadHeader::IsDateVersion(version) ? dateText : version;
    FileRecord file;
    file.Line = run_.LineIndex;
    file.Name = fileName;
    file.Address = address;
    file.Version = headerVersion;
    file.Size = size;
    file.Checksum = checksum;
    record_.Files.push_back(std::move(file));
    fileOpen_ = true;
    link_.SendDataString(UploadHeader::Build(address, size, checksum, headerVersion));

    if (run_.LogOpen) {
        run_.LogOpen = log_.WriteUpload(
            {fileName, size, UploadHeader::ChecksumHex(checksum), version, dateText, address});
    }
    if (window_.TerminalExists()) {
        window_.SetTerminalActive(false);
        terminalOff_ = true;
    }
    if (run_.PreUploadDelay > 0) {
        window_.Sleep(run_.PreUploadDelay);
    }
    if (run_.State == ScriptState::ssCancelled || run_.State == ScriptState::ssUploadError) {
        // Cancelled or refused while the header went out (sending processes messages). A
        // transfer start clears the stop request, so starting one now would send the whole
        // file regardless.
        SetTimer(true);
        return;
    }
    transferStarted_ = true;
    link_.SendBuffer(run_.UploadBuffer.data(), static_cast<std::uint32_t>(size));
}

ScriptEngine::Verdict ScriptEngine::VerifyOnce(std::string& heard) {
    heard.clear();
    if (link_.LineHungUp()) {
        return Verdict::LineGone;
    }
    const std::string error = link_.State().ActiveError;
    // Input from before the CR cannot be its answer (a prompt left over from the transfer, or
    // line noise, would end the wait at once), but it may hold the device's error string:
    // whole, when it came late, or begun, when the rest follows with the answer.
    const std::string stale = link_.TakeInput();
    if (!error.empty() && stale.find(error) != std::string::npos) {
        heard = stale;
        return Verdict::Refused;
    }
    std::string begun;
    const std::size_t longest = error.empty() ? 0 : std::min(stale.size(), error.size() - 1);
    for (std::size_t n = longest; n > 0; --n) {
        if (stale.compare(stale.size() - n, n, error, 0, n) == 0) {
            begun = error.substr(0, n);
            break;
        }
    }
    std::string answer;
    link_.SendInitCmd("\r", answer);
    std::string reply = begun + link_.State().ReplyText;
    if (answer == "OK" && !error.empty()) {
        // The prompt that ended the wait may have been noise in front of the real answer:
        // a refusal that follows it still counts.
        reply += link_.TakeInput();
    }
    heard = reply;
    if (!error.empty() && reply.find(error) != std::string::npos) {
        return Verdict::Refused;
    }
    if (answer == "OK") {
        return Verdict::Accepted;
    }
    if (link_.LineHungUp()) {
        return Verdict::LineGone;
    }
    return Verdict::NoAnswer;
}

void ScriptEngine::RestoreTerminal() {
    if (terminalOff_ && window_.TerminalExists()) {
        window_.SetTerminalActive(true);
    }
    terminalOff_ = false;
}

void ScriptEngine::UploadFinish() {
    if (fileOpen_ && transferStarted_) {
        // The output has drained: the transfer's figures are final now.
        NoteTransfer(record_.Files.back());
    }
    verifyStart_ = std::chrono::steady_clock::now();
    window_.SetUploadLabel("Verifying Upload");
    window_.SetUploadGauge(50);
    if (run_.PostDelay > 0) {
        window_.Sleep(run_.PostDelay);
    }
    // Only a missing answer is worth a second try: the device's error string is its verdict,
    // and a line that has hung up will not answer.
    std::string heard;
    int tries = 1;
    Verdict verdict = VerifyOnce(heard);
    if (verdict == Verdict::NoAnswer) {
        window_.SetUploadGauge(70);
        window_.Sleep(2000);
        ++tries;
        verdict = VerifyOnce(heard);
    }
    if (fileOpen_) {
        record_.Files.back().VerifySeconds = SecondsSince(verifyStart_);
    }
    if (verdict != Verdict::Accepted) {
        switch (verdict) {
        case Verdict::Refused:
            NoteFailure(FileOutcome::Refused, "The device answered \"" +
                                                  ReadableBytes(link_.State().ActiveError) +
                                                  "\" to the verifying CR.");
            break;
        case Verdict::LineGone:
            NoteFailure(FileOutcome::HungUp, HangUpCause());
            break;
        default:
            NoteFailure(FileOutcome::NotVerified,
                        heard.empty() ? "No answer to the verifying CR (" + std::to_string(tries) +
                                            " tries, " + AnswerWaitText() + " s)."
                                      : "No prompt in the answer to the verifying CR (" +
                                            std::to_string(tries) + " tries): \"" +
                                            ReadableBytes(heard) + "\".");
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
    window_.SetUploadLabel(UploadLabelIdle);
    window_.SetUploadGauge(0);
    run_.State = ScriptState::ssNextLine;
    SetTimer(true);
}

void ScriptEngine::UploadError() {
    // The bytes of a transfer still running are in use: its end (the output's drain) brings
    // the next tick, which ends the run.
    if (link_.TransferRunning()) {
        return;
    }
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
    if (boxes_.Show(MsgKind::Warning, "Cancel current upload?", MbYes | MbNo) != MbYes) {
        return;
    }
    if (!running_) {
        // The run ended while the question was open; its own report has said how.
        boxes_.Show(MsgKind::Information,
                    "The upload run had already ended: there was nothing left to cancel.", MbOk);
        return;
    }
    // A refusal that stopped the transfer before the operator said Yes stays its cause; the link
    // tells the engine of it only once the output has drained.
    if (link_.TransferRunning() && link_.State().DeviceErrorAt >= 0) {
        NoteFailure(FileOutcome::Refused, DeviceErrorCause());
    }
    NoteFailure(FileOutcome::Cancelled, "Cancelled by the operator.");
    run_.State = ScriptState::ssCancelled;
    link_.SetStopRequest(true);
}

void ScriptEngine::AbandonRun(RunEnd end, const std::string& cause) {
    NoteFailure(FileOutcome::Failed, cause);
    window_.SetComLamp(LampRed);
    record_.Cause = failureCause_;
    EndRun(end);
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

void ScriptEngine::SetTimer(bool on) {
    // While a transfer runs only its end may bring the next tick: a tick in between would
    // verify, or end the run and release the bytes, while the link still sends them.
    if (on && link_.TransferRunning()) {
        return;
    }
    window_.SetScriptTimerEnabled(on);
}

} // namespace pellwick
