// The upload script engine: runs a script one step per tick of the main window's 10 ms
// ScriptTimer, uploads and verifies files through the link, and keeps the upload log. It holds
// no window: the main window implements IUploadWindow, forwards its timer ticks, buttons and the
// link's host calls (SetScriptError, SetULError, EnableScriptTimer) here.
// Everything runs on the GUI thread. A tick disables the timer first, so ticks never overlap;
// a tick that arrives while a step is still inside a message box or a link call waits until the
// step is over.
#pragma once

#include <chrono>
#include <string>

#include "link/LinkInterfaces.h"
#include "serial/MessageBoxes.h"
#include "upload/DateText.h"
#include "upload/GeneralSettings.h"
#include "upload/IUploadWindow.h"
#include "upload/RunRecord.h"
#include "upload/ScriptRun.h"
#include "upload/UploadLog.h"

namespace pellwick {

class ScriptEngine {
public:
    ScriptEngine(ILinkOperations& link, IUploadWindow& window, IMessageBoxes& boxes);
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

    // The start button: creates the log, switches the link to upload mode, then runs the
    // default script (automatic) or the one the operator picks (manual; cancelled -> no run).
    // Does nothing while a run goes.
    void StartRun(bool manual);

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

    // Host calls of the link, forwarded by the main window.
    void SetScriptError();
    void SetULError();
    void EnableScriptTimer();

    // Program end: closes the log.
    void CloseLog();

    const ScriptRun& Run() const { return run_; }
    ScriptRun& Run() { return run_; }
    // A run has started and not yet ended (the window shows the running controls).
    bool Running() const { return running_; }
    // What the current or last run did: its files with their outcomes and causes, its end.
    const RunRecord& Record() const { return record_; }

private:
    void StartLog();
    void Step();
    // Executes a command line; false when the operator aborted on a bad number (the line is
    // then not counted).
    bool ExecuteCommand(const std::string& line);
    // Asks Abort/Ignore on a bad _DY/_LP number; true for Abort.
    bool NumberErrorAborts(const std::string& what);
    static bool ReadUploadFile(const std::string& fileName, std::vector<std::uint8_t>& buffer);
    void ReleaseUploadBuffer();
    void SetTimer(bool on);
    // Ends a run that cannot go on (link fault, read failure): lamp red, idle controls.
    void AbandonRun(RunEnd end, const std::string& cause);
    // What every end of a run does: the upload gauge back to 0 under "Upload Progress", the
    // terminal and buffer given back, the idle controls, and the record closed.
    void EndRun(RunEnd end);
    // The first failure of the run names its cause; later ones (a second error string, a
    // cancel after a refusal) do not replace it.
    void NoteFailure(FileOutcome outcome, const std::string& cause);
    // Closes the entry of the file under way, if one is.
    void EndFile(FileOutcome outcome);
    // The cause of the device's error string at this moment of the run.
    std::string DeviceErrorCause() const;
    std::string HangUpCause() const;
    // Bytes of the current file the link has handed to the driver so far.
    std::int64_t BytesHandedOver() const;
    // The file's transfer figures as the link counts them.
    void NoteTransfer(FileRecord& file) const;
    // Tells the operator when an error string is empty, so that refusals go unnoticed.
    void WarnOfUndetectableRefusals();
    // How the device answered one verifying CR; what it sent in `reply`.
    enum class Verdict { Accepted, Refused, NoAnswer, LineGone };
    Verdict VerifyOnce(std::string& reply);
    // The terminal control was switched off for a transfer and is due to come back on.
    void RestoreTerminal();

    ILinkOperations& link_;
    IUploadWindow& window_;
    IMessageBoxes& boxes_;
    ScriptRun run_;
    UploadLog log_;
    bool logWritten_ = true;
    DateFormats formats_;
    bool running_ = false;
    bool inStep_ = false;
    bool tickDeferred_ = false;
    bool transferStarted_ = false; // this upload's bytes were handed to the link
    bool terminalOff_ = false;     // the terminal control is off for an upload
    RunRecord record_;
    bool fileOpen_ = false; // record_.Files.back() is the file under way
    // The first failure of the run, kept until the run ends.
    FileOutcome failure_ = FileOutcome::Verified;
    std::string failureCause_;
    std::chrono::steady_clock::time_point verifyStart_;
};

} // namespace pellwick
