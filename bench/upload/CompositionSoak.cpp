// Composition soak of the upload run: the real UploadRun on the real PortOwner, in this process on
// the Qt event loop, against pellwick-devsim behind a link that it removes and makes again (unplug
// and replug), with random sequences of what happens around a run: the terminal shown and hidden,
// device error strings at random moments and repeated, cancels, unplug and replug, saved
// settings, verification answers late, missing or wrong, and random script shapes. Each sequence
// is one simulator with its faults and a few runs. After every step it checks:
//   block     after a refusal or a cancel at most one further block is handed to the port;
//   verdict   each file's verdict in the run's record matches what the device stored;
//   controls  Start is offered exactly when no run goes and the port is usable (open, not hung
//             up), Cancel exactly while a run goes;
//   time      every run ends within a bound computed from its script;
//   other     an exception that reached the event loop, a port that did not come back.
// A stored file that the run did not confirm is excused, not counted, when the device itself made
// the truth unknowable: it sent its error string beside a good file, or it was pulled out after
// taking the file but before its answer could leave.
// Usage: upload_composition_soak [runs, default 2000] [seed, default from the clock] [sequence]
// (with a sequence number only that sequence of the seed runs, to reproduce it).
// Exit status: 0 without violations, 1 with any, 2 for a bad command line or a failed set-up.
#include "SoakPlan.h"
#include "e2e/UploadFiles.h"
#include "link/PortOwner.h"
#include "serial/TVaxoCustomComPort.h"
#include "serial/portmap/PortMap.h"
#include "support/DevsimHarness.h"
#include "support/TempFolder.h"
#include "terminal/TVaxoTerminal.h"
#include "upload/run/UploadRun.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace pellwick;
using namespace pellwick::soak;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

double SecondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}
bool LinkExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// Keeps the event loop going for about ms milliseconds (timer ticks and the port's notices run).
void Pump(int ms = 2) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

enum Check { BlockCheck, VerdictCheck, ControlsCheck, TimeCheck, OtherCheck, CheckCount };
constexpr const char* CheckNames[CheckCount] = {"block", "verdict", "controls", "time", "other"};

struct Tally {
    int runs = 0;
    int verified = 0; // files
    int failed = 0;   // files not verified, not sent ones included
    int excused = 0;  // files the device kept although the run could not confirm them
    std::array<int, CheckCount> violations{};
    double longest = 0;
    double boundShare = 0; // the largest share of its time bound a run took
};

// Answers every box: Yes to the cancel question, Abort or Ignore at random, OK otherwise.
class SoakBoxes : public IMessageBoxes {
public:
    MsgButton Show(MsgKind, const std::string& text, unsigned buttons) override {
        recent_.push_back(ReadableBytes(text, 200));
        if (recent_.size() > 12) {
            recent_.pop_front();
        }
        if ((buttons & MbYes) != 0) {
            return MbYes;
        }
        if ((buttons & MbAbort) != 0) {
            return Chance(rng_, 0.5) ? MbIgnore : MbAbort;
        }
        return (buttons & MbOk) != 0 ? MbOk : static_cast<MsgButton>(buttons & (~buttons + 1));
    }
    void Reseed(std::uint64_t seed) { rng_.seed(seed); }
    void ClearRecent() { recent_.clear(); }
    const std::deque<std::string>& Recent() const { return recent_; }

private:
    Rng rng_;
    std::deque<std::string> recent_;
};

// Unplugs and plugs in the simulator (SIGUSR1, SIGUSR2) at given moments from a thread of its
// own, so that a switch can land while the GUI thread is blocked in a wait for an answer. Each
// switch waits until the simulator's link has followed it, so that switches keep their order.
class DeviceSwitch {
public:
    DeviceSwitch() : thread_([this] { Loop(); }) {}
    ~DeviceSwitch() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    DeviceSwitch(const DeviceSwitch&) = delete;
    DeviceSwitch& operator=(const DeviceSwitch&) = delete;

    void Attach(pid_t pid, const std::string& link) {
        std::lock_guard lock(mutex_);
        queue_.clear();
        pid_ = pid;
        link_ = link;
        plugged_ = true;
    }
    void At(Clock::time_point when, bool plugIn) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back({when, plugIn});
        }
        wake_.notify_all();
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        queue_.clear();
    }
    bool Busy() {
        std::lock_guard lock(mutex_);
        return !queue_.empty() || switching_;
    }
    // As of the last switch done.
    bool Plugged() const { return plugged_; }
    // A switch the simulator did not follow within 5 s; cleared by reading it.
    bool TakeFailure() { return failed_.exchange(false); }

