// A production station: one slot per port of station.ini, each one port owner and one upload
// run, all on this GUI thread; the record of every board; totals. The window and the headless
// table render it; neither holds logic of a slot.
#pragma once

#include "serial/FolderWatches.h"
#include "station/BoardDatabase.h"
#include "station/StationConfig.h"
#include "station/StationRecord.h"
#include "station/StationSlot.h"
#include "station/TurnQueue.h"

#include <QObject>
#include <QSocketNotifier>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace pellwick {

struct StationTotals {
    int Passed = 0;
    int Failed = 0;
    // Boards done per hour over the last 15 minutes (or since the first board started, when
    // that is less, but at least a minute); 0 before one is done.
    double BoardsPerHour = 0;
};

class Station : public QObject {
    Q_OBJECT
public:
    // Makes the port map of the configuration the process's and a slot for each port.
    explicit Station(StationConfig config, QObject* parent = nullptr);
    ~Station() override;

    // Opens the record and the database (empty on success, otherwise why not), then begins
    // the slots one after the other on the event loop.
    std::string Start(const std::string& junitFolder = {});
    // No slot starts another board; running ones finish.
    void StopNewBoards();
    bool Stopping() const { return stopping_; }
    void CancelAll();
    // No board is being loaded.
    bool Idle() const;
    // Every slot given back: runs closed, ports closed.
    void Shutdown();

    const StationConfig& Config() const { return config_; }
    int SlotCount() const { return static_cast<int>(slots_.size()); }
    StationSlot& Slot(int index) { return *slots_[static_cast<std::size_t>(index)]; }
    StationTotals Totals() const;
    // Writes that failed, each told by Message too; a station that cannot record stops.
    bool RecordFailed() const { return recordFailed_; }

signals:
    void SlotChanged(int index);
    void BoardDone(int index, const pellwick::BoardResult& result);
    void TotalsChanged();
    // Something for the operator that belongs to no row (a port's own failure, the record).
    void Message(const QString& text);

private:
    void Started(int index, const BoardResult& board);
    void Finished(int index, const BoardResult& result);
    // A record that cannot be written: no more boards, and the operator is told why.
    void RecordFailure(const std::string& error);

    StationConfig config_;
    StationRecord record_;
    BoardDatabase database_;
    // Each slot's board being loaded, by its id in the database (0: none there).
    std::vector<std::int64_t> started_;
    TurnQueue turns_;
    // One inotify instance for all the slots' device watches, whatever their number.
    FolderWatches folders_;
    std::unique_ptr<QSocketNotifier> foldersNotifier_;
    std::vector<std::unique_ptr<StationSlot>> slots_;
    int passed_ = 0;
    int failed_ = 0;
    std::chrono::steady_clock::time_point firstStart_{};
    // When each board of the rolling window ended, oldest first.
    mutable std::deque<std::chrono::steady_clock::time_point> recentEnds_;
    bool stopping_ = false;
    bool recordFailed_ = false;
    bool shutDown_ = false;
};

} // namespace pellwick
