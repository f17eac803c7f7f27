// The upload script engine: runs a script one step per tick of its 10 ms script timer, uploads
// and verifies files through the link, and keeps the upload log. It holds no window: the main
// window, the headless runner and the station render what it tells IUploadWindow, and forward
// the operator's cancel and the link's host calls (SetScriptError, SetULError,
// EnableScriptTimer) here.
//
// Every wait of a run is a state of the engine with a deadline on the run's clock, looked at by
// its own timer: a string waiting for output room, the pauses around an upload (the header's
// Delay, the post delay, the 2000 ms before a second verifying CR), the quiet before a
// verifying CR, and a command's answer. Nothing here sleeps or processes events, so many runs
// share one thread, and the programs host the same run with the same rules. The order of a
// thread that blocks in those waits is kept: what the link reports during a pause is taken
// once the step that waits is over, in arrival order. A confirmed cancel ends a wait at once,
// and so does a line that has gone (the step then goes on as at its wait's end, and finds it).
//
// Everything runs on the clock's thread (the GUI thread in the programs). A tick or a look that
// comes while a step is inside a message box waits until that step is over.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "link/LinkInterfaces.h"
#include "serial/MessageBoxes.h"
#include "upload/DateText.h"
#include "upload/GeneralSettings.h"
#include "upload/IUploadWindow.h"
#include "upload/RunClock.h"
#include "upload/RunRecord.h"
#include "upload/ScriptRun.h"
#include "upload/UploadLog.h"

namespace pellwick {

// What a run waits for inside its current step.
enum class RunWait : std::uint8_t {
    None,   // between steps (a _DY counts ticks, a transfer runs on the link's events)
    Room,   // a string waits for room in the output buffer
    Pause,  // the header's Delay, the post delay, or the pause before a second verifying CR
    Quiet,  // input is taken until the line has been quiet for a moment
    Answer, // a command's answer: input is taken until the prompt comes or the time runs out
};
// "none", "room", "pause", "quiet", "answer".
const char* RunWaitName(RunWait wait);

// Where the run stands with the file of its current _LD.
enum class UploadPhase : std::uint8_t {
    None,      // between files
    Loading,   // the file's header or bytes are on their way
    Verifying, // the file has gone and is being checked
};

class ScriptEngine {
public:
    ScriptEngine(ILinkOperations& link, IUploadWindow& window, IMessageBoxes& boxes,
                 RunClock& clock);
    ScriptEngine(const ScriptEngine&) = delete;
    ScriptEngine& operator=(const ScriptEngine&) = delete;
    ~ScriptEngine();

    // The loader.ini values the engine uses: the script for automatic starts and the pause
    // between the upload header and the data.
    void ApplySettings(const GeneralSettings& settings);
    // Formats of the upload date text and the log's date line; by default those of the C
    // library's locale at construction (the program calls setlocale(LC_ALL, "") first).
    void SetDateFormats(const DateFormats& formats) { formats_ = formats; }
    // Whether a run writes loader.log in the current folder (it does by default). Many runs
    // that share one folder keep a record of their own instead: each start would empty the
    // others' log.
    void SetLogWritten(bool written) { logWritten_ = written; }
    // Asked before each file goes out: a sentence ends the run there as failed, with that
    // cause (the adapter behind the port is not the one the board started on, say).
    void SetFileGate(std::function<std::string()> gate) { fileGate_ = std::move(gate); }

    // The start button: creates the log, switches the link to upload mode, then runs the
    // default script (automatic) or the one the operator picks (manual; cancelled -> no run).
    // Does nothing while a run goes.
    void StartRun(bool manual);
    // A start the port cannot carry: no run goes, and the record is that of a run that did not
    // start, for the reason given (never the last run's record).
    void RefuseStart(const std::string& cause);

    void ProcessScript(const std::string& fileName);
    void ScriptTimerTimer();
    void ProcessScriptLine();
    static std::string ProcessCmdString(const std::string& text);
    void ScriptError();
    void ScriptEnd();

    void UploadFile(const std::string& fileName, const std::string& address,
                    const std::string& version);
    void UploadFinish();
    void UploadError();
    void BtnULCancelClick();