private:
    struct Item {
        Clock::time_point when;
        bool plugIn;
    };

    void Loop() {
        std::unique_lock lock(mutex_);
        while (!quit_) {
            if (queue_.empty()) {
                wake_.wait(lock);
                continue;
            }
            const auto first =
                std::min_element(queue_.begin(), queue_.end(),
                                 [](const Item& a, const Item& b) { return a.when < b.when; });
            if (Clock::now() < first->when) {
                wake_.wait_until(lock, first->when);
                continue;
            }
            const Item item = *first;
            queue_.erase(first);
            const pid_t pid = pid_;
            const std::string link = link_;
            switching_ = true;
            lock.unlock();
            if (pid > 0 && item.plugIn != plugged_) {
                kill(pid, item.plugIn ? SIGUSR2 : SIGUSR1);
                const auto deadline = Clock::now() + 5s;
                while (LinkExists(link) != item.plugIn && Clock::now() < deadline) {
                    std::this_thread::sleep_for(1ms);
                }
                if (LinkExists(link) == item.plugIn) {
                    plugged_ = item.plugIn;
                } else {
                    failed_ = true;
                }
            }
            lock.lock();
            switching_ = false;
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Item> queue_;
    pid_t pid_ = -1;
    std::string link_;
    bool switching_ = false;
    bool quit_ = false;
    std::atomic<bool> plugged_{true};
    std::atomic<bool> failed_{false};
    std::thread thread_;
};

// Passes on uncaught exceptions of event handlers to the soak instead of ending the program.
class SoakApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            if (onException) {
                onException(e.what());
            }
        } catch (...) {
            if (onException) {
                onException("an exception of unknown type");
            }
        }
        return false;
    }
    std::function<void(const std::string&)> onException;
};

std::string Join(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts) {
        out += (out.empty() ? "" : " ") + part;
    }
    return out;
}

class Soak {
public:
    explicit Soak(std::uint64_t seed) : seed_(seed), planner_(seed), spy_(*this) {}
    ~Soak() { TearDown(); }
    Soak(const Soak&) = delete;
    Soak& operator=(const Soak&) = delete;

    bool SetUp();
    // Runs the sequence of this number with at most maxRuns runs; false when a set-up failed.
    bool RunSequence(int number, int maxRuns);
    int RunsDone() const { return runsDone_; }
    // Prints the table; true when no violation was counted.
    bool Report(double seconds) const;
    void ExceptionInEventLoop(const std::string& what) {
        Violate(OtherCheck, "an exception reached the event loop: " + what);
    }

private:
    // The run's host as the link sees it: passes every call on to the run and watches the
    // blocks of each transfer handed to the port.
    class HostSpy : public ILinkHost {
    public:
        explicit HostSpy(Soak& soak) : soak_(soak) {}
        ILinkHost* inner = nullptr;
        void SetScriptError() override {
            soak_.ErrorStringBetweenTransfers();
            inner->SetScriptError();
        }
        void SetULError() override {
            soak_.TransferEnded();
            inner->SetULError();
        }
        void EnableScriptTimer() override {
            soak_.TransferEnded();
            inner->EnableScriptTimer();
        }
        void SetUploadGauge(int percent) override {
            soak_.UpdateTransfer();
            inner->SetUploadGauge(percent);
        }
        void SetComBtnState(bool on) override { inner->SetComBtnState(on); }

    private:
        Soak& soak_;
    };

    bool StartDevice(const SequencePlan& sequence, int number);
    bool ExecuteRun(RunPlan& plan);
    void BetweenRuns(std::uint64_t seed, Kind kind);
    bool EnsureUsable();
    // The simulator's process still runs (something outside may end it).
    bool DeviceAlive() { return device_ && device_->WaitExit(0ms) == -2; }
    void Perform(Action& action);
    bool Due(const Action& action) const;
    void ShowTerminal();
    void HideTerminal();
    void Save(Rng& rng);
    void Unplug(bool wait);
    void Replug(bool wait);
    void WaitSwitch();
    void CheckVerdicts(const RunPlan& plan);
    std::string Excuse(FileOutcome outcome, const std::string& address) const;
    void CheckControls();
    void TransferEnded();
    void ErrorStringBetweenTransfers();
    void UpdateTransfer();
    void Violate(Check check, const std::string& what);
    void PrintRun(const RunPlan& plan) const;
    void TearDown();
    static void PortNotice(void* context, TVaxoCustomComPort*, bool);

    std::uint64_t seed_;
    Planner planner_;
    int runsDone_ = 0;
    TempFolder work_;
    std::string startDir_, link_, ini_;
    SoakBoxes boxes_;
    std::unique_ptr<PortOwner> owner_;
    std::unique_ptr<UploadRun> run_;
    HostSpy spy_;
    std::unique_ptr<TVaxoTerminal> terminal_;
    bool terminalShown_ = false;
    std::unique_ptr<DevsimHarness> device_;
    DeviceSwitch switch_;
    std::string transcript_, store_;

    // The sequence and the run under way.
    SequencePlan sequence_;
    Kind kind_ = Kind::Mixed;
    int sequenceNumber_ = 0, runNumber_ = 0;
    std::string deviceArgs_;
    std::int64_t blockSize_ = 50;
    Clock::time_point runStart_, runEnd_;
    bool runEnded_ = false;
    std::vector<std::string> notes_;

