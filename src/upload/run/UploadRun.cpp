#include "upload/run/UploadRun.h"

#include "upload/run/QtRunClock.h"

namespace pellwick {

class UploadRun::EngineWindow final : public IUploadWindow {
public:
    explicit EngineWindow(UploadRun& run) : run_(run) {}

    void SetScriptGauge(int percent) override { Set(run_.view_.ScriptPercent, percent); }
    void SetUploadGauge(int percent) override { Set(run_.view_.UploadPercent, percent); }
    void SetUploadLabel(const std::string& text) override {
        RunView& view = run_.view_;
        const ScriptEngine& engine = run_.engine_;
        if (view.UploadLabel != text || view.Phase != engine.Phase() ||
            view.PhaseFile != engine.PhaseFile()) {
            view.UploadLabel = text;
            view.Phase = engine.Phase();
            view.PhaseFile = engine.PhaseFile();
            emit run_.Changed();
        }
    }
    void SetComLamp(LampColour colour) override { Set(run_.view_.Lamp, colour); }
    void ShowProgress(bool visible) override { Set(run_.view_.ProgressVisible, visible); }
    // The engine tells of a run's start and end here; what the controls show follows from the
    // run's state, not from this call.
    void SetUploadBtnState(bool) override { run_.Update(); }
    bool TerminalExists() const override { return run_.TerminalExists(); }
    void SetTerminalActive(bool active) override {
        if (run_.hooks_.SetTerminalActive) {
            run_.hooks_.SetTerminalActive(active);
        }
    }
    bool ChooseScriptFile(std::string& path) override {
        return run_.hooks_.ChooseScriptFile && run_.hooks_.ChooseScriptFile(path);
    }

private:
    template <typename T> void Set(T& field, const T& value) {
        if (!(field == value)) {
            field = value;
            emit run_.Changed();
        }
    }

    UploadRun& run_;
};

namespace {

RunClock& ClockOf(std::unique_ptr<RunClock>& own) {
    own = std::make_unique<QtRunClock>();
    return *own;
}

} // namespace

UploadRun::UploadRun(ILinkOperations& link, IMessageBoxes& boxes, QObject* parent)
    : QObject(parent), link_(link), window_(std::make_unique<EngineWindow>(*this)),
      engine_(link, *window_, boxes, ClockOf(ownClock_)) {
    link_.SetHost(this);
    Update(true);
}

UploadRun::UploadRun(ILinkOperations& link, IMessageBoxes& boxes, RunClock& clock, QObject* parent)
    : QObject(parent), link_(link), window_(std::make_unique<EngineWindow>(*this)),
      engine_(link, *window_, boxes, clock) {
    link_.SetHost(this);
    Update(true);
}

UploadRun::~UploadRun() {
    link_.SetHost(nullptr);
    engine_.Stop();
}

void UploadRun::SetHooks(Hooks hooks) {
    hooks_ = std::move(hooks);
    Update();
}

void UploadRun::Start(bool manual) {
    // Only a start the view offers is taken: never while a run goes or the port is not usable.
    Update();
    if (closed_ || engine_.Running()) {
        return;
    }
    if (!view_.Controls.Start) {
        // Whoever asked learns why from the record, not from the last run's.
        engine_.RefuseStart(link_.LineHungUp()   ? "The board's line hung up before the run "
                                                   "could start."
                            : !link_.SCommOpen() ? "The port is not open: the run could not start."
                                                 : "The port could not make the triggers a run "
                                                   "needs: the run could not start.");
        emit Changed();
        return;
    }
    engine_.StartRun(manual);
    Update();
}

void UploadRun::Cancel() {
    engine_.BtnULCancelClick();
    Update();
}

void UploadRun::PortChanged() {
    engine_.LineChanged();
    Update();
}

void UploadRun::Close() {
    closed_ = true;
    engine_.Stop();
}

void UploadRun::SetUploadGauge(int percent) {
    window_->SetUploadGauge(percent);
}

void UploadRun::SetComBtnState(bool) {
    // The link tells whether the port is usable after an open, a failed open or a loss; the
    // state is read from the link itself, so a late or repeated report cannot contradict it.
    engine_.LineChanged();
    Update();
}

bool UploadRun::TerminalExists() const {
    return hooks_.TerminalExists && hooks_.TerminalExists();
}

void UploadRun::Update(bool force) {
    const bool running = engine_.Running();
    // A line that hung up is lost from that moment, before its port has finished closing; a
    // port without the triggers a run needs cannot carry one.
    const RunState state = RunStateOf(running, link_.TriggersReady(), link_.LineHungUp());
    const RunControls controls = ControlsFor(state, TerminalExists());
    const bool changed = force || state != view_.State || !(controls == view_.Controls);
    view_.State = state;
    view_.Controls = controls;
    if (changed) {
        emit Changed();
    }
    if (wasRunning_ && !running) {
        wasRunning_ = false;
        emit RunEnded();
    }
    wasRunning_ = running;
}

} // namespace pellwick
