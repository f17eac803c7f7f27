#include "station/StationSlot.h"

#include "link/PortOwner.h"
#include "serial/TVaxoCustomComPort.h"
#include "serial/portmap/AdapterInfo.h"
#include "serial/portmap/NetworkAddress.h"
#include "station/BoardRun.h"

#include <exception>
#include <filesystem>
#include <sys/stat.h>

namespace pellwick {

namespace {

using Clock = std::chrono::steady_clock;

// Box texts join their lines with CR; a row shows them on one line.
std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        line += c == '\r' || c == '\n' ? ' ' : c;
    }
    return line;
}

// A port on the network has no file: whether its server takes the connection is what its
// open finds out.
bool Present(const std::string& path) {
    struct stat st {};
    return LooksLikeNetworkAddress(path) || stat(path.c_str(), &st) == 0;
}

// A place of station.ini names the adapter's USB topology path or a by-path link to it.
bool AtPlace(const AdapterInfo& adapter, const std::string& place) {
    if (place == adapter.usbPath || place == adapter.byPathPath) {
        return true;
    }
    std::error_code ec;
    const auto device = std::filesystem::canonical(place, ec);
    return !ec && !adapter.device.empty() && device.string() == adapter.device;
}

// Probes that get no byte back, one after the other, before a board counts as removed.
constexpr int RemovedAfterProbes = 3;
constexpr int ProbeIntervalMs = 500;
// Between the tries to open a port on the network whose server did not give it.
constexpr int ReopenIntervalMs = 1000;
constexpr std::size_t ProbeReplyLimit = 256;

} // namespace

// The names of the table, the record and the window, which station.log keeps: a switch, so that
// a new state without a name does not build.
const char* SlotStateName(SlotState state) {
    switch (state) {
    case SlotState::Waiting:
        return "waiting for a board";
    case SlotState::Loading:
        return "loading";
    case SlotState::Verifying:
        return "verifying";
    case SlotState::Passed:
        return "passed";
    case SlotState::Failed:
        return "failed";
    case SlotState::BoardGone:
        return "board gone";
    case SlotState::PortError:
        return "port error";
    case SlotState::OutOfService:
        return "out of service";
    case SlotState::NotThisSlot:
        return "not a slot of this station";
    }
    return "";
}

double SlotView::ElapsedSeconds() const {
    if (Started == Clock::time_point{}) {
        return 0;
    }
    const auto end = Running || Ended == Clock::time_point{} ? Clock::now() : Ended;
    return std::chrono::duration<double>(end - Started).count();
}

StationSlot::StationSlot(const StationConfig& station, const SlotConfig& config, TurnQueue& turns,
                         FolderWatches& folders, QObject* parent)
    : QObject(parent), station_(station), turns_(turns), folders_(folders), config_(config),
      mode_(config.Start), owner_(std::make_unique<PortOwner>(boxes_)),
      board_(std::make_unique<BoardRun>(station, config_, owner_->Operations(), boxes_)) {
    Rs232Settings line = station.Line;
    line.PortNumber = static_cast<std::uint16_t>(config.ComNumber);
    owner_->SetSettings(line, station.Link);
    // The slot brings a lost port back itself, with its next board (Evaluate).
    owner_->SetRecovery(false);
    owner_->Port().AddNotifyProc(&StationSlot::PortAnnounced, this);

    connect(board_.get(), &BoardRun::Changed, this, &StationSlot::UpdateFromRun);
    connect(board_.get(), &BoardRun::Started, this, &StationSlot::BoardStarted);
    connect(board_.get(), &BoardRun::Finished, this, &StationSlot::FinishBoard);
    probeTimer_.setInterval(ProbeIntervalMs);
    connect(&probeTimer_, &QTimer::timeout, this, &StationSlot::SendProbe);
    reopenTimer_.setSingleShot(true);
    reopenTimer_.setInterval(ReopenIntervalMs);
    connect(&reopenTimer_, &QTimer::timeout, this, &StationSlot::QueueOpen);
}

StationSlot::~StationSlot() {
    Shutdown();
}