    // The transfers of the run: the bytes handed to the port, and the mark from which at most
    // one more block may follow (a refusal or a cancel).
    std::size_t transferKey_ = 0; // number of the run's file whose transfer is watched
    std::uintptr_t base_ = 0;
    std::int64_t bytesBefore_ = 0, runBytes_ = 0, transferOffset_ = 0, transferSize_ = 0;
    std::int64_t stopMark_ = std::numeric_limits<std::int64_t>::max();
    bool stopSeen_ = false, blockCounted_ = false;
    bool cancelledVerifying_ = false; // the run was cancelled while it verified a file

    std::optional<Clock::time_point> mismatchSince_;
    bool mismatchCounted_ = false;

    std::map<Kind, Tally> table_;
    std::map<std::string, int> excuses_;
    int restarts_ = 0; // simulators ended from outside and started again
};

void Soak::PortNotice(void* context, TVaxoCustomComPort*, bool) {
    // As the main window does: the run's view is derived anew on every opening and closing.
    static_cast<Soak*>(context)->run_->PortChanged();
}

bool Soak::SetUp() {
    if (work_.Path().empty()) {
        std::fprintf(stderr, "cannot make a work folder\n");
        return false;
    }
    startDir_ = std::filesystem::current_path().string();
    // The upload log goes to the current folder, the script's files are named relative to it.
    std::filesystem::current_path(work_.Path());
    link_ = work_.File("ttySOAK");
    ini_ = work_.File("loader.ini");
    TVaxoCustomComPort::SetExceptionDisplay(
        [this](const std::exception& e) { boxes_.Show(MsgKind::Error, e.what(), MbOk); });
    owner_ = std::make_unique<PortOwner>(boxes_);
    run_ = std::make_unique<UploadRun>(owner_->Operations(), boxes_);
    spy_.inner = owner_->Link().Host();
    owner_->SetHost(&spy_);
    owner_->Port().AddNotifyProc(&Soak::PortNotice, this);
    UploadRun::Hooks hooks;
    hooks.TerminalExists = [this] { return terminal_ != nullptr; };
    hooks.SetTerminalActive = [this](bool on) { terminal_->SetActive(on); };
    run_->SetHooks(std::move(hooks));
    QObject::connect(run_.get(), &UploadRun::RunEnded, [this] {
        runEnd_ = Clock::now();
        runEnded_ = true;
    });
    return true;
}

void Soak::TearDown() {
    if (!run_) {
        return;
    }
    switch_.Clear();
    run_->Close();
    terminal_.reset();
    owner_->Port().RemoveNotifyProc(&Soak::PortNotice, this);
    run_.reset();
    owner_->Shutdown();
    owner_.reset();
    TVaxoCustomComPort::SetExceptionDisplay(nullptr);
    if (device_) {
        device_->Stop();
    }
    std::filesystem::current_path(startDir_);
}

bool Soak::StartDevice(const SequencePlan& sequence, int number) {
    switch_.Clear();
    WaitSwitch();
    if (device_) {
        // Its link goes and the line hangs up: the port is lost until the next device is there.
        device_->Stop();
        const auto until = Clock::now() + 2s;
        while (owner_->IsOpen() && Clock::now() < until) {
            Pump();
        }
    }
    device_ = std::make_unique<DevsimHarness>();
    store_ = device_->File("store");
    transcript_ = device_->File("transcript.txt");
    std::filesystem::create_directory(store_);
    std::vector<std::string> args = {
        "--link",       link_,       "--store", store_,
        "--transcript", transcript_, "--seed",  std::to_string(number + 1)};
    if (sequence.baud != 0) {
        args.insert(args.end(), {"--baud", std::to_string(sequence.baud)});
    }
    args.insert(args.end(), sequence.faults.begin(), sequence.faults.end());
    deviceArgs_ = Join(args);
    if (!device_->StartProcess(args)) {
        std::fprintf(stderr, "cannot start pellwick-devsim %s: %s\n", deviceArgs_.c_str(),
                     device_->Error().c_str());
        return false;
    }
    switch_.Attach(device_->Pid(), link_);
    std::ofstream ini(ini_, std::ios::trunc);
    ini << "[RS232Settings]\nComm Port=COM1\nUse DTR=0\nUse RTS=0\nRequire DSR=0\nRequire CTS=0\n"
        << "[Ports]\nScan=0\nCOM1=" << link_ << "\n"
        << "[Upload Settings]\nBlock Size=" << sequence.blockSize
        << "\nBuffer Size=" << sequence.bufferSize << "\nDelay=" << sequence.delayMs << "\n";
    ini.close();
    if (!ini) {
        std::fprintf(stderr, "cannot write %s\n", ini_.c_str());
        return false;
    }
    PortMap::SetGlobal(std::make_shared<PortMap>(PortMap::Build(ini_)));
    // As at the program's start on the station's new board: settings read, the port opened.
    owner_->StartUp(ini_);
    run_->Engine().Run().PreUploadDelay = sequence.delayMs;
    blockSize_ = sequence.blockSize;
    if (!EnsureUsable()) {
        std::printf("\n== seed %llu, sequence %d: %s\n", static_cast<unsigned long long>(seed_),
                    number, notes_.empty() ? "" : notes_.back().c_str());
        return false;
    }
    return true;
}

