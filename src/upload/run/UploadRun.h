// The owner of upload runs on one link, without windows: the script engine on the run's clock,
// the link's host (the one adapter between the engine and the link), and what a window shows of
// the run (gauges, label, lamp, progress group, which actions are open), all derived from the
// run's own state. The main window, pellwick-run and a station of many boards each make one on
// their link and render its View(); none of them holds logic of the run, and none supplies its
// waits: they are the engine's.
//
// GUI thread only (the clock's thread). The link calls in as the host between the run's timer
// events; Changed() follows every change of the view, RunEnded() the end of each run (its
// Record() is final then).
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/LinkInterfaces.h"
#include "serial/MessageBoxes.h"
#include "upload/GeneralSettings.h"
#include "upload/IUploadWindow.h"
#include "upload/RunClock.h"
#include "upload/RunControls.h"
#include "upload/RunRecord.h"
#include "upload/ScriptEngine.h"

namespace pellwick {

// What a window shows of the run.
struct RunView {
    RunState State = RunState::PortClosed;
    RunControls Controls = ControlsFor(RunState::PortClosed, false);
    int ScriptPercent = 0;
    int UploadPercent = 0;
    std::string UploadLabel = "Upload Progress";
    // What the label tells, as the run's state: loading or verifying which file.
    UploadPhase Phase = UploadPhase::None;
    std::string PhaseFile;
    LampColour Lamp = LampRed; // green while a run goes well, red after an error
    bool ProgressVisible = false;
};

class UploadRun : public QObject, private ILinkHost {
    Q_OBJECT
public:
    // What the run needs of the program around it; each may be left empty.
    struct Hooks {
        // The terminal window has been made (it is switched off during transfers).
        std::function<bool()> TerminalExists;
        std::function<void(bool)> SetTerminalActive;
        // The script file dialog of a manual start: true and the path, or false.
        std::function<bool(std::string&)> ChooseScriptFile;
    };

    // Becomes the link's host; the link must outlive the run. The run goes by the steady clock
    // and the event loop's timers, or by the clock given, which must outlive it.
    UploadRun(ILinkOperations& link, IMessageBoxes& boxes, QObject* parent = nullptr);
    UploadRun(ILinkOperations& link, IMessageBoxes& boxes, RunClock& clock,
              QObject* parent = nullptr);
    ~UploadRun() override;
    UploadRun(const UploadRun&) = delete;
    UploadRun& operator=(const UploadRun&) = delete;

    void SetHooks(Hooks hooks);
    void ApplySettings(const GeneralSettings& settings) { engine_.ApplySettings(settings); }

    // "Start File Upload" (automatic) or "Select Upload Script" (manual). Nothing happens while
    // a run goes; a start the port cannot carry leaves a record that says why (Record()).
    void Start(bool manual);
    // "Cancel Upload": asks, and on Yes stops the run (during a transfer after at most one
    // more block, once the output has drained).
    void Cancel();
    // The port was opened, closed or lost, outside the link's own reports (a notification of
    // the port): the state is derived anew, and a wait on a line that has gone ends.
    void PortChanged();
    // The program ends: the run's timers stop and nothing follows; the log is closed.
    void Close();

    const RunView& View() const { return view_; }
    bool Running() const { return engine_.Running(); }
    const RunRecord& Record() const { return engine_.Record(); }
    ILinkOperations& Link() { return link_; }
    // The engine, for the values of the run (script, upload file, delays) and for tests.
    ScriptEngine& Engine() { return engine_; }
    const ScriptEngine& Engine() const { return engine_; }
    bool TimerActive() const { return engine_.TimerActive(); }

signals:
    void Changed();
    void RunEnded();

private:
    // The engine's window: every call lands in the view.
    class EngineWindow;

    // --- ILinkHost ---------------------------------------------------------------------------
    void SetScriptError() override { engine_.SetScriptError(); }
    void SetULError() override { engine_.SetULError(); }
    void EnableScriptTimer() override { engine_.EnableScriptTimer(); }
    void SetUploadGauge(int percent) override;
    void SetComBtnState(bool on) override;
    void TriggersChanged() override { Update(); }

    // Derives state and controls anew; emits Changed() when the view changed or `force`.
    void Update(bool force = false);
    bool TerminalExists() const;

    ILinkOperations& link_;
    Hooks hooks_;
    std::unique_ptr<RunClock> ownClock_;
    std::unique_ptr<EngineWindow> window_;
    ScriptEngine engine_;
    RunView view_;
    bool wasRunning_ = false;
    bool closed_ = false;
};

} // namespace pellwick