void StationSlot::Shutdown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    reopenTimer_.stop();
    StopProbing();
    StopWatching();
    board_->Close();
    owner_->Port().RemoveNotifyProc(&StationSlot::PortAnnounced, this);
    owner_->Shutdown();
}

bool StationSlot::Running() const {
    return boardRunning_;
}

void StationSlot::Begin(const std::string& lastVerdict, const std::string& lastCause) {
    if ((lastVerdict == "passed" || lastVerdict == "failed") && Present(config_.DevicePath)) {
        boardPresent_ = true;
        SetState(lastVerdict == "passed" ? SlotState::Passed : SlotState::Failed,
                 lastVerdict == "passed" ? std::string() : lastCause);
    }
    if (mode_ == StartMode::Appear && !Present(config_.DevicePath)) {
        WatchForDevice();
    } else {
        QueueOpen();
    }
}

void StationSlot::QueueOpen() {
    if (openQueued_ || shutDown_) {
        return;
    }
    openQueued_ = true;
    turns_.Add(this, [this] {
        openQueued_ = false;
        if (shutDown_ || owner_->IsOpen()) {
            return;
        }
        if (!Present(config_.DevicePath) || !OpenPort()) {
            if (LooksLikeNetworkAddress(config_.DevicePath)) {
                // A server that refuses the port, or takes the connection only to drop it, is
                // asked again after a pause: one connection per try, not one after another.
                reopenTimer_.start();
            } else {
                // Tried again at the device's next change (udev setting its group, say).
                WatchForDevice();
            }
        }
        ScheduleEvaluate();
    });
}

void StationSlot::QueueStart() {
    if (startQueued_ || shutDown_) {
        return;
    }
    startQueued_ = true;
    turns_.Add(this, [this] {
        startQueued_ = false;
        if (!boardPresent_ && inService_ && !stopping_) {
            StartBoard();
        }
    });
}

void StationSlot::AfterLoss() {
    // A server that drops the connection may take the next one at once: the next try waits,
    // so that such a server sees one connection a pause, not one after another.
    if (!shutDown_ && LooksLikeNetworkAddress(config_.DevicePath) && !owner_->IsOpen()) {
        reopenTimer_.start();
    }
    ScheduleEvaluate();
}

bool StationSlot::OpenPort() {
    if (owner_->Start()) {
        // Shown from the moment the adapter is there, not only once a board has started.
        ReadAdapter();
        if (view_.State == SlotState::PortError) {
            SetState(inService_ ? SlotState::Waiting : SlotState::OutOfService);
        }
        return true;
    }
    SetState(SlotState::PortError, OneLine(owner_->StartFailure()));
    return false;
}

AdapterInfo StationSlot::ReadAdapter() {
    AdapterInfo adapter = LooksLikeNetworkAddress(config_.DevicePath)
                              ? AdapterInfo()
                              : ReadAdapterInfo(config_.DevicePath);
    if (adapter.serial != view_.AdapterSerial || adapter.Place() != view_.Place) {
        view_.AdapterSerial = adapter.serial;
        view_.Place = adapter.Place();
        emit Changed();
    }
    return adapter;
}

void StationSlot::WatchForDevice() {
    StopWatching();
    if (!watch_.Start(config_.DevicePath, &folders_)) {
        SetState(SlotState::PortError, watch_.Error());
        return;
    }
    // A device that came before the watch was set.
    QTimer::singleShot(0, this, &StationSlot::FoldersChanged);
}

void StationSlot::StopWatching() {
    watch_.Stop();
}

void StationSlot::FoldersChanged() {
    if (shutDown_ || !watch_.Active() || !watch_.Update()) {
        return;
    }
    StopWatching();
    QueueOpen();
}

void StationSlot::PortAnnounced(void* context, TVaxoCustomComPort* port, bool opening) {
    auto* self = static_cast<StationSlot*>(context);
    if (!opening && port->Lost()) {
        // Counted here, at once: the device may be back before the next look at the port.
        self->boardPresent_ = false;
        // The board went away under its run. The port may open again on whatever is plugged
        // in next, before the run's next step: that step must not go to another board, so the
        // run ends now as hung up, as a loss during a transfer ends it.
        if (self->boardRunning_) {
            self->board_->LineLost();
        }
        // Not from inside the port's close.
        QTimer::singleShot(0, self, [self] { self->AfterLoss(); });
    }
    self->board_->PortChanged();
    self->ScheduleEvaluate();
}