bool Soak::RunSequence(int number, int maxRuns) {
    sequence_ = planner_.Sequence(number);
    sequence_.runs = std::min(sequence_.runs, maxRuns);
    kind_ = sequence_.kind;
    sequenceNumber_ = number;
    if (!StartDevice(sequence_, number)) {
        return false;
    }
    for (int r = 0; r < sequence_.runs; ++r) {
        RunPlan plan = planner_.Run();
        if (r > 0) {
            BetweenRuns(plan.beforeSeed, sequence_.kind);
        }
        runNumber_ = r + 1;
        if (!ExecuteRun(plan)) {
            return false;
        }
    }
    return true;
}

void Soak::WaitSwitch() {
    while (switch_.Busy()) {
        Pump();
    }
    // A simulator that something outside ended follows no signal; it is started again.
    if (switch_.TakeFailure() && DeviceAlive()) {
        Violate(OtherCheck, "the simulator did not follow an unplug or replug signal");
    }
}

void Soak::Unplug(bool wait) {
    switch_.At(Clock::now(), false);
    if (wait) {
        WaitSwitch();
    }
}

void Soak::Replug(bool wait) {
    switch_.At(Clock::now(), true);
    if (wait) {
        WaitSwitch();
    }
}

void Soak::ShowTerminal() {
    // Offered only while the terminal may have the line; shown, the received bytes are its.
    if (terminalShown_ || !run_->View().Controls.Terminal) {
        return;
    }
    if (!terminal_) {
        terminal_ = std::make_unique<TVaxoTerminal>();
        terminal_->SetComPort(&owner_->Port());
    }
    owner_->SetDataTriggers(false);
    terminal_->SetActive(true);
    terminalShown_ = true;
}

void Soak::HideTerminal() {
    if (!terminalShown_) {
        return;
    }
    owner_->SetDataTriggers(true);
    terminal_->SetActive(false);
    terminalShown_ = false;
}

void Soak::Save(Rng& rng) {
    constexpr std::int32_t rates[] = {9600, 19200, 38400, 57600, 115200};
    const std::int32_t rate = rates[Pick(rng, 0, static_cast<int>(std::size(rates)) - 1)];
    if (!run_->View().Controls.Settings) {
        return;
    }
    Rs232Settings settings = owner_->Settings();
    settings.BaudRate = rate;
    owner_->Reopen(settings);
}

void Soak::BetweenRuns(std::uint64_t seed, Kind kind) {
    Rng rng(seed);
    const bool mixed = kind == Kind::Mixed;
    if ((kind == Kind::Terminal && Chance(rng, 0.6)) || (mixed && Chance(rng, 0.3))) {
        terminalShown_ ? HideTerminal() : ShowTerminal();
    }
    if (kind == Kind::Settings || (mixed && Chance(rng, 0.3))) {
        if (Chance(rng, 0.35)) {
            // Saved while the device is away: the open fails and the port stays closed until
            // the next Save.
            Unplug(true);
            const auto until = Clock::now() + 2s;
            while (owner_->IsOpen() && Clock::now() < until) {
                Pump();
            }
            Save(rng);
            Replug(true);
        }
        for (int n = Pick(rng, 1, 2); n > 0; --n) {
            Save(rng);
        }
    }
    if ((kind == Kind::Unplug && Chance(rng, 0.3)) || (mixed && Chance(rng, 0.2))) {
        Unplug(true);
        const auto until = Clock::now() + std::chrono::milliseconds(Pick(rng, 10, 400));
        while (Clock::now() < until) {
            Pump();
            CheckControls();
        }
        if (Chance(rng, 0.7)) {
            Replug(true);
        }
    }
    const auto until = Clock::now() + std::chrono::milliseconds(Pick(rng, 0, 150));
    while (Clock::now() < until) {
        Pump();
        CheckControls();
    }
}

bool Soak::EnsureUsable() {
    // What the operator does until "Start File Upload" is offered: plug the device in, and
    // Save the settings when the port stays closed.
    const auto deadline = Clock::now() + 30s;
    std::optional<Clock::time_point> lastSave;
    while (!run_->View().Controls.Start) {
        if (!DeviceAlive()) {
            return false;
        }
        const bool idle = !switch_.Busy();
        if (idle && !switch_.Plugged()) {
            Replug(false);
        } else if (idle && !owner_->IsOpen() && !owner_->WaitingForDevice() &&
                   owner_->Port().PortState() == TVaxoCustomComPort::State::Closed &&
                   (!lastSave || Clock::now() - *lastSave > 1s)) {
            lastSave = Clock::now();
            owner_->Reopen(owner_->Settings());
        }
        Pump();
        CheckControls();
        if (Clock::now() > deadline) {
            Violate(OtherCheck, std::string("the port was not usable again within 30 s: view ") +
                                    RunStateName(run_->View().State) + ", open " +
                                    (owner_->IsOpen() ? "yes" : "no") +
                                    ", waiting for the device " +
                                    (owner_->WaitingForDevice() ? "yes" : "no") + ", device " +
                                    (switch_.Plugged() ? "plugged in" : "out"));
            return false;
        }
    }
    return true;
}

