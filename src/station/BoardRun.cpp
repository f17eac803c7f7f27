#include "station/BoardRun.h"

#include "outcome/RunReport.h"
#include "outcome/RunVerdict.h"
#include "serial/portmap/AdapterInfo.h"
#include "upload/DateText.h"
#include "upload/GeneralSettings.h"
#include "upload/run/UploadRun.h"

namespace pellwick {

namespace {

// Box texts join their lines with CR; a row shows them on one line.
std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        line += c == '\r' || c == '\n' ? ' ' : c;
    }
    return line;
}

} // namespace

BoardRun::BoardRun(const StationConfig& station, const SlotConfig& slot, ILinkOperations& link,
                   SlotBoxes& boxes, RunClock* clock, QObject* parent)
    : QObject(parent), clock_(clock), station_(station), slot_(slot), boxes_(boxes),
      run_(clock != nullptr ? std::make_unique<UploadRun>(link, boxes, *clock)
                            : std::make_unique<UploadRun>(link, boxes)) {
    GeneralSettings general;
    general.DefaultScript = station.Script;
    general.Delay = station.Delay;
    run_->ApplySettings(general);
    // The runs share the station folder; station.log is the record of every board.
    run_->Engine().SetLogWritten(false);
    run_->Engine().SetFileGate([this] { return AdapterChanged(); });
    connect(run_.get(), &UploadRun::Changed, this, &BoardRun::Follow);
    // The end of a run is told from inside its last step; the board is finished after it.
    connect(
        run_.get(), &UploadRun::RunEnded, this,
        [this] {
            if (running_ && !run_->Running()) {
                Finish();
            }
        },
        Qt::QueuedConnection);
}

BoardRun::~BoardRun() = default;

void BoardRun::Start(const AdapterInfo& adapter, const std::string& label) {
    if (running_ || run_->Running()) {
        return;
    }
    running_ = true;
    verifying_ = false;
    file_.clear();
    percent_ = 0;
    adapter_ = adapter;
    label_ = label;
    started_ = Now();
    startTime_ = IsoTimeNow();
    emit Started(Board());
    run_->Start(false);
    if (!run_->Running()) {
        // It never got going: the record says why, and it counts as a board that failed.
        Finish();
    }
}

void BoardRun::Cancel() {
    if (!run_->Running()) {
        return;
    }
    boxes_.SetConfirmCancel(true);
    run_->Cancel();
    boxes_.SetConfirmCancel(false);
}

void BoardRun::LineLost() {
    if (running_ && run_->Running()) {
        run_->Engine().SetULError();
    }
    run_->PortChanged();
}

void BoardRun::PortChanged() {
    run_->PortChanged();
}

void BoardRun::Close() {
    run_->Close();
}

void BoardRun::Finish() {
    running_ = false;
    const RunRecord& record = run_->Record();
    BoardResult result = Board();
    if (const auto answer = record.Answers.find(station_.IdLine);
        answer != record.Answers.end() && answer->second != "OK" && answer->second != "ERROR") {
        result.BoardId = answer->second;
    }
    if (!run_->Engine().Run().ScriptFileName.empty()) {
        result.Script = run_->Engine().Run().ScriptFileName;
    }
    result.ScriptSha256 = record.ScriptSha256;
    result.EndTime = IsoTimeNow();
    result.Seconds = std::chrono::duration<double>(Now() - started_).count();
    result.End = record.End;
    result.Passed = Passed(VerdictOf(record));
    result.Message = record.Message;
    result.Cause = record.Cause;
    if (!result.Passed && result.Cause.empty()) {
        result.Cause = OneLine(result.Message.substr(0, result.Message.find('\r')));
    }
    result.Files = ListScriptFiles(run_->Engine().Run().Lines, record, DateFormats::FromLocale());
    verifying_ = false;
    file_.clear();
    percent_ = 0;
    emit Finished(result);
}

BoardResult BoardRun::Board() const {
    BoardResult board;
    board.Slot = slot_.Number;
    board.Port = slot_.Port;
    board.ComNumber = slot_.ComNumber;
    board.Device = slot_.DevicePath;
    board.AdapterSerial = adapter_.serial;
    board.Place = adapter_.Place();
    board.ByPath = adapter_.byPathPath;
    board.Label = label_;
    board.Script = station_.Script;
    board.StartTime = startTime_;
    return board;
}

std::string BoardRun::AdapterChanged() const {
    // A board on the network has no adapter of its own to change; nor has a slot whose
    // adapter was not known when the board started.
    if (adapter_.Identity().empty()) {
        return {};
    }
    const std::string now = ReadAdapterInfo(slot_.DevicePath).Identity();
    if (now == adapter_.Identity()) {
        return {};
    }
    return "The adapter behind " + slot_.Port + " is not the one the board started on (then " +
           adapter_.Identity() + ", now " + (now.empty() ? "none" : now) + ").";
}

std::chrono::steady_clock::time_point BoardRun::Now() const {
    return clock_ != nullptr ? clock_->Now() : std::chrono::steady_clock::now();
}

void BoardRun::Follow() {
    if (!running_) {
        return;
    }
    const RunView& run = run_->View();
    const bool verifying = run.Phase == UploadPhase::Verifying;
    const std::string& file = run.PhaseFile;
    const bool changed = verifying != verifying_ || file != file_ || run.UploadPercent != percent_;
    verifying_ = verifying;
    file_ = file;
    percent_ = run.UploadPercent;
    if (changed) {
        emit Changed();
    }
}

} // namespace pellwick
