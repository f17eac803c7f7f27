// The owner of upload runs on one link, without windows: the script engine, its 10 ms script
// timer, the link's host (the one adapter between the engine and the link), and what a window
// shows of the run (gauges, label, lamp, progress group, which actions are open), all derived
// from the run's own state. The main window, pellwick-run and a station of many boards each make
// one on their link and render its View(); none of them holds logic of the run.
//
// GUI thread only. The link calls in as the host between timer ticks; Changed() follows every
// change of the view, RunEnded() the end of each run (its Record() is final then).
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/LinkInterfaces.h"
#include "serial/MessageBoxes.h"
#include "upload/GeneralSettings.h"
#include "upload/IUploadWindow.h"
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
        // Blocks the GUI thread (the pauses around an upload); by default a plain sleep.
        std::function<void(std::int32_t milliseconds)> Sleep;
        // Runs one step of the script (a tick of the script timer); by default at once. Many
        // runs on one thread run their steps where one step's waits do not hold up the others.
        std::function<void(const std::function<void()>& step)> RunStep;
    };

    // Becomes the link's host; the link must outlive the run.
    UploadRun(ILinkOperations& link, IMessageBoxes& boxes, QObject* parent = nullptr);
    ~UploadRun() override;
    UploadRun(const UploadRun&) = delete;
    UploadRun& operator=(const UploadRun&) = delete;

    void SetHooks(Hooks hooks);
    void ApplySettings(const GeneralSettings& settings) { engine_.ApplySettings(settings); }

    // "Start File Upload" (automatic) or "Select Upload Script" (manual). Nothing happens while
    // a run goes.
    void Start(bool manual);
    // "Cancel Upload": asks, and on Yes stops the run (during a transfer after at most one
    // more block, once the output has drained).
    void Cancel();
    // The port was opened, closed or lost, outside the link's own reports (a notification of
    // the port): the state is derived anew.
    void PortChanged();
    // The program ends: the timer stops and no tick follows; the log is closed.
    void Close();

    const RunView& View() const { return view_; }
    bool Running() const { return engine_.Running(); }
    const RunRecord& Record() const { return engine_.Record(); }
    ILinkOperations& Link() { return link_; }
    // The engine, for the values of the run (script, upload file, delays) and for tests.
    ScriptEngine& Engine() { return engine_; }
    const ScriptEngine& Engine() const { return engine_; }
    bool TimerActive() const { return timer_.isActive(); }

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

    void Tick();
    // The upload gauge from the link's count of bytes on the line, while a transfer goes out.
    void RefreshGauge();
    // The transfer has left the program but the line may still be carrying it: a driver that
    // does not tell (a pseudo-terminal) keeps what it took, so the file is verified only once
    // the line can have carried it.
    bool LineStillCarrying() const;
    // Derives state and controls anew; emits Changed() when the view changed or `force`.
    void Update(bool force = false);
    bool TerminalExists() const;

    ILinkOperations& link_;
    Hooks hooks_;
    std::unique_ptr<EngineWindow> window_;
    ScriptEngine engine_;
    RunView view_;
    QTimer timer_;
    QTimer gaugeTimer_; // 100 ms while a run goes
    bool wasRunning_ = false;
    bool closed_ = false;
};

} // namespace pellwick
