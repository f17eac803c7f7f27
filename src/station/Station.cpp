#include "station/Station.h"

#include "serial/TVaxoCustomComPort.h"
#include "upload/run/UploadRun.h"

#include <QCoreApplication>
#include <algorithm>
#include <utility>

namespace pellwick {

namespace {

constexpr std::chrono::minutes RateWindow{15};
constexpr std::chrono::minutes ShortestRateWindow{1};

} // namespace

Station::Station(StationConfig config, QObject* parent)
    : QObject(parent), config_(std::move(config)) {
    PortMap::SetGlobal(config_.Ports);
    // Failures a port reports on its own, outside any run's step, belong to no one row.
    TVaxoCustomComPort::SetExceptionDisplay([this](const std::exception& e) {
        emit Message(QString::fromLocal8Bit(e.what()).replace('\r', ' '));
    });
    for (const SlotConfig& slot : config_.Slots) {
        slots_.push_back(std::make_unique<StationSlot>(config_, slot, turns_, folders_));
        const int index = static_cast<int>(slots_.size()) - 1;
        StationSlot* s = slots_.back().get();
        connect(s, &StationSlot::Changed, this, [this, index] { emit SlotChanged(index); });
        connect(s, &StationSlot::BoardStarted, this,
                [this, index](const BoardResult& board) { Started(index, board); });
        connect(s, &StationSlot::BoardDone, this,
                [this, index](const BoardResult& result) { Finished(index, result); });
    }
    started_.assign(slots_.size(), 0);
}

Station::~Station() {
    Shutdown();
    TVaxoCustomComPort::SetExceptionDisplay(nullptr);
}

std::string Station::Start(const std::string& junitFolder) {
    if (std::string error = record_.Open(config_.Folder + "/station.log", junitFolder);
        !error.empty()) {
        return error;
    }
    if (!record_.Repaired().empty()) {
        emit Message(QString::fromLocal8Bit(record_.Repaired()));
    }
    if (std::string error =
            database_.Open(config_.Database, config_.Folder, config_.Name, config_.Host);
        !error.empty()) {
        return error;
    }
    if (const int interrupted = database_.Interrupted(); interrupted > 0) {
        emit Message(QString::fromLocal8Bit(
            std::to_string(interrupted) + (interrupted == 1 ? " board was" : " boards were") +
            " being loaded when the station last stopped; the record keeps " +
            (interrupted == 1 ? "it" : "them") + " as interrupted."));
    }
    if (!folders_.Open()) {
        return folders_.Error() + ".";
    }
    foldersNotifier_ = std::make_unique<QSocketNotifier>(folders_.Fd(), QSocketNotifier::Read);
    connect(foldersNotifier_.get(), &QSocketNotifier::activated, this, [this] {
        folders_.Take();
        for (auto& slot : slots_) {
            slot->FoldersChanged();
        }
    });
    for (auto& slot : slots_) {
        std::string verdict, cause;
        if (std::string error = database_.LastOfSlot(slot->Config().Number, verdict, cause);
            !error.empty()) {
            return error;
        }
        slot->Begin(verdict, cause);
    }
    return {};
}

void Station::StopNewBoards() {
    stopping_ = true;
    for (auto& slot : slots_) {
        slot->StopNewBoards();
    }
}

void Station::CancelAll() {
    for (auto& slot : slots_) {
        slot->Cancel();
    }
}

bool Station::Idle() const {
    for (const auto& slot : slots_) {
        if (slot->Running()) {
            return false;
        }
    }
    return true;
}

void Station::Shutdown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    turns_.Clear();
    for (auto& slot : slots_) {
        slot->Shutdown();
    }
}

StationTotals Station::Totals() const {
    StationTotals totals;
    totals.Passed = passed_;
    totals.Failed = failed_;
    // A rolling window: a rate since the start would keep the pace of the first boards for
    // hours, and one of the last few boards would jump with every board.
    const auto now = std::chrono::steady_clock::now();
    while (!recentEnds_.empty() && now - recentEnds_.front() > RateWindow) {
        recentEnds_.pop_front();
    }
    if (!recentEnds_.empty()) {
        // Never less than a minute: the first boards of a shift, done within seconds of each
        // other, would read as thousands an hour.
        const auto window = std::clamp<std::chrono::steady_clock::duration>(
            now - firstStart_, ShortestRateWindow, RateWindow);
        const double hours = std::chrono::duration<double>(window).count() / 3600.0;
        totals.BoardsPerHour = hours > 0 ? static_cast<double>(recentEnds_.size()) / hours : 0;
    }
    return totals;
}

namespace {

// Who and what loaded the board.
void Stamp(BoardResult& board, const StationConfig& config) {
    board.Station = config.Name;
    board.Host = config.Host;
    board.Operator = config.Operator;
    board.ToolVersion = QCoreApplication::applicationVersion().toStdString();
}

} // namespace

void Station::Started(int index, const BoardResult& started) {
    BoardResult board = started;
    Stamp(board, config_);
    std::int64_t id = 0;
    if (const std::string error = database_.Begin(board, id); !error.empty()) {
        RecordFailure(error);
    }
    started_[static_cast<std::size_t>(index)] = id;
}

void Station::RecordFailure(const std::string& error) {
    // A station that cannot keep its record must not go on loading boards unrecorded.
    recordFailed_ = true;
    emit Message(QString::fromLocal8Bit(error + " No more boards are started."));
    StopNewBoards();
}

void Station::Finished(int index, const BoardResult& done) {
    BoardResult result = done;
    Stamp(result, config_);
    const std::int64_t id = std::exchange(started_[static_cast<std::size_t>(index)], 0);
    if (const std::string error = database_.Finish(id, result, result.Attempt); !error.empty()) {
        RecordFailure(error);
    }
    const auto started = slots_[static_cast<std::size_t>(index)]->View().Started;
    if (firstStart_ == std::chrono::steady_clock::time_point{} || started < firstStart_) {
        firstStart_ = started;
    }
    (result.Passed ? passed_ : failed_) += 1;
    recentEnds_.push_back(std::chrono::steady_clock::now());
    if (const std::string error = record_.Append(result); !error.empty()) {
        RecordFailure(error);
    }
    emit BoardDone(index, result);
    emit TotalsChanged();
}

} // namespace pellwick