bool Soak::Due(const Action& action) const {
    if (action.atMs >= 0) {
        return SecondsSince(runStart_) * 1000 >= action.atMs;
    }
    return static_cast<int>(transferKey_) == action.file + 1 &&
           static_cast<double>(transferOffset_) >=
               action.fraction * static_cast<double>(transferSize_);
}

void Soak::Perform(Action& action) {
    action.doneAt = SecondsSince(runStart_);
    switch (action.type) {
    case Action::Cancel:
        if (run_->View().Controls.Cancel) {
            // A transfer handed to the link may not have had its first block yet.
            if (owner_->Link().TransferRunning()) {
                UpdateTransfer();
            }
            // A cancel while a file's verifying CR may have gone out: the device may keep the
            // file, and the run rightly does not call it verified.
            if (run_->View().UploadLabel == "Verifying Upload") {
                cancelledVerifying_ = true;
            }
            run_->Cancel();
            // The box was answered Yes: from here at most one more block may go out.
            if (run_->Running()) {
                stopSeen_ = true;
                stopMark_ = std::min(stopMark_, runBytes_);
            }
        }
        break;
    case Action::HideTerminal:
        HideTerminal();
        break;
    case Action::Unplug:
        switch_.At(Clock::now(), false);
        if (action.replugAfterMs >= 0) {
            switch_.At(Clock::now() + std::chrono::milliseconds(action.replugAfterMs), true);
        }
        break;
    }
}

bool Soak::ExecuteRun(RunPlan& plan) {
    for (const PlannedFile& file : plan.files) {
        if (!e2e::WriteFile(work_.File(file.name), file.data)) {
            std::fprintf(stderr, "cannot write %s\n", file.name.c_str());
            return false;
        }
    }
    const std::string script = "soak.sld";
    if (!e2e::WriteText(work_.File(script), plan.script)) {
        std::fprintf(stderr, "cannot write the script\n");
        return false;
    }
    boxes_.ClearRecent();
    boxes_.Reseed(plan.boxSeed);
    Tally& tally = table_[kind_];
    while (!EnsureUsable()) {
        if (DeviceAlive()) {
            PrintRun(plan);
            return false;
        }
        // Not the program's doing: another process ended the simulator (seen on shared
        // machines). A new one with the same faults takes its place.
        ++restarts_;
        std::printf("sequence %d, run %d: the simulator was ended from outside; started again\n",
                    sequenceNumber_, runNumber_);
        if (!StartDevice(sequence_, sequenceNumber_)) {
            return false;
        }
    }
    transferKey_ = 0;
    bytesBefore_ = runBytes_ = transferOffset_ = transferSize_ = 0;
    stopMark_ = std::numeric_limits<std::int64_t>::max();
    stopSeen_ = blockCounted_ = false;
    cancelledVerifying_ = false;
    runEnded_ = false;
    run_->Engine().Run().ScriptFileName = script;
    runStart_ = Clock::now();
    for (Action& action : plan.actions) {
        // Timed unplugs come from the switch's thread: they may land inside a blocking wait.
        if (action.type == Action::Unplug && action.atMs >= 0) {
            const auto at = runStart_ + std::chrono::milliseconds(action.atMs);
            switch_.At(at, false);
            if (action.replugAfterMs >= 0) {
                switch_.At(at + std::chrono::milliseconds(action.replugAfterMs), true);
            }
            action.doneAt = action.atMs / 1000.0;
        }
    }
    run_->Start(false);
    const auto hardLimit = std::chrono::duration<double>(plan.boundSeconds + 30.0);
    while (run_->Running()) {
        Pump();
        for (Action& action : plan.actions) {
            if (action.doneAt < 0 && Due(action)) {
                Perform(action);
            }
        }
        CheckControls();
        if (Clock::now() - runStart_ > hardLimit) {
            Violate(TimeCheck, "still running " +
                                   std::to_string(static_cast<int>(SecondsSince(runStart_))) +
                                   " s after the start; cancelled");
            run_->Cancel();
            const auto until = Clock::now() + 30s;
            while (run_->Running() && Clock::now() < until) {
                Pump();
            }
            if (run_->Running()) {
                PrintRun(plan);
                std::printf("the run could not be ended: the soak stops here\n");
                return false;
            }
        }
    }
    if (!runEnded_) {
        runEnd_ = Clock::now(); // the run did not start
    }
    switch_.Clear();
    WaitSwitch();
    const double seconds = std::chrono::duration<double>(runEnd_ - runStart_).count();
    if (seconds > plan.boundSeconds) {
        Violate(TimeCheck, "took " + std::to_string(seconds) + " s, bound " +
                               std::to_string(plan.boundSeconds) + " s");
    }
    CheckVerdicts(plan);
    ++tally.runs;
    ++runsDone_;
    tally.longest = std::max(tally.longest, seconds);
    tally.boundShare = std::max(tally.boundShare, seconds / plan.boundSeconds);
    // Violations seen between runs are told with the run that follows them.
    if (!notes_.empty()) {
        PrintRun(plan);
        notes_.clear();
    }
    if (runsDone_ % 100 == 0) {
        std::printf("... %d runs\n", runsDone_);
        std::fflush(stdout);
    }
    // "Reset remote system", as the upload-error box asks: usually the operator does.
    Rng reaction(plan.reactionSeed);
    if (IsUploadFailure(run_->Record().End) && Chance(reaction, 0.85)) {
        Unplug(true);
        Replug(true);
    } else if (!switch_.Plugged() && Chance(reaction, 0.7)) {
        Replug(true);
    }
    for (const PlannedFile& file : plan.files) {
        std::filesystem::remove(work_.File(file.name));
    }
    return true;
}

