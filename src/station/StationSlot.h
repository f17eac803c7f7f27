// One slot of a station: one port owner and one upload run on it, and what starts a board there
// (the operator, the board's device appearing, or the board answering a probe). The row a window or
// the headless table shows is derived here from the run's view and record; the slot holds no logic
// of the run itself.
//
// GUI thread only. A board is started at most once per plug: once a board has started, the
// slot waits until that board has been removed (its device went away, or it stopped answering
// the probe) before it starts another by itself.
#pragma once

#include "serial/DevicePathWatch.h"
#include "serial/portmap/AdapterInfo.h"
#include "station/BoardResult.h"
#include "station/SlotBoxes.h"
#include "station/StationConfig.h"
#include "station/TurnQueue.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>
#include <string>

namespace pellwick {

class BoardRun;
class PortOwner;
class TVaxoCustomComPort;

enum class SlotState {
    Waiting,      // waiting for a board
    Loading,      // a board's run goes, a file on its way or commands
    Verifying,    // a file's verification
    Passed,       // the board passed; stays until the board is removed
    Failed,       // the board failed, Cause says why; stays until the board is removed
    BoardGone,    // the board went away while it was loaded
    PortError,    // the port cannot be opened, Cause says why
    OutOfService, // the operator took the slot out of the line
    NotThisSlot,  // the board's adapter is not at the place the slot is bound to
};
// "waiting for a board", "loading", "verifying", "passed", "failed", "board gone",
// "port error", "out of service", "not a slot of this station".
const char* SlotStateName(SlotState state);

struct SlotView {
    SlotState State = SlotState::Waiting;
    std::string File;  // the file being loaded
    int Percent = 0;   // its gauge
    std::string Cause; // why it failed, or what the port said
    std::string AdapterSerial;
    std::string Place;   // where its adapter is plugged in (USB topology path or by-path link)
    std::string Label;   // scanned for the board in the slot (or the next one to come)
    std::string BoardId; // the last board's own id
    int Passed = 0;      // boards of this slot since the station started
    int Failed = 0;
    bool Running = false;
    // When the current or last board started and ended; ended is unset while it runs.
    std::chrono::steady_clock::time_point Started{};
    std::chrono::steady_clock::time_point Ended{};
    // Seconds the current or last board has taken so far.
    double ElapsedSeconds() const;
};

class StationSlot : public QObject {
    Q_OBJECT
public:
    // The station's settings and its turns (for opening the port and starting a board) must
    // outlive the slot.
    // folders: the station's one inotify instance, shared by the slots' device watches.
    StationSlot(const StationConfig& station, const SlotConfig& config, TurnQueue& turns,
                FolderWatches& folders, QObject* parent = nullptr);
    // Closes the run and the port.
    ~StationSlot() override;
    // Something changed in the watched folders (their events already taken): a device this
    // slot waits for may be there now.
    void FoldersChanged();

    // Opens the port or waits for its device, as the slot's start asks. lastVerdict is how
    // the station's last board on this slot ended before it stopped: a board that passed or
    // failed and is still there (its device present, or answering the probe) is taken for that
    // board, and is not loaded again until it has gone, a label is scanned or the operator
    // starts it.
    void Begin(const std::string& lastVerdict = {}, const std::string& lastCause = {});
    // The operator's start (any mode): starts a board when the port can carry one and none
    // goes. False when nothing started.
    bool StartBoard();
    // A scanned label for the board in the slot, or for the next one: it goes into the
    // board's record.
    void SetLabel(const std::string& label);
    // A label was scanned since the last board started: the slot's next board is a new one.
    bool NewLabel() const { return newLabel_; }
    // Cancels the running board as a confirmed "Cancel Upload" does.
    void Cancel();
    // No more boards are started by themselves; a running one finishes.
    void StopNewBoards();
    void SetInService(bool on);
    bool InService() const { return inService_; }
    void SetStartMode(StartMode mode);
    StartMode Mode() const { return mode_; }
    // The program ends: the run closed, the port given back.
    void Shutdown();

    const SlotConfig& Config() const { return config_; }
    const SlotView& View() const { return view_; }
    bool Running() const;
    BoardRun& Board() { return *board_; }
    PortOwner& Owner() { return *owner_; }

signals:
    void Changed();
    // A board's run begins: where, with which label, when.
    void BoardStarted(const pellwick::BoardResult& board);
    // A board's run has ended; its result is final.
    void BoardDone(const pellwick::BoardResult& result);

private:
    bool OpenPort();
    // Opens the port in a turn of its own, or watches for the device when it is not there.
    void QueueOpen();
    void QueueStart();
    // After the device went away the slot waits for it itself (the port owner does not), so
    // that its reopening takes a turn like every other opening.
    void AfterLoss();
    void WatchForDevice();
    // The adapter behind the slot now, with its serial and place shown in the row.
    AdapterInfo ReadAdapter();

    void StopWatching();
    void Evaluate();
    void ScheduleEvaluate();
    void FinishBoard(const BoardResult& result);
    void SetState(SlotState state, const std::string& cause = {});
    void UpdateFromRun();
    // Probing a port that is always there.
    void StartProbing();
    void StopProbing();
    void SendProbe();
    void ProbeInput();
    static void PortAnnounced(void* context, TVaxoCustomComPort* port, bool opening);

    const StationConfig& station_;
    TurnQueue& turns_;
    FolderWatches& folders_;
    SlotConfig config_;
    StartMode mode_;
    SlotBoxes boxes_;
    std::unique_ptr<PortOwner> owner_;
    std::unique_ptr<BoardRun> board_;
    SlotView view_;
    bool inService_ = true;
    bool stopping_ = false;
    bool shutDown_ = false;
    // A board started here has not been seen to go yet.
    bool boardPresent_ = false;
    bool newLabel_ = false;
    bool boardRunning_ = false;
    bool evaluatePending_ = false;
    bool openQueued_ = false;
    bool startQueued_ = false;
    DevicePathWatch watch_;
    QTimer probeTimer_;
    QTimer reopenTimer_; // the next try to open a port on the network
    bool probing_ = false;
    std::string probeReply_;
    int probesUnanswered_ = 0;
    std::chrono::steady_clock::time_point lastProbe_{};
    bool probeSent_ = false; // since probing last started
};

} // namespace pellwick
