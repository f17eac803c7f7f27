// The composition soak's lanes: one board's line with one program's run object on it, driven
// through the sequences of the plan on either clock, with the checks after every event. A lane
// is a coroutine that waits for conditions between the operator's steps; the driver of the
// clock resumes it after each event, so that many lanes (the boards of a station) share one
// thread, as the programs' runs do.
#pragma once

#include "SoakPlan.h"
#include "link/LinkOperations.h"
#include "serial/MessageBoxes.h"
#include "upload/RunRecord.h"
#include "upload/run/UploadRun.h"

#include <array>
#include <coroutine>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pellwick::soak {

using TimePoint = RunClock::TimePoint;

enum Check {
    BlockCheck,
    VerdictCheck,
    ControlsCheck,
    TimeCheck,
    CountsCheck,
    ResultCheck,
    OtherCheck,
    CheckCount
};
inline constexpr const char* CheckNames[CheckCount] = {"block",  "verdict", "controls", "time",
                                                       "counts", "result",  "other"};

struct Tally {
    int runs = 0;
    int verified = 0; // files
    int failed = 0;   // files not verified, not sent ones included
    int excused = 0;  // files the device kept although the run could not confirm them
    std::array<int, CheckCount> violations{};
    double longest = 0;
    double boundShare = 0; // the largest share of its time bound a run took
};

// What the soak of one program counted.
struct Totals {
    std::map<Kind, Tally> kinds;
    std::map<std::string, int> excuses;
    std::array<int, CancelInCount> cancels{}; // confirmed cancels by where they landed
    int hungStarts = 0, swaps = 0, restarts = 0;
    int Violations() const;
    // Prints the table; true without violations.
    bool Report(const char* program, double seconds, double cpuSeconds) const;
};

// A line of what the device did: seconds, '<' received, '>' sent, '*' an event.
struct JournalLine {
    double t;
    char direction;
    std::string text;
};
// Why the device itself made a stored file's outcome unknowable to the run, or empty.
std::string Excuse(const std::vector<JournalLine>& lines, FileOutcome outcome,
                   const std::string& address, bool cancelledVerifying);

// A coroutine of the soak that another may await; the outermost one is begun by its lane.
class Task {
public:
    struct promise_type {
        std::coroutine_handle<> continuation;
        std::exception_ptr error;
        Task get_return_object() {
            return Task(std::coroutine_handle<promise_type>::from_promise(*this));
        }
        std::suspend_always initial_suspend() noexcept { return {}; }
        struct Final {
            bool await_ready() noexcept { return false; }
            std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> h) noexcept {
                const auto next = h.promise().continuation;
                return next ? next : std::noop_coroutine();
            }
            void await_resume() noexcept {}
        };
        Final final_suspend() noexcept { return {}; }
        void return_void() {}
        void unhandled_exception() { error = std::current_exception(); }
    };
    explicit Task(std::coroutine_handle<promise_type> h) : h_(h) {}
    Task(Task&& other) noexcept : h_(std::exchange(other.h_, {})) {}
    Task& operator=(Task&&) = delete;
    ~Task() {
        if (h_) {
            h_.destroy();
        }
    }
    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> caller) noexcept {
        h_.promise().continuation = caller;
        return h_;
    }
    void await_resume() const {
        if (h_.promise().error) {
            std::rethrow_exception(h_.promise().error);
        }
    }
    void Begin() { h_.resume(); }
    bool Done() const { return h_.done(); }

private:
    std::coroutine_handle<promise_type> h_;
};

// The clock the lanes go by: virtual, or the steady clock with the event loop's timers.
class World {
public:
    virtual ~World() = default;
    virtual RunClock& Time() = 0;
    virtual bool Virtual() const = 0;
    // The clock the run objects are given; null: they make the programs' own.
    RunClock* RunObjectsClock() { return Virtual() ? &Time() : nullptr; }
};

