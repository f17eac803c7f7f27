#include "upload/run/UploadRun.h"

#include <chrono>
#include <exception>
#include <thread>

namespace pellwick {

class UploadRun::EngineWindow final : public IUploadWindow {
public:
    explicit EngineWindow(UploadRun& run) : run_(run) {}

    void SetScriptGauge(int percent) override { Set(run_.view_.ScriptPercent, percent); }
    void SetUploadGauge(int percent) override { Set(run_.view_.UploadPercent, percent); }
    void SetUploadLabel(const std::string& text) override { Set(run_.view_.UploadLabel, text); }
    void SetComLamp(LampColour colour) override { Set(run_.view_.Lamp, colour); }
    void ShowProgress(bool visible) override { Set(run_.view_.ProgressVisible, visible); }
    // The engine tells of a run's start and end here; what the controls show follows from the
    // run's state, not from this call.
    void SetUploadBtnState(bool) override { run_.Update(); }
    void SetScriptTimerEnabled(bool on) override {
        if (on && !run_.closed_) {
            run_.timer_.start();
        } else {
            run_.timer_.stop();
        }
    }
    bool TerminalExists() const override { return run_.TerminalExists(); }
    void SetTerminalActive(bool active) override {
        if (run_.hooks_.SetTerminalActive) {
            run_.hooks_.SetTerminalActive(active);
        }
    }
    void Sleep(std::int32_t milliseconds) override {
        if (milliseconds <= 0) {
            return;
        }
        if (run_.hooks_.Sleep) {
            run_.hooks_.Sleep(milliseconds);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
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

UploadRun::UploadRun(ILinkOperations& link, IMessageBoxes& boxes, QObject* parent)
    : QObject(parent), link_(link), window_(std::make_unique<EngineWindow>(*this)),
      engine_(link, *window_, boxes) {
    timer_.setParent(this);
    timer_.setObjectName(QStringLiteral("ScriptTimer"));
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, &UploadRun::Tick);
    gaugeTimer_.setInterval(100);
    connect(&gaugeTimer_, &QTimer::timeout, this, &UploadRun::RefreshGauge);
    link_.SetHost(this);
    Update(true);
}

UploadRun::~UploadRun() {
    link_.SetHost(nullptr);
    timer_.stop();
    gaugeTimer_.stop();
}

void UploadRun::SetHooks(Hooks hooks) {
    hooks_ = std::move(hooks);
    Update();
}

void UploadRun::Start(bool manual) {
    // Only a start the view offers is taken: never while a run goes or the port is not usable.
    Update();
    if (closed_ || !view_.Controls.Start) {
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
    Update();
}

void UploadRun::Close() {
    closed_ = true;
    timer_.stop();
    gaugeTimer_.stop();
    engine_.CloseLog();
}

void UploadRun::Tick() {
    if (LineStillCarrying()) {
        RefreshGauge();
        return; // the timer stays on: the next tick looks again
    }
    if (hooks_.RunStep) {
        hooks_.RunStep([this] { engine_.ScriptTimerTimer(); });
    } else {
        engine_.ScriptTimerTimer();
    }
    Update();
}

bool UploadRun::LineStillCarrying() const {
    if (engine_.Run().State != ScriptState::ssUploading || link_.TransferRunning()) {
        return false;
    }
    const TransferProgress progress = link_.Progress();
    return progress.Started && progress.Drained && progress.OnLine < progress.Handed;
}

void UploadRun::RefreshGauge() {
    if (link_.TransferRunning() || LineStillCarrying()) {
        window_->SetUploadGauge(link_.Progress().OnLinePercent());
    }
}

void UploadRun::SetUploadGauge(int percent) {
    window_->SetUploadGauge(percent);
}

void UploadRun::SetComBtnState(bool) {
    // The link tells whether the port is usable after an open, a failed open or a loss; the
    // state is read from the link itself, so a late or repeated report cannot contradict it.
    Update();
}

bool UploadRun::TerminalExists() const {
    return hooks_.TerminalExists && hooks_.TerminalExists();
}

void UploadRun::Update(bool force) {
    const bool running = engine_.Running();
    // A line that hung up is lost from that moment, before its port has finished closing.
    const RunState state = RunStateOf(running, link_.SCommOpen(), link_.LineHungUp());
    const RunControls controls = ControlsFor(state, TerminalExists());
    const bool changed = force || state != view_.State || !(controls == view_.Controls);
    view_.State = state;
    view_.Controls = controls;
    if (changed) {
        emit Changed();
    }
    if (running && !gaugeTimer_.isActive()) {
        gaugeTimer_.start();
    } else if (!running) {
        gaugeTimer_.stop();
    }
    if (wasRunning_ && !running) {
        wasRunning_ = false;
        emit RunEnded();
    }
    wasRunning_ = running;
}

} // namespace pellwick
