// The script half of the engine: starting and ending runs, the timer's steps, the script's
// lines and commands, the script-error dialog, and the waits every step may hold.
#include "upload/ScriptEngine.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>
#include <utility>

#include "serial/NameTable.h"
#include "upload/EngineTexts.h"
#include "upload/ScriptText.h"
#include "upload/Sha256.h"

namespace pellwick {

// The names the progress lines show.
constexpr NameTable<RunWait> RunWaitNames[] = {{RunWait::None, "none"},
                                               {RunWait::Room, "room"},
                                               {RunWait::Pause, "pause"},
                                               {RunWait::Quiet, "quiet"},
                                               {RunWait::Answer, "answer"}};

const char* RunWaitName(RunWait wait) {
    return NameIn(RunWaitNames, wait, "none");
}

ScriptEngine::ScriptEngine(ILinkOperations& link, IUploadWindow& window, IMessageBoxes& boxes,
                           RunClock& clock)
    : link_(link), window_(window), boxes_(boxes), clock_(clock),
      scriptTimer_(clock.MakeTimer([this] { ScriptTimerTimer(); })),
      waitTimer_(clock.MakeTimer([this] { WaitTimerTimer(); })),
      watchTimer_(clock.MakeTimer([this] { RunPiece([this] { WatchTransfer(); }); })),
      formats_(DateFormats::FromLocale()) {}

ScriptEngine::~ScriptEngine() {
    Stop();
}

void ScriptEngine::ApplySettings(const GeneralSettings& settings) {
    run_.ScriptFileName = settings.DefaultScript;
    run_.PreUploadDelay = settings.Delay;
}

void ScriptEngine::StartRun(bool manual) {
    // A start while a run goes would reload the script, empty the log and send files again.
    if (running_ || stopped_) {
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

void ScriptEngine::RefuseStart(const std::string& cause) {
    if (running_) {
        return;
    }
    record_ = RunRecord{};
    record_.Cause = cause;
    // The files it would have sent are this script's, not those of the run before it.
    run_.Lines = ScriptText::SplitLines(ScriptText::ReadFile(run_.ScriptFileName).value_or(""));
    run_.LineCount = static_cast<std::int32_t>(
        std::min<std::size_t>(run_.Lines.size(), std::numeric_limits<std::int32_t>::max()));
    run_.LineIndex = 0;
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

void ScriptEngine::Stop() {
    stopped_ = true;
    AbandonWait();
    deferred_.clear();
    scriptTimer_->Stop();
    waitTimer_->Stop();
    watchTimer_->Stop();
    CloseLog();
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
        record_.Message = tooLarge ? "Script file \"" + fileName + "\" is larger than " +
                                         std::to_string(ScriptText::MaxScriptBytes) +
                                         " bytes: not a script !"
                                   : "Script file \"" + fileName + "\" not found !";
        boxes_.Show(MsgKind::Error, record_.Message, MbOk);
        return;
    }
    run_.Lines = ScriptText::SplitLines(*content);
    record_ = RunRecord{};
    record_.ScriptSha256 = Sha256::HexOf(content->data(), content->size());
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
    if (inStep_ || wait_.Kind != RunWait::None) {
        // The step under way is inside a message box or a wait: this tick runs once that step
        // is over, on the state it leaves behind.
        tickDeferred_ = true;
        return;
    }
    RunPiece([this] { Step(); });
}

void ScriptEngine::RunPiece(const std::function<void()>& piece) {
    if (stopped_) {
        return;
    }
    inStep_ = true;
    std::optional<std::string> fault;
    try {
        piece();
        if (wait_.Kind == RunWait::None) {
            TakeDeferred();
        }
    } catch (const std::exception& e) {
        fault = e.what();
    } catch (...) {
        fault = "Unknown error";
    }
    if (fault) {
        AbandonWait();
        HandleFault(*fault);
    }
    inStep_ = false;
    if (wait_.Kind == RunWait::None) {
        StepOver();
    } else if (std::exchange(lookDeferred_, false)) {
        ScheduleLook();
    }
}

void ScriptEngine::HandleFault(const std::string& fault) {
    if (LineGone()) {
        // The device went away before or under the step (the port closed with it): the run
        // ends with the upload-error report, as a loss during a transfer does.
        StopFileFigures();
        NoteFailure(FileOutcome::HungUp, HangUpCause());
        run_.State = ScriptState::ssUploadError;
        UploadError();
    } else {
        // A link failure inside a step (port closed, device gone, output refused) ends the run
        // instead of leaving it half-way with the running controls shown.
        AbandonRun(RunEnd::Failed, fault, fault);
    }
    tickDeferred_ = false;
    deferred_.clear();
}

void ScriptEngine::TakeDeferred() {
    // What the link reported while the step waited, in the order it came.
    while (!deferred_.empty() && wait_.Kind == RunWait::None) {
        const std::function<void()> call = std::move(deferred_.front());
        deferred_.pop_front();
        call();
    }
}

void ScriptEngine::StepOver() {
    lostInStep_ = false;
    if (tickDeferred_ && wait_.Kind == RunWait::None) {
        tickDeferred_ = false;
        SetTimer(true);
    }
}

bool ScriptEngine::LineGone() {
    return lostInStep_ || link_.LineHungUp();
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
        if (wait_.Kind == RunWait::None) {
            SetTimer(true);
        }
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
        if (LineStillCarrying()) {
            // The driver took the file faster than its line carries it: the verifying CR waits
            // until the device can have it, or a prompt that comes meanwhile (a late answer, an
            // error string's tail) would verify a file the device does not have.
            SetTimer(true);
            break;
        }
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
    if (ScriptText::IsCommandLine(line) && ExecuteCommand(line) != LineEnd::Done) {
        return;
    }
    CountLine();
}

void ScriptEngine::CountLine() {
    ++run_.LineIndex;
    window_.SetScriptGauge(ScriptText::GaugePercent(run_.LineIndex, run_.LineCount));
}

ScriptEngine::LineEnd ScriptEngine::ExecuteCommand(const std::string& line) {
    const std::string command = ScriptText::CommandOf(line);
    const std::string argument = ScriptText::ArgumentOf(line);
    if (command == "DY") {
        const auto ticks = ScriptText::ParseInteger(argument);
        if (!ticks) {
            return NumberErrorAborts("Script file error - Delay value corrupt!") ? LineEnd::Aborted
                                                                                 : LineEnd::Done;
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
                return LineEnd::Aborted;
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
        pending_ = ProcessCmdString(argument);
        link_.BeginCommand(pending_);
        AwaitAnswer(TickDeadline(clock_.Now(), AnswerWaitTicks), Then::Answered);
        return LineEnd::Continues;
    } else if (command == "SC") {
        AwaitRoom(ProcessCmdString(argument), Then::LineWritten);
        return LineEnd::Continues;
    } else if (command == "LD") {
        run_.State = ScriptState::ssStartUpload;
    }
    return LineEnd::Done;
}

bool ScriptEngine::NumberErrorAborts(const std::string& what) {
    const std::string text =
        what + "\rFile Name: " + run_.ScriptFileName + LineNumberText(run_.LineIndex + 1);
    if (boxes_.Show(MsgKind::Error, text, MbAbort | MbIgnore) == MbIgnore) {
        ErrorIgnored(text);
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
    const std::string text =
        WithCause("Script error encountered! - System not responding or command error."
                  "\rFile Name: " +
                      run_.ScriptFileName + LineNumberText(run_.LineIndex),
                  cause);
    const MsgButton pressed = boxes_.Show(MsgKind::Error, text, MbAbort | MbIgnore);
    if (!running_) {
        // The device's error string between runs: there is no run to end or resume.
        run_.State = ScriptState::ssScriptDone;
        return;
    }
    if (pressed == MbIgnore) {
        ErrorIgnored(text);
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

void ScriptEngine::SetScriptError() {
    if (Defer([this] { SetScriptError(); })) {
        return;
    }
    // The device's error string while a file of this run is on its way, or after the upload
    // has failed, refuses that upload: it must not become a script error that Ignore passes.
    if (running_ && (fileOpen_ || run_.State == ScriptState::ssUploadError ||
                     run_.State == ScriptState::ssCancelled)) {
        if (run_.State != ScriptState::ssUploadError && run_.State != ScriptState::ssCancelled) {
            if (link_.TransferRunning()) {
                // It came during the pause before the transfer: the transfer stops as it would
                // had the link seen the refusal itself, and its drain ends the run.
                NoteFailure(FileOutcome::Refused, DeviceErrorCause());
                run_.State = ScriptState::ssUploadError;
                link_.StopTransfer();
            } else {
                RefuseFile();
            }
        }
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
    // Seen now: the port may be open again by the time a step that waits takes this.
    if (running_ && (inStep_ || wait_.Kind != RunWait::None) && link_.LineHungUp()) {
        lostInStep_ = true;
    }
    if (Defer([this] { SetULError(); })) {
        return;
    }
    // A lost line tells of it between runs too; there is no run then to end.
    if (!running_) {
        return;
    }
    StopFileFigures();
    if (LineGone()) {
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
    if (Defer([this] { EnableScriptTimer(); })) {
        return;
    }
    SetTimer(true);
}

void ScriptEngine::LineChanged() {
    if (wait_.Kind == RunWait::None) {
        return;
    }
    if (link_.LineHungUp()) {
        lostInStep_ = true;
    } else if (link_.SCommOpen()) {
        return;
    }
    // The wait ends at its next look, which comes at once: the step goes on and finds the line
    // gone, as it would at its wait's end.
    wait_.Cut = true;
    waitTimer_->Start(std::chrono::microseconds(0));
}

bool ScriptEngine::Defer(std::function<void()> call) {
    if (!wait_.Blocking || wait_.Kind == RunWait::None) {
        return false;
    }
    deferred_.push_back(std::move(call));
    // A line that has gone ends the wait at once all the same.
    LineChanged();
    return true;
}

bool ScriptEngine::TimerActive() const {
    return scriptTimer_->Active();
}

void ScriptEngine::SetTimer(bool on) {
    // While a transfer runs only its end may bring the next tick: a tick in between would
    // verify, or end the run and release the bytes, while the link still sends them.
    if (on && (link_.TransferRunning() || stopped_)) {
        return;
    }
    if (on) {
        scriptTimer_->Start(ScriptTick);
    } else {
        scriptTimer_->Stop();
    }
}

// --- Waits -------------------------------------------------------------------------------------

void ScriptEngine::BeginWait(RunWait kind, Then next, RunClock::TimePoint deadline, bool blocking) {
    wait_ = Wait{};
    wait_.Kind = kind;
    wait_.Next = next;
    wait_.Begun = clock_.Now();
    wait_.LastByte = wait_.Begun;
    wait_.Deadline = deadline;
    wait_.Blocking = blocking;
    ScheduleLook();
}

void ScriptEngine::AwaitRoom(std::string text, Then next) {
    pending_ = std::move(text);
    // The first look is now; a string that fits goes out in this step.
    if (link_.RoomFor(pending_.size())) {
        Continue(next);
        return;
    }
    // Handlers go on running while a string waits for room, as they do for a thread that
    // processes its events meanwhile: what they report is taken at once.
    BeginWait(RunWait::Room, next, {}, false);
    wait_.Looks = 1;
}

void ScriptEngine::AwaitPause(std::int32_t milliseconds, Then next) {
    if (milliseconds <= 0) {
        Continue(next);
        return;
    }
    BeginWait(RunWait::Pause, next, clock_.Now() + std::chrono::milliseconds(milliseconds), true);
}

void ScriptEngine::AwaitQuiet(Then next) {
    link_.BeginTakeInput();
    BeginWait(RunWait::Quiet, next, clock_.Now() + InputQuietLimit, true);
}

void ScriptEngine::AwaitAnswer(RunClock::TimePoint deadline, Then next) {
    BeginWait(RunWait::Answer, next, deadline, true);
}

void ScriptEngine::ScheduleLook() {
    using std::chrono::microseconds;
    if (wait_.Kind == RunWait::None) {
        waitTimer_->Stop();
        return;
    }
    const auto now = clock_.Now();
    auto at = wait_.Kind == RunWait::Pause ? wait_.Deadline : now + LookInterval;
    if (wait_.Kind != RunWait::Room && wait_.Kind != RunWait::Pause) {
        at = std::min(at, wait_.Deadline);
    }
    waitTimer_->Start(
        std::max(microseconds(0), std::chrono::duration_cast<microseconds>(at - now)));
}

void ScriptEngine::WaitTimerTimer() {
    if (wait_.Kind == RunWait::None) {
        return;
    }
    if (inStep_) {
        lookDeferred_ = true;
        return;
    }
    RunPiece([this] {
        if (!LookOver()) {
            ScheduleLook();
            return;
        }
        const Then next = wait_.Next;
        fileRefused_ = wait_.FileRefused;
        wait_ = Wait{};
        Continue(next);
    });
}

bool ScriptEngine::LookOver() {
    const auto now = clock_.Now();
    switch (wait_.Kind) {
    case RunWait::None:
        return true;
    case RunWait::Room:
        return wait_.Cut || link_.RoomFor(pending_.size()) || ++wait_.Looks >= StringPacingRounds;
    case RunWait::Pause:
        return wait_.Cut || now >= wait_.Deadline;
    case RunWait::Quiet: {
        std::size_t taken = 0;
        const InputLook look = link_.TakeArrived(taken);
        if (taken > 0) {
            wait_.LastByte = now;
        }
        return wait_.Cut || look != InputLook::Waiting ||
               now - wait_.LastByte >= link_.QuietTime() || now >= wait_.Deadline;
    }
    case RunWait::Answer: {
        const InputLook look = link_.TakeAnswer();
        const std::size_t length = link_.State().ReplyText.size();
        if (wait_.Arrivals.empty() || wait_.Arrivals.back().first < length) {
            wait_.Arrivals.emplace_back(length, now);
        }
        if (wait_.Next == Then::VerifyAnswered && RefusedOnItsWay(now)) {
            wait_.FileRefused = true;
            return true;
        }
        return look != InputLook::Waiting || wait_.Cut || now >= wait_.Deadline;
    }
    }
    return true;
}

void ScriptEngine::AbandonWait() {
    const RunWait kind = std::exchange(wait_, Wait{}).Kind;
    waitTimer_->Stop();
    lookDeferred_ = false;
    try {
        if (kind == RunWait::Answer) {
            link_.EndCommand();
        } else if (kind == RunWait::Quiet) {
            link_.EndTakeInput();
        }
    } catch (const std::exception&) {
        // A port that has gone took its wait with it.
    }
}

void ScriptEngine::Continue(Then next) {
    switch (next) {
    case Then::LineWritten:
        link_.WriteString(pending_);
        CountLine();
        SetTimer(true);
        break;
    case Then::Answered: {
        const std::string answer = link_.EndCommand();
        record_.Answers[run_.LineIndex + 1] = answer;
        if (answer == "ERROR") {
            const std::string& reply = link_.State().ReplyText;
            failureCause_ = reply.empty() ? "No answer to \"" + ReadableBytes(pending_) +
                                                "\" within " + AnswerWaitText() + " s."
                                          : "The device answered \"" + ReadableBytes(reply) +
                                                "\" to \"" + ReadableBytes(pending_) + "\".";
            run_.State = ScriptState::ssScriptError;
        }
        CountLine();
        SetTimer(true);
        break;
    }
    case Then::HeaderWritten:
        HeaderWritten();
        break;
    case Then::DelayOver:
        DelayOver();
        break;
    case Then::VerifyLook:
        VerifyLook();
        break;
    case Then::StaleTaken:
        StaleTaken();
        break;
    case Then::VerifyAnswered:
        VerifyAnswered();
        break;
    case Then::AfterPromptTaken:
        reply_ += link_.EndTakeInput();
        JudgeReply();
        break;
    }
}

} // namespace pellwick