    // Host calls of the link, forwarded by the owner of the run.
    void SetScriptError();
    void SetULError();
    void EnableScriptTimer();
    // The port opened, closed or lost its device: a wait on a line that has gone ends now.
    void LineChanged();

    // The program ends: no timer fires any more and the log is closed.
    void Stop();
    void CloseLog();

    const ScriptRun& Run() const { return run_; }
    ScriptRun& Run() { return run_; }
    // A run has started and not yet ended (the window shows the running controls).
    bool Running() const { return running_; }
    // What the current or last run did: its files with their outcomes and causes, its end.
    const RunRecord& Record() const { return record_; }
    // The wait of the step under way.
    RunWait Waiting() const { return wait_.Kind; }
    UploadPhase Phase() const { return phase_; }
    // The file that is loaded or verified; empty between files.
    const std::string& PhaseFile() const { return phaseFile_; }
    // The script timer is on: a tick is due.
    bool TimerActive() const;

    // How often a wait for room or input looks, and how often a transfer is watched.
    static constexpr std::chrono::milliseconds LookInterval{1};
    static constexpr std::chrono::milliseconds WatchInterval{100};
    static constexpr std::chrono::milliseconds ScriptTick{10};
    // A device that has read a verifying CR answers it within this long.
    static constexpr std::chrono::milliseconds CrAnswerWithin{100};

private:
    // What a step does once its wait is over.
    enum class Then : std::uint8_t {
        LineWritten,      // _SC: the string goes out and the line is done
        Answered,         // _TC: the answer decides how the run goes on
        HeaderWritten,    // the header goes out; then the log, the terminal, the Delay
        DelayOver,        // the transfer starts
        VerifyLook,       // a verifying CR is prepared: the input before it is taken
        StaleTaken,       // the input before the CR is judged, and the CR goes out
        VerifyAnswered,   // the answer to the CR
        AfterPromptTaken, // what followed the prompt is judged with it
    };
    struct Wait {
        RunWait Kind = RunWait::None;
        Then Next = Then::LineWritten;
        RunClock::TimePoint Begun{};
        RunClock::TimePoint Deadline{};
        RunClock::TimePoint LastByte{};
        int Looks = 0;
        // What the link reports meanwhile waits for the end of the step.
        bool Blocking = false;
        // The line has gone: the wait ends at its next look.
        bool Cut = false;
        // The answer to a verifying CR holds the error string, and it came while the file was
        // still on its way (see RefusedOnItsWay).
        bool FileRefused = false;
        // When the reply of an answer reached each length: when its bytes arrived.
        std::vector<std::pair<std::size_t, RunClock::TimePoint>> Arrivals;
    };
    enum class Verdict { Accepted, Refused, NoAnswer, LineGone };
    enum class LineEnd { Done, Aborted, Continues };

    void StartLog();
    void Step();
    // Executes a command line: Aborted when the operator aborted on a bad number (the line is
    // then not counted), Continues when the command finishes the line itself (after its wait).
    LineEnd ExecuteCommand(const std::string& line);
    void CountLine();
    // Asks Abort/Ignore on a bad _DY/_LP number; true for Abort.
    bool NumberErrorAborts(const std::string& what);
    static bool ReadUploadFile(const std::string& fileName, std::vector<std::uint8_t>& buffer);
    void ReleaseUploadBuffer();
    void SetTimer(bool on);

    // --- Waits ---------------------------------------------------------------------------
    // Runs a piece of a step (a tick, or what follows a wait): a link failure inside it ends
    // the run; once the step waits for nothing any more, what came meanwhile is taken.
    void RunPiece(const std::function<void()>& piece);
    void TakeDeferred();
    void StepOver();
    void HandleFault(const std::string& fault);
    // The string goes out once there is room (now, when there is); then `next`.
    void AwaitRoom(std::string text, Then next);
    void AwaitPause(std::int32_t milliseconds, Then next);
    void AwaitQuiet(Then next);
    void AwaitAnswer(RunClock::TimePoint deadline, Then next);
    void BeginWait(RunWait kind, Then next, RunClock::TimePoint deadline, bool blocking);
    void WaitTimerTimer();
    // One look at the wait: true when it is over.
    bool LookOver();
    void ScheduleLook();
    void Continue(Then next);
    // The wait ends without what follows it (a confirmed cancel): the link's input wait ends.
    void AbandonWait();
    // A link call that a blocking wait holds back until the step is over.
    bool Defer(std::function<void()> call);