void StationSlot::ScheduleEvaluate() {
    if (evaluatePending_ || shutDown_) {
        return;
    }
    evaluatePending_ = true;
    QTimer::singleShot(0, this, &StationSlot::Evaluate);
}

void StationSlot::Evaluate() {
    evaluatePending_ = false;
    if (shutDown_ || boardRunning_) {
        return;
    }
    const bool verdictShown = view_.State == SlotState::Passed ||
                              view_.State == SlotState::Failed ||
                              view_.State == SlotState::NotThisSlot;
    if (!boardPresent_ && verdictShown) {
        // The label went with its board.
        view_.Label.clear();
        SetState(SlotState::Waiting);
    }
    if (!inService_ || stopping_) {
        StopProbing();
        if (!inService_ && !verdictShown && view_.State != SlotState::BoardGone) {
            SetState(SlotState::OutOfService);
        }
        return;
    }
    if (!owner_->IsOpen() && !owner_->WaitingForDevice() && !watch_.Active() && !openQueued_ &&
        !reopenTimer_.isActive()) {
        if (Present(config_.DevicePath)) {
            QueueOpen();
        } else {
            WatchForDevice();
        }
    }
    if (!owner_->IsOpen()) {
        StopProbing();
        return;
    }
    switch (mode_) {
    case StartMode::Button:
        break;
    case StartMode::Appear:
        if (!boardPresent_) {
            QueueStart();
        }
        break;
    case StartMode::Probe:
        if (!probing_) {
            StartProbing();
        }
        break;
    }
}

bool StationSlot::StartBoard() {
    if (boardRunning_ || shutDown_ || board_->Running()) {
        return false;
    }
    if (station_.RequireLabel && !newLabel_) {
        SetState(SlotState::Waiting, "Scan the board's label to start it.");
        return false;
    }
    if (!owner_->IsOpen() && !OpenPort()) {
        return false;
    }
    const AdapterInfo adapter = ReadAdapter();
    if (!config_.Place.empty() && !AtPlace(adapter, config_.Place)) {
        // Counted as there, so that it is not tried again until it has gone.
        boardPresent_ = true;
        SetState(SlotState::NotThisSlot,
                 "Its adapter is at " +
                     (adapter.Place().empty() ? "no known place" : adapter.Place()) +
                     ", the slot's place is " + config_.Place + "; it is not loaded.");
        return false;
    }
    StopProbing();
    newLabel_ = false;
    boardPresent_ = true;
    boardRunning_ = true;
    view_.BoardId.clear();
    view_.Started = Clock::now();
    view_.Ended = {};
    view_.File.clear();
    view_.Percent = 0;
    view_.Running = true;
    SetState(SlotState::Loading);
    // A start the run refuses finishes the board before this returns.
    board_->Start(adapter, view_.Label);
    return true;
}

void StationSlot::SetLabel(const std::string& label) {
    view_.Label = label;
    newLabel_ = true;
    if (!boardRunning_ && view_.State == SlotState::Waiting) {
        view_.Cause.clear();
    }
    emit Changed();
    // A board that waited for its label may start now.
    ScheduleEvaluate();
}

void StationSlot::Cancel() {
    board_->Cancel();
}

void StationSlot::StopNewBoards() {
    stopping_ = true;
    StopProbing();
    ScheduleEvaluate();
}

void StationSlot::SetInService(bool on) {
    if (inService_ == on) {
        return;
    }
    inService_ = on;
    if (on && view_.State == SlotState::OutOfService) {
        SetState(SlotState::Waiting);
    }
    ScheduleEvaluate();
}

void StationSlot::SetStartMode(StartMode mode) {
    if (mode_ == mode) {
        return;
    }
    StopProbing();
    mode_ = mode;
    emit Changed();
    ScheduleEvaluate();
}