// One board's line as a lane drives it, on either clock: the device behind the port, the
// port's owner and the link on it, the terminal window's part of the line.
class Line {
public:
    virtual ~Line() = default;
    // The device of a new sequence, with its faults, behind the port; false: set-up failed.
    virtual bool NewBoard(const SequencePlan& sequence, int number) = 0;
    // The program's owner of the port, with the program's boxes: made once, or for every run
    // (a runner's process). The link's host is whoever makes its run.
    virtual LinkOperations& Attach(IMessageBoxes& boxes) = 0;
    virtual LinkOperations& Link() = 0;
    // The program's start-up on the board: settings read, the port opened.
    virtual bool StartUp() = 0;
    virtual void Shutdown() = 0;
    // Saved settings with a new line rate (0: as they are): the port opens again with them,
    // or, for a program that opens it at its start, the next start does.
    virtual bool Save(std::int32_t rate, bool reopen) = 0;
    // The port's open or closed state as the owner last made it (open and usable or not).
    virtual bool Open() = 0;
    virtual bool HungUp() = 0;
    virtual bool WaitingForDevice() = 0;
    // The device out, and in again (newBoard: another one, which knows nothing of this one).
    virtual void Unplug() = 0;
    virtual void Replug(bool newBoard) = 0;
    virtual bool Plugged() = 0;
    // An unplug or replug is still on its way.
    virtual bool Switching() { return false; }
    // After an Unplug: until the port's side has seen the hang-up, at most a few seconds,
    // without taking the port's notices meanwhile.
    virtual bool AwaitHangUp() { return HungUp(); }
    virtual void SetCts(bool) {}
    // The terminal window: shown, it takes the received bytes; active or not (a transfer).
    virtual void ShowTerminal(bool shown) = 0;
    virtual void SetTerminalActive(bool active) = 0;
    virtual bool TerminalExists() = 0;
    // The device's truth: what it holds at an address (of this board, or the one swapped out
    // during the run), and its journal since the run's start.
    virtual std::optional<e2e::Bytes> Stored(const std::string& address) = 0;
    virtual std::vector<JournalLine> Journal() = 0;
    virtual void ForgetJournal() = 0;
    // Bytes the device behind the port has read since it was plugged in; -1 when unknown.
    virtual std::int64_t DeviceReceived() = 0;
    // When output last moved, where the line can tell.
    virtual std::optional<TimePoint> LastOutputMove() { return {}; }
    // The port's rate, by which the link counts, and the rate at which the device really takes
    // the bytes (0: as fast as it can); they differ only where the line is a pseudo-terminal.
    virtual double BytesPerSecond() = 0;
    virtual double DeviceBytesPerSecond() { return BytesPerSecond(); }
    virtual std::string Describe() = 0;
    // A device that something outside ended, and a switch it did not follow (real clock).
    virtual bool DeviceDead() { return false; }
    virtual bool TakeSwitchFailure() { return false; }

    // Told of the port's openings and closings (lost: by the loss of its device).
    std::function<void(bool opening, bool lost)> Announced;
};

// The runs left to do and the sequences to take them from.
struct Pool {
    int runsLeft = 0;
    int nextSequence = 0;
    int onlySequence = -1; // one sequence only, to reproduce it
};

class Lane {
public:
    Lane(World& world, Line& line, Pool& pool, Totals& totals, std::uint64_t seed, int board,
         const char* program);
    virtual ~Lane();
    Lane(const Lane&) = delete;
    Lane& operator=(const Lane&) = delete;

    void Begin();
    // After every event: the checks, the run's actions, and the lane's next step when due.
    void Poll();
    bool Done() const { return main_ && main_->Done(); }
    // A set-up failed, or a port or run could not be brought back.
    bool Fatal() const { return fatal_; }
    void Violate(Check check, const std::string& what);

protected:
    // --- The program -------------------------------------------------------------------------
    virtual UploadRun& Run() const = 0;
    virtual IMessageBoxes& Boxes() = 0;
    // The program's run object exists (a runner's only while its process runs).
    virtual bool Live() const = 0;
    // Made once, after the line's first Attach; a runner makes one for every run instead.
    virtual void Setup() {}
    virtual bool RunsOwnProcess() const { return false; }
    // Before a run, once the board is there: a runner's process starts here.
    virtual bool Prepare(const RunPlan&) { return true; }
    virtual void Start(const RunPlan& plan) = 0;
    // A confirmed "Cancel Upload".
    virtual void Cancel() = 0;
    // After the run has ended: what the program makes of it.
    virtual void After(const RunPlan&) {}
    virtual bool ResultReady() const { return true; }
    virtual void PortAnnounced(bool opening, bool lost) = 0;
    virtual bool HasTerminal() const { return false; }
    virtual bool Station() const { return false; }

    TimePoint Now() const;
    bool StoredIntact(const PlannedFile& file);
    FileOutcome OutcomeOf(const PlannedFile& file) const;
    // Watches the transfers through the link's host (the run just made).
    void WatchLink();
    // Takes the end of each run of this run object.
    void FollowEnd(UploadRun& run);