    // --- Files ---------------------------------------------------------------------------
    void HeaderWritten();
    void DelayOver();
    void VerifyLook();
    void StaleTaken();
    void VerifyAnswered();
    // The error string in the answer to a verifying CR is the device's verdict on the file's
    // bytes, not on the CR, when it began before the CR, or while the line may still be
    // carrying the file and later than a device that had read the CR would begin its answer.
    bool RefusedOnItsWay(RunClock::TimePoint now);
    void JudgeReply();
    void Judge(Verdict verdict);
    void WatchTransfer();
    // The transfer has drained into a driver that does not tell what it holds, and the line may
    // still be carrying it; the gauge follows it meanwhile.
    bool LineStillCarrying();
    // Ends a run that cannot go on (link fault, read failure): the error box with text, which
    // the record keeps, then lamp red and idle controls.
    void AbandonRun(RunEnd end, const std::string& cause, const std::string& text);
    // What every end of a run does: the upload gauge back to 0 under "Upload Progress", the
    // terminal and buffer given back, the idle controls, and the record closed.
    void EndRun(RunEnd end);
    // The first failure of the run names its cause; later ones (a second error string, a
    // cancel after a refusal) do not replace it.
    void NoteFailure(FileOutcome outcome, const std::string& cause);
    // The phase of the current file, and the upload label that shows it.
    void EnterPhase(UploadPhase phase, const std::string& file = {});
    // An error box answered Ignore: counted, and its text kept as the last word of a run that
    // goes on to its end.
    void ErrorIgnored(const std::string& text);
    // Closes the entry of the file under way, if one is.
    void EndFile(FileOutcome outcome);
    // The file under way has stopped: its figures are those of this moment.
    void StopFileFigures();
    // The device refused the file under way: what of it is still queued goes, and the run ends
    // with the upload-error report.
    void RefuseFile();
    // The cause of the device's error string at this moment of the run.
    std::string DeviceErrorCause();
    std::string HangUpCause();
    // The file's transfer figures as the link counts them.
    void NoteTransfer(FileRecord& file) const;
    // Tells the operator when an error string is empty, so that refusals go unnoticed.
    void WarnOfUndetectableRefusals();
    // The terminal control was switched off for a transfer and is due to come back on.
    void RestoreTerminal();
    // Cancelled by the operator, or refused: an upload step goes no further.
    bool Stopped() const;
    // The line has gone: it hung up, or it was lost during the step under way (its port may be
    // open again by the time the step looks, on whatever was plugged in next).
    bool LineGone();

    ILinkOperations& link_;
    IUploadWindow& window_;
    IMessageBoxes& boxes_;
    RunClock& clock_;
    std::unique_ptr<RunTimer> scriptTimer_;
    std::unique_ptr<RunTimer> waitTimer_;
    std::unique_ptr<RunTimer> watchTimer_;
    ScriptRun run_;
    UploadLog log_;
    bool logWritten_ = true;
    std::function<std::string()> fileGate_;
    DateFormats formats_;
    bool running_ = false;
    bool stopped_ = false;
    bool inStep_ = false;
    bool tickDeferred_ = false;
    bool lookDeferred_ = false;
    bool lostInStep_ = false; // the line was lost during the step under way
    Wait wait_;
    std::deque<std::function<void()>> deferred_;
    bool transferStarted_ = false; // this upload's bytes were handed to the link
    bool terminalOff_ = false;     // the terminal control is off for an upload
    RunRecord record_;
    UploadPhase phase_ = UploadPhase::None;
    std::string phaseFile_;
    bool fileOpen_ = false; // record_.Files.back() is the file under way
    // The first failure of the run, kept until the run ends.
    FileOutcome failure_ = FileOutcome::Verified;
    std::string failureCause_;
    // The step under way: the string that waits for room, the command sent, the log entry of
    // the header, the verification's tries and what it has heard.
    std::string pending_;
    UploadLogEntry logEntry_;
    int verifyTries_ = 0;
    std::string begun_;
    std::string reply_;
    std::string answer_;
    bool fileRefused_ = false; // the last answer wait saw the file refused on its way
    RunClock::TimePoint verifyStart_{};
};

} // namespace pellwick