void Soak::CheckVerdicts(const RunPlan& plan) {
    Tally& tally = table_[kind_];
    const RunRecord& record = run_->Record();
    for (const PlannedFile& file : plan.files) {
        // The last try of the file is its verdict; a file the run did not reach was not sent.
        FileOutcome outcome = FileOutcome::NotSent;
        for (const FileRecord& entry : record.Files) {
            if (entry.Name == file.name) {
                outcome = entry.Outcome;
            }
        }
        const std::string path = store_ + "/" + file.address + ".bin";
        const bool stored = std::filesystem::exists(path) && e2e::ReadFile(path) == file.data;
        const bool verified = outcome == FileOutcome::Verified;
        verified ? ++tally.verified : ++tally.failed;
        if (verified && !stored) {
            Violate(VerdictCheck, file.name + " (" + file.address +
                                      ") verified, but the device "
                                      "does not hold it");
        } else if (!verified && stored) {
            const std::string excuse = Excuse(outcome, file.address);
            if (excuse.empty()) {
                Violate(VerdictCheck, file.name + " (" + file.address + ") " +
                                          FileOutcomeName(outcome) + ", but the device holds it");
            } else {
                ++tally.excused;
                ++excuses_[excuse];
            }
        }
    }
}

std::string Soak::Excuse(FileOutcome outcome, const std::string& address) const {
    struct Line {
        double t;
        char direction; // '<' received, '>' sent, '*' event
        std::string text;
    };
    std::vector<Line> lines;
    std::ifstream in(transcript_);
    for (std::string text; std::getline(in, text);) {
        char* end = nullptr;
        const double t = std::strtod(text.c_str(), &end);
        const auto at = static_cast<std::size_t>(end - text.c_str());
        if (at == 0 || at + 2 >= text.size()) {
            continue;
        }
        lines.push_back({t, text[at + 1], at + 3 <= text.size() ? text.substr(at + 3) : ""});
    }
    const auto event = [&](std::size_t i, const std::string& prefix) {
        return lines[i].direction == '*' && lines[i].text.rfind(prefix, 0) == 0;
    };
    // The file's last header, where the device took it, and where its plug-in or the next file
    // begins.
    std::optional<std::size_t> header, accepted;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (event(i, "header: address " + address + ",")) {
            header = i;
        }
    }
    if (!header) {
        return {};
    }
    std::size_t end = lines.size();
    for (std::size_t i = *header + 1; i < lines.size(); ++i) {
        if (event(i, "header: ") || event(i, "device ready")) {
            end = i;
            break;
        }
        if (!accepted && event(i, "file " + address + " accepted")) {
            accepted = i;
        }
    }
    if (!accepted) {
        return {};
    }
    if (outcome == FileOutcome::Cancelled && cancelledVerifying_) {
        return "cancelled while the device took the file's verifying CR";
    }
    if (outcome == FileOutcome::Refused) {
        // The device's answer to a good file is its prompt: an error string heard there was one
        // it sent on its own (unasked, or repeating an earlier refusal).
        for (std::size_t i = *header + 1; i < end; ++i) {
            if (lines[i].direction == '>' && lines[i].text.find("RR") != std::string::npos) {
                return "refused on an error string the device sent beside a good file";
            }
        }
        return {};
    }
    // Pulled out after it took the file: its answer never left, or left just before.
    std::optional<std::size_t> sent;
    for (std::size_t i = *accepted + 1; i < end; ++i) {
        if (!sent && lines[i].direction == '>') {
            sent = i;
        }
        if (event(i, "unplugged")) {
            if (!sent || lines[i].t - lines[*sent].t < 0.3) {
                return "device unplugged after it took the file, before its answer arrived";
            }
            return {};
        }
    }
    return {};
}