    World& world_;
    Line& line_;
    Totals& totals_;

private:
    // The run's host as the link sees it: passes every call on to the run and watches the
    // blocks of each transfer handed to the port.
    class HostSpy : public ILinkHost {
    public:
        explicit HostSpy(Lane& lane) : lane_(lane) {}
        ILinkHost* inner = nullptr;
        void SetScriptError() override;
        void SetULError() override;
        void EnableScriptTimer() override;
        void SetUploadGauge(int percent) override;
        void SetComBtnState(bool on) override;
        void TriggersChanged() override;

    private:
        Lane& lane_;
    };
    // Waits until the condition holds, tested after every event.
    struct Until {
        Lane& lane;
        std::function<bool()> condition;
        bool await_ready() { return condition(); }
        void await_suspend(std::coroutine_handle<> h) {
            lane.resumeWhen_ = std::move(condition);
            lane.suspended_ = h;
        }
        void await_resume() {}
    };
    Until SleepFor(std::chrono::milliseconds span);
    Until Switched();

    Task Main();
    Task NewBoard(int number);
    Task EnsureUsable();
    Task BetweenRuns(std::uint64_t seed);
    Task ExecuteRun(RunPlan& plan);
    Task React(const RunPlan& plan);
    void Save(Rng& rng);
    void ShowTerminal(bool shown);
    // Where the run stands: the kind of its wait, a transfer, or neither.
    CancelIn Where() const;
    bool Due(const Action& action) const;
    void Perform(Action& action);
    void Watch();
    void CheckControls();
    void CheckVerdicts(const RunPlan& plan);
    void CheckCounts();
    void CheckTimes(const RunPlan& plan, double seconds);
    void UpdateTransfer();
    void TransferEnded();
    void ErrorStringBetweenTransfers();
    // A refusal or a cancel: from here at most one more block may go out.
    void Stopped();
    void PrintRun(const RunPlan& plan);

    Pool& pool_;
    int board_;
    const char* program_;
    std::uint64_t seed_;
    Planner planner_;
    std::unique_ptr<RunTimer> wake_;
    HostSpy spy_;
    std::optional<Task> main_;
    std::function<bool()> resumeWhen_;
    std::coroutine_handle<> suspended_;
    bool fatal_ = false;
    bool attached_ = false;
    bool terminalShown_ = false;
    std::optional<TimePoint> lastSave_;

    SequencePlan sequence_;
    Kind kind_ = Kind::Mixed;
    int sequenceNumber_ = 0, runNumber_ = 0;
    std::vector<std::string> notes_;

    // The run under way.
    RunPlan* plan_ = nullptr;
    bool inRun_ = false;
    bool runEnded_ = false;
    TimePoint runStart_{}, runEnd_{};
    // What follows an action of the operator: a replug, CTS high again.
    struct Later {
        TimePoint at;
        std::function<void()> what;
    };
    std::vector<Later> later_;
    std::optional<TimePoint> cancelAt_, hardCancelAt_;
    bool cancelledVerifying_ = false;
    bool swapped_ = false; // a board was swapped in during this run
    // The engine's wait under way (with the gauge, which tells the pauses apart), since when.
    std::pair<CancelIn, int> wait_{CancelIn::AnyTime, 0};
    std::optional<TimePoint> waitBegun_;

    // The transfers of the run: the bytes handed to the port, and the mark from which at most
    // one more block may follow (a refusal or a cancel).
    std::size_t transferKey_ = 0; // number of the run's file whose transfer is watched
    std::uintptr_t base_ = 0;
    std::int64_t bytesBefore_ = 0, runBytes_ = 0, transferOffset_ = 0, transferSize_ = 0;
    std::int64_t stopMark_ = 0;
    bool stopSeen_ = false, blockCounted_ = false;
    std::size_t stopKey_ = 0; // the file under way then, by its number in the record
    // Each file's first block and the moment its figures froze, by its number in the record.
    struct FileTimes {
        std::optional<TimePoint> first, frozen, lastMove, verified;
    };
    std::map<std::size_t, FileTimes> fileTimes_;

    std::optional<TimePoint> mismatchSince_;
    bool mismatchCounted_ = false;
};

// The three programs' run objects, as each program makes them: the main window's, a runner's
// (one process a run) and a station board's.
enum class SoakProgram { Window, Runner, Station };
const char* NameOf(SoakProgram program);
std::unique_ptr<Lane> MakeLane(SoakProgram program, World& world, Line& line, Pool& pool,
                               Totals& totals, std::uint64_t seed, int board);

} // namespace pellwick::soak
