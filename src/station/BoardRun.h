// One board's run on a slot's link: the upload run with the slot's message boxes, what a row
// shows of it while it goes (loading or verifying, the file, its gauge), and the board's result
// when it ends. It is the run pellwick-run makes, with the station's boxes: a start the run
// refuses (the line hung up, the script cannot be read) ends that board "failed" with its own
// cause, never with an earlier board's record. Many of them share one thread; none waits on it.
//
// GUI thread only (the clock's thread).
#pragma once

#include "serial/portmap/AdapterInfo.h"
#include "station/BoardResult.h"
#include "station/SlotBoxes.h"
#include "station/StationConfig.h"
#include "upload/RunClock.h"

#include <QObject>
#include <chrono>
#include <memory>
#include <string>

namespace pellwick {

class ILinkOperations;
class UploadRun;

class BoardRun : public QObject {
    Q_OBJECT
public:
    // The station's settings, the link and the boxes must outlive the board run; without a
    // clock it goes by the steady clock and the event loop's timers.
    BoardRun(const StationConfig& station, const SlotConfig& slot, ILinkOperations& link,
             SlotBoxes& boxes, RunClock* clock = nullptr, QObject* parent = nullptr);
    ~BoardRun() override;

    // Starts a board's run on the adapter that is behind the slot now. Before each file the
    // adapter is read again: another one there (or none) stops the board with that cause. A
    // start the run refuses ends the board at once: Finished comes before this returns.
    void Start(const AdapterInfo& adapter, const std::string& label = {});
    // A confirmed "Cancel Upload".
    void Cancel();
    // The board's line went away under its run: the run ends now as hung up, so that whatever
    // is plugged in next gets none of it.
    void LineLost();
    // The port opened or closed.
    void PortChanged();
    // The program ends: the run's timers stop.
    void Close();

    bool Running() const { return running_; }
    // While it runs: verifying a file, or loading (a file on its way, or commands).
    bool Verifying() const { return verifying_; }
    // The file being loaded or verified; empty between files.
    const std::string& File() const { return file_; }
    int Percent() const { return percent_; }
    UploadRun& Run() { return *run_; }

signals:
    // What a row shows of the run changed.
    void Changed();
    // A board's run begins: what is known of the board then (where, which label, when).
    void Started(const pellwick::BoardResult& board);
    void Finished(const pellwick::BoardResult& result);

private:
    void Finish();
    void Follow();
    // The board's place, label and start, as far as they are known.
    BoardResult Board() const;
    // Empty while the adapter the board started on is still behind the slot, else why not.
    std::string AdapterChanged() const;
    std::chrono::steady_clock::time_point Now() const;

    RunClock* clock_;
    const StationConfig& station_;
    const SlotConfig& slot_;
    SlotBoxes& boxes_;
    std::unique_ptr<UploadRun> run_;
    bool running_ = false;
    bool verifying_ = false;
    std::string file_;
    int percent_ = 0;
    AdapterInfo adapter_;
    std::string label_;
    std::string startTime_;
    std::chrono::steady_clock::time_point started_{};
};

} // namespace pellwick