void Soak::CheckControls() {
    const bool running = run_->Running();
    const bool usable = owner_->IsOpen() && !owner_->Port().LineHungUp();
    const RunControls& controls = run_->View().Controls;
    if (controls.Start == (!running && usable) && controls.Cancel == running) {
        mismatchSince_.reset();
        mismatchCounted_ = false;
        return;
    }
    // A hang-up is seen by the port's worker at once and reaches the view with the port's loss
    // notice through the event loop: only a view that stays wrong then counts. Everything else
    // changes on this thread, and the view must follow at once.
    if (!mismatchSince_) {
        mismatchSince_ = Clock::now();
    }
    const bool hangUpUnannounced = owner_->IsOpen() && owner_->Port().LineHungUp();
    if (mismatchCounted_ || (hangUpUnannounced && Clock::now() - *mismatchSince_ < 2s)) {
        return;
    }
    mismatchCounted_ = true;
    Violate(ControlsCheck, std::string("Start ") + (controls.Start ? "offered" : "not offered") +
                               ", Cancel " + (controls.Cancel ? "offered" : "not offered") +
                               " while " + (running ? "a run goes" : "no run goes") +
                               " and the port is " + (usable ? "usable" : "not usable") +
                               " (view " + RunStateName(run_->View().State) +
                               (hangUpUnannounced ? ", for 2 s after the hang-up" : "") + ")");
}

void Soak::UpdateTransfer() {
    const std::size_t key = run_->Record().Files.size();
    const auto& buffer = run_->Engine().Run().UploadBuffer;
    if (key != transferKey_) {
        if (stopSeen_) {
            Violate(BlockCheck, "a transfer started after the run was stopped");
        }
        transferKey_ = key;
        bytesBefore_ = runBytes_;
        base_ = reinterpret_cast<std::uintptr_t>(buffer.data());
        transferSize_ = static_cast<std::int64_t>(buffer.size());
    }
    const LinkState& state = owner_->Link().State();
    transferOffset_ =
        static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(state.BlockCursor) - base_);
    runBytes_ = bytesBefore_ + transferOffset_;
    // What the port had been given when the refusal came: the bytes on the line by then can be
    // fewer, while the driver still holds a block.
    if (state.DeviceErrorQueued >= 0) {
        stopMark_ = std::min(stopMark_, bytesBefore_ + state.DeviceErrorQueued);
    }
    if (!blockCounted_ && stopMark_ != std::numeric_limits<std::int64_t>::max() &&
        runBytes_ - stopMark_ > blockSize_) {
        blockCounted_ = true;
        Violate(BlockCheck, std::to_string(runBytes_ - stopMark_) +
                                " bytes handed to the port after the refusal or cancel (block " +
                                std::to_string(blockSize_) + ")");
    }
}

void Soak::TransferEnded() {
    // A transfer that ends before its first block handed nothing over.
    if (run_->Record().Files.size() != transferKey_) {
        return;
    }
    UpdateTransfer();
    if (owner_->Link().State().DeviceErrorAt >= 0) {
        stopSeen_ = true;
    }
}

void Soak::ErrorStringBetweenTransfers() {
    // Heard while a file is on its way (its header sent, or its data drained and not yet
    // verified), the device's error string refuses that file: no block may follow.
    if (run_->Running() && run_->Engine().Run().State == ScriptState::ssUploading) {
        stopSeen_ = true;
        stopMark_ = std::min(stopMark_, runBytes_);
    }
}

void Soak::Violate(Check check, const std::string& what) {
    ++table_[kind_].violations[check];
    notes_.push_back(std::string(CheckNames[check]) + ": " + what);
}

void Soak::PrintRun(const RunPlan& plan) const {
    std::printf("\n== seed %llu, sequence %d (%s), run %d\n",
                static_cast<unsigned long long>(seed_), sequenceNumber_, NameOf(kind_), runNumber_);
    for (const std::string& note : notes_) {
        std::printf("VIOLATION %s\n", note.c_str());
    }
    std::printf("device: pellwick-devsim %s\nblock size %lld\nscript:\n%s", deviceArgs_.c_str(),
                static_cast<long long>(blockSize_), plan.script.c_str());
    for (const PlannedFile& file : plan.files) {
        std::printf("file %s: %zu bytes at %s\n", file.name.c_str(), file.data.size(),
                    file.address.c_str());
    }
    for (const Action& action : plan.actions) {
        std::printf("action %s: ", NameOf(action.type));
        if (action.atMs >= 0) {
            std::printf("at %d ms", action.atMs);
        } else {
            std::printf("at %.0f %% of file %d", action.fraction * 100, action.file);
        }
        if (action.replugAfterMs >= 0) {
            std::printf(", replug %d ms later", action.replugAfterMs);
        }
        action.doneAt >= 0 ? std::printf(", done at %.3f s\n", action.doneAt)
                           : std::printf(", not done\n");
    }
    const RunRecord& record = run_->Record();
    std::printf("run ended %s: %s\n", RunEndName(record.End), record.Cause.c_str());
    for (const FileRecord& file : record.Files) {
        std::printf("  %s: %s, %lld bytes sent; %s\n", file.Name.c_str(),
                    FileOutcomeName(file.Outcome), static_cast<long long>(file.BytesSent),
                    file.Cause.c_str());
    }
    for (const std::string& box : boxes_.Recent()) {
        std::printf("box: %s\n", box.c_str());
    }
    std::ifstream in(transcript_);
    std::deque<std::string> tail;
    for (std::string line; std::getline(in, line);) {
        tail.push_back(line.substr(0, 160));
        if (tail.size() > 40) {
            tail.pop_front();
        }
    }
    for (const std::string& line : tail) {
        std::printf("  | %s\n", line.c_str());
    }
    std::fflush(stdout);
}