void StationSlot::FinishBoard(const BoardResult& result) {
    boardRunning_ = false;
    view_.Ended = Clock::now();
    view_.Running = false;
    view_.Percent = 0;
    view_.BoardId = result.BoardId;
    (result.Passed ? view_.Passed : view_.Failed) += 1;
    SetState(result.Passed                  ? SlotState::Passed
             : result.End == RunEnd::HungUp ? SlotState::BoardGone
                                            : SlotState::Failed,
             result.Cause);
    emit BoardDone(result);
    ScheduleEvaluate();
}

void StationSlot::SetState(SlotState state, const std::string& cause) {
    if (view_.State == state && view_.Cause == cause) {
        return;
    }
    view_.State = state;
    view_.Cause = cause;
    emit Changed();
}

void StationSlot::UpdateFromRun() {
    if (!boardRunning_) {
        ScheduleEvaluate();
        return;
    }
    const SlotState state = board_->Verifying() ? SlotState::Verifying : SlotState::Loading;
    const bool changed =
        state != view_.State || board_->File() != view_.File || board_->Percent() != view_.Percent;
    view_.State = state;
    view_.File = board_->File();
    view_.Percent = board_->Percent();
    if (changed) {
        emit Changed();
    }
}

void StationSlot::StartProbing() {
    if (probing_ || !owner_->IsOpen()) {
        return;
    }
    probing_ = true;
    probeReply_.clear();
    probesUnanswered_ = 0;
    probeSent_ = false;
    // The link's prompt trigger would take the answer out of the input first.
    try {
        owner_->SetDataTriggers(false);
    } catch (const std::exception&) {
        // A trigger the port cannot drop now goes when the port closes.
    }
    owner_->Port().SetOnTriggerAvail([this](TVaxoCustomComPort&, std::uint16_t) { ProbeInput(); });
    // Probing that stops and starts again (a board's run, a change of mode) still sends at
    // most one probe every interval.
    if (Clock::now() - lastProbe_ >= std::chrono::milliseconds(ProbeIntervalMs)) {
        SendProbe();
    }
    probeTimer_.start();
}

void StationSlot::StopProbing() {
    if (!probing_) {
        return;
    }
    probing_ = false;
    probeTimer_.stop();
    owner_->Port().SetOnTriggerAvail({});
    try {
        if (owner_->IsOpen()) {
            owner_->Port().DiscardInput();
        }
        owner_->SetDataTriggers(true);
    } catch (const std::exception&) {
        // Made again when the port next opens.
    }
}

void StationSlot::SendProbe() {
    if (!owner_->IsOpen()) {
        StopProbing();
        ScheduleEvaluate();
        return;
    }
    if (boardPresent_ && probeSent_) {
        // A board that has had its run: it is there as long as it answers at all.
        probesUnanswered_ = probeReply_.empty() ? probesUnanswered_ + 1 : 0;
        if (probesUnanswered_ >= RemovedAfterProbes) {
            boardPresent_ = false;
            ScheduleEvaluate();
        }
    }
    probeReply_.clear();
    lastProbe_ = Clock::now();
    probeSent_ = true;
    try {
        owner_->Port().WriteText(station_.Probe);
    } catch (const std::exception& e) {
        StopProbing();
        SetState(SlotState::PortError, OneLine(e.what()));
    }
}

void StationSlot::ProbeInput() {
    try {
        char buffer[256];
        while (const std::uint16_t count = owner_->Port().InputCount()) {
            const std::uint16_t n = std::min<std::uint16_t>(count, sizeof buffer);
            owner_->Port().ReadBlock(buffer, n);
            probeReply_.append(buffer, n);
        }
    } catch (const std::exception&) {
        return;
    }
    if (probeReply_.size() > ProbeReplyLimit) {
        probeReply_.erase(0, probeReply_.size() - ProbeReplyLimit);
    }
    const bool answered = station_.Answer.empty()
                              ? !probeReply_.empty()
                              : probeReply_.find(station_.Answer) != std::string::npos;
    if (!boardPresent_ && answered && probing_) {
        // Not from inside the port's event: the start opens upload mode on the same port.
        QueueStart();
    }
}

} // namespace pellwick