bool Soak::Report(double seconds) const {
    std::printf("\n%-22s %5s %8s %6s %7s", "sequence kind", "runs", "verified", "failed",
                "excused");
    for (const char* name : CheckNames) {
        std::printf(" %8s", name);
    }
    std::printf(" %9s %7s\n", "longest s", "bound %");
    Tally total;
    const auto row = [](const char* name, const Tally& t) {
        std::printf("%-22s %5d %8d %6d %7d", name, t.runs, t.verified, t.failed, t.excused);
        for (int v : t.violations) {
            std::printf(" %8d", v);
        }
        std::printf(" %9.1f %7.0f\n", t.longest, t.boundShare * 100);
    };
    for (Kind kind : AllKinds) {
        const auto found = table_.find(kind);
        const Tally t = found == table_.end() ? Tally{} : found->second;
        row(NameOf(kind), t);
        total.runs += t.runs;
        total.verified += t.verified;
        total.failed += t.failed;
        total.excused += t.excused;
        for (int c = 0; c < CheckCount; ++c) {
            total.violations[static_cast<std::size_t>(c)] +=
                t.violations[static_cast<std::size_t>(c)];
        }
        total.longest = std::max(total.longest, t.longest);
        total.boundShare = std::max(total.boundShare, t.boundShare);
    }
    row("all", total);
    std::printf("(verified, failed, excused: files; excused: kept by the device, not confirmed "
                "because the device made it unknowable)\n");
    for (const auto& [reason, count] : excuses_) {
        std::printf("excused %d: %s\n", count, reason.c_str());
    }
    if (restarts_ > 0) {
        std::printf("simulators ended from outside and started again: %d\n", restarts_);
    }
    int violations = 0;
    for (int v : total.violations) {
        violations += v;
    }
    std::printf("%d runs in %.0f s (%.2f s a run); %d violations: goal %s\n", total.runs, seconds,
                total.runs > 0 ? seconds / total.runs : 0.0, violations,
                violations == 0 ? "met" : "NOT met");
    return violations == 0;
}

} // namespace

int main(int argc, char** argv) {
    const long runs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 2000;
    const unsigned long long seed =
        argc > 2 ? std::strtoull(argv[2], nullptr, 10)
                 : static_cast<unsigned long long>(Clock::now().time_since_epoch().count());
    const long only = argc > 3 ? std::strtol(argv[3], nullptr, 10) : -1;
    if (runs <= 0 || runs > INT_MAX || argc > 4 || (argc > 3 && only < 0)) {
        std::fprintf(stderr, "usage: upload_composition_soak [runs > 0] [seed] [sequence]\n");
        return 2;
    }
    // The terminal control is a widget: without a display it needs the offscreen platform.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int qtArgc = 1;
    SoakApplication app(qtArgc, argv);
    std::printf("composition soak: %ld runs of the upload run on the port owner against "
                "pellwick-devsim, seed %llu\n",
                only >= 0 ? 0L : runs, seed);
    std::fflush(stdout);
    const auto start = Clock::now();
    bool met = false;
    {
        Soak soak(seed);
        app.onException = [&soak](const std::string& what) { soak.ExceptionInEventLoop(what); };
        if (!soak.SetUp()) {
            return 2;
        }
        if (only >= 0) {
            if (!soak.RunSequence(static_cast<int>(only), INT_MAX)) {
                return soak.Report(SecondsSince(start)) ? 2 : 1;
            }
        } else {
            for (int sequence = 0; soak.RunsDone() < runs; ++sequence) {
                if (!soak.RunSequence(sequence, static_cast<int>(runs) - soak.RunsDone())) {
                    // A set-up that failed, or a port or run that could not be brought back.
                    return soak.Report(SecondsSince(start)) ? 2 : 1;
                }
            }
        }
        met = soak.Report(SecondsSince(start));
        app.onException = nullptr;
    }
    return met ? 0 : 1;
}
