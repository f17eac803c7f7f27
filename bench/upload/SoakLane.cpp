#include "SoakLane.h"

#include "outcome/RunVerdict.h"
#include "station/BoardRun.h"
#include "station/SlotBoxes.h"
#include "upload/headless/HeadlessRunner.h"
#include "upload/headless/RunnerMessageBoxes.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <regex>

namespace pellwick::soak {

namespace {

using namespace std::chrono_literals;

double Between(TimePoint from, TimePoint to) {
    return std::chrono::duration<double>(to - from).count();
}

constexpr const char* HungUpCause = "The board's line hung up before the run could start.";
constexpr double HeldLimit = std::chrono::duration<double>(TransferHeldLimit).count();

} // namespace

// --- Totals -----------------------------------------------------------------------------------

int Totals::Violations() const {
    int count = 0;
    for (const auto& [kind, tally] : kinds) {
        for (int v : tally.violations) {
            count += v;
        }
    }
    return count;
}

bool Totals::Report(const char* program, double seconds, double cpuSeconds) const {
    std::printf("\n%s\n%-22s %5s %8s %6s %7s", program, "sequence kind", "runs", "verified",
                "failed", "excused");
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
        const auto found = kinds.find(kind);
        const Tally t = found == kinds.end() ? Tally{} : found->second;
        row(NameOf(kind), t);
        total.runs += t.runs;
        total.verified += t.verified;
        total.failed += t.failed;
        total.excused += t.excused;
        for (std::size_t c = 0; c < CheckCount; ++c) {
            total.violations[c] += t.violations[c];
        }
        total.longest = std::max(total.longest, t.longest);
        total.boundShare = std::max(total.boundShare, t.boundShare);
    }
    row("all", total);
    std::printf("(verified, failed, excused: files; excused: kept by the device, not confirmed "
                "because the device made it unknowable; longest: s of the run's clock)\n");
    std::printf("confirmed cancels by where they landed:");
    for (int i = 0; i < CancelInCount; ++i) {
        std::printf(" %s %d%s", NameOf(static_cast<CancelIn>(i)),
                    cancels[static_cast<std::size_t>(i)], i + 1 < CancelInCount ? "," : "\n");
    }
    if (hungStarts + swaps > 0) {
        std::printf("starts on a line that had just hung up: %d; boards swapped during a run: %d\n",
                    hungStarts, swaps);
    }
    for (const auto& [reason, count] : excuses) {
        std::printf("excused %d: %s\n", count, reason.c_str());
    }
    if (restarts > 0) {
        std::printf("simulators ended from outside and started again: %d\n", restarts);
    }
    const int violations = Violations();
    std::printf("%s: %d runs in %.1f s of wall time (%.1f s of processor time); %d violations: "
                "goal %s\n",
                program, total.runs, seconds, cpuSeconds, violations,
                violations == 0 ? "met" : "NOT met");
    return violations == 0;
}

// --- What the device made unknowable ------------------------------------------------------------

std::string Excuse(const std::vector<JournalLine>& lines, FileOutcome outcome,
                   const std::string& address, bool cancelledVerifying) {
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
    if (outcome == FileOutcome::Cancelled && cancelledVerifying) {
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

// --- The lane -----------------------------------------------------------------------------------

Lane::Lane(World& world, Line& line, Pool& pool, Totals& totals, std::uint64_t seed, int board,
           const char* program)
    : world_(world), line_(line), totals_(totals), pool_(pool), board_(board), program_(program),
      seed_(seed), planner_(seed, world.Virtual()), wake_(world.Time().MakeTimer([] {})),
      spy_(*this) {
    line_.Announced = [this](bool opening, bool lost) {
        if (Live()) {
            PortAnnounced(opening, lost);
        }
    };
}

Lane::~Lane() {
    line_.Announced = nullptr;
}

TimePoint Lane::Now() const {
    return world_.Time().Now();
}

void Lane::Begin() {
    main_.emplace(Main());
    main_->Begin();
}

void Lane::Poll() {
    if (!main_ || main_->Done()) {
        return;
    }
    Watch();
    if (suspended_ && resumeWhen_()) {
        resumeWhen_ = nullptr;
        std::exchange(suspended_, {}).resume();
    }
    if (main_->Done()) {
        try {
            main_->await_resume();
        } catch (const std::exception& e) {
            Violate(OtherCheck, std::string("the soak's lane failed: ") + e.what());
            fatal_ = true;
        }
    }
}

Lane::Until Lane::SleepFor(std::chrono::milliseconds span) {
    const TimePoint until = Now() + span;
    wake_->Start(span);
    return Until{*this, [this, until] { return Now() >= until; }};
}

Lane::Until Lane::Switched() {
    return Until{*this, [this] { return !line_.Switching(); }};
}

void Lane::Violate(Check check, const std::string& what) {
    ++totals_.kinds[kind_].violations[check];
    notes_.push_back(std::string(CheckNames[check]) + ": " + what);
}

Task Lane::Main() {
    bool once = false;
    for (;;) {
        int number = 0;
        if (pool_.onlySequence >= 0) {
            if (std::exchange(once, true)) {
                co_return;
            }
            number = pool_.onlySequence + board_;
        } else {
            if (pool_.runsLeft <= 0) {
                co_return;
            }
            number = pool_.nextSequence++;
        }
        sequence_ = planner_.Sequence(number);
        if (pool_.onlySequence < 0) {
            sequence_.runs = std::min(sequence_.runs, pool_.runsLeft);
            pool_.runsLeft -= sequence_.runs;
        }
        kind_ = sequence_.kind;
        sequenceNumber_ = number;
        runNumber_ = 0;
        co_await NewBoard(number);
        for (int r = 0; r < sequence_.runs && !fatal_; ++r) {
            RunPlan plan = planner_.Run(Station() ? "b" + std::to_string(board_) : "");
            runNumber_ = r + 1;
            if (r > 0) {
                co_await BetweenRuns(plan.beforeSeed);
            }
            co_await ExecuteRun(plan);
        }
        if (fatal_) {
            co_return;
        }
    }
}

Task Lane::NewBoard(int number) {
    // The board of the last sequence goes: its line hangs up, and the port is lost until the
    // next one is there.
    line_.Unplug();
    const TimePoint until = Now() + 2s;
    co_await Until{
        *this, [this, until] { return !line_.Switching() && (!line_.Open() || Now() > until); }};
    if (!line_.NewBoard(sequence_, number)) {
        std::printf("\n== %s, seed %" PRIu64 ", sequence %d: the device could not be set up\n",
                    program_, seed_, number);
        fatal_ = true;
        co_return;
    }
    terminalShown_ = false;
    if (!RunsOwnProcess()) {
        if (!attached_) {
            line_.Attach(Boxes());
            Setup();
            WatchLink();
            attached_ = true;
        }
        // As at the program's start on the new board: settings read, the port opened.
        line_.StartUp();
        co_await EnsureUsable();
    }
}

Task Lane::EnsureUsable() {
    // What the operator does until "Start File Upload" is offered (a runner: until the board
    // is there): plug the device in, and Save the settings when the port stays closed.
    const TimePoint deadline = Now() + 30s;
    for (;;) {
        const bool idle = !line_.Switching();
        if (RunsOwnProcess() ? idle && line_.Plugged() : Run().View().Controls.Start) {
            co_return;
        }
        if (line_.TakeSwitchFailure() && !line_.DeviceDead()) {
            Violate(OtherCheck, "the simulator did not follow an unplug or replug signal");
        }
        if (line_.DeviceDead()) {
            // Not the program's doing: another process ended the simulator (seen on shared
            // machines). A new one with the same faults takes its place.
            ++totals_.restarts;
            if (!line_.NewBoard(sequence_, sequenceNumber_)) {
                fatal_ = true;
                co_return;
            }
            line_.StartUp();
        }
        if (idle && !line_.Plugged()) {
            line_.Replug(false);
        } else if (idle && !RunsOwnProcess() && !line_.Open() && !line_.WaitingForDevice() &&
                   (!lastSave_ || Now() - *lastSave_ > 1s)) {
            lastSave_ = Now();
            line_.Save(0, true);
        }
        if (Now() > deadline) {
            Violate(OtherCheck, std::string("the port was not usable again within 30 s: open ") +
                                    (line_.Open() ? "yes" : "no") + ", waiting for the device " +
                                    (line_.WaitingForDevice() ? "yes" : "no") + ", device " +
                                    (line_.Plugged() ? "plugged in" : "out"));
            std::printf("\n== %s, seed %" PRIu64 ", sequence %d, board %d: %s\n", program_, seed_,
                        sequenceNumber_, board_, notes_.back().c_str());
            fatal_ = true;
            co_return;
        }
        co_await SleepFor(2ms);
    }
}

void Lane::Save(Rng& rng) {
    constexpr std::int32_t realRates[] = {9600, 19200, 38400, 57600, 115200};
    constexpr std::int32_t virtualRates[] = {9600, 19200, 57600, 115200, 230400};
    const auto at = static_cast<std::size_t>(Pick(rng, 0, 4));
    const std::int32_t rate = world_.Virtual() ? virtualRates[at] : realRates[at];
    if (RunsOwnProcess()) {
        line_.Save(rate, false);
    } else if (Run().View().Controls.Settings) {
        line_.Save(rate, true);
    }
}

Task Lane::BetweenRuns(std::uint64_t seed) {
    Rng rng(seed);
    const bool mixed = kind_ == Kind::Mixed;
    if (((kind_ == Kind::Terminal && Chance(rng, 0.6)) || (mixed && Chance(rng, 0.3))) &&
        HasTerminal()) {
        ShowTerminal(!terminalShown_);
    }
    if (kind_ == Kind::Settings || (mixed && Chance(rng, 0.3))) {
        if (Chance(rng, 0.35)) {
            // Saved while the device is away: the open fails and the port stays closed until
            // the next Save.
            line_.Unplug();
            const TimePoint until = Now() + 2s;
            co_await Until{*this, [this, until] {
                               return !line_.Switching() && (!line_.Open() || Now() > until);
                           }};
            Save(rng);
            line_.Replug(false);
            co_await Switched();
        }
        for (int n = Pick(rng, 1, 2); n > 0; --n) {
            Save(rng);
        }
    }
    if ((kind_ == Kind::Unplug && Chance(rng, 0.3)) || (mixed && Chance(rng, 0.2))) {
        line_.Unplug();
        co_await Switched();
        co_await SleepFor(std::chrono::milliseconds(Pick(rng, 10, 400)));
        if (Chance(rng, 0.7)) {
            line_.Replug(false);
            co_await Switched();
        }
    }
    co_await SleepFor(std::chrono::milliseconds(Pick(rng, 0, 150)));
}

void Lane::ShowTerminal(bool shown) {
    // Offered only while the terminal may have the line; shown, the received bytes are its.
    if (shown == terminalShown_ || (shown && !Run().View().Controls.Terminal)) {
        return;
    }
    line_.ShowTerminal(shown);
    terminalShown_ = shown;
}

Task Lane::ExecuteRun(RunPlan& plan) {
    const std::string script = "soak" + std::to_string(board_) + ".sld";
    for (const PlannedFile& file : plan.files) {
        if (!e2e::WriteFile(file.name, file.data)) {
            std::printf("cannot write %s\n", file.name.c_str());
            fatal_ = true;
            co_return;
        }
    }
    if (!e2e::WriteText(script, plan.script)) {
        std::printf("cannot write the script\n");
        fatal_ = true;
        co_return;
    }
    co_await EnsureUsable();
    if (fatal_) {
        co_return;
    }
    if (!Prepare(plan)) {
        Violate(OtherCheck, "the program could not open the port with its device there");
        PrintRun(plan);
        notes_.clear();
        co_return;
    }
    ScriptRun& values = Run().Engine().Run();
    values.ScriptFileName = script;
    values.PreUploadDelay = plan.delayMs;
    line_.ForgetJournal();
    transferKey_ = 0;
    bytesBefore_ = runBytes_ = transferOffset_ = transferSize_ = 0;
    stopMark_ = std::numeric_limits<std::int64_t>::max();
    stopSeen_ = blockCounted_ = cancelledVerifying_ = swapped_ = false;
    cancelAt_.reset();
    hardCancelAt_.reset();
    waitBegun_.reset();
    later_.clear();
    fileTimes_.clear();
    runEnded_ = false;
    plan_ = &plan;
    runStart_ = Now();
    inRun_ = true;
    Start(plan);
    co_await Until{*this, [this] { return !Run().Running() || fatal_; }};
    if (!runEnded_) {
        runEnd_ = Now(); // the run did not start
    }
    co_await Until{*this, [this] { return ResultReady() || Now() - runEnd_ > 5s; }};
    inRun_ = false;
    if (fatal_) {
        PrintRun(plan);
        co_return;
    }
    // What was to follow an action comes now at the latest: a swapped-in board is plugged in,
    // and its port has a moment to open on it.
    for (const Later& later : std::exchange(later_, {})) {
        later.what();
    }
    co_await Switched();
    if (swapped_) {
        co_await SleepFor(50ms);
        if (const std::int64_t got = line_.DeviceReceived(); got > 0) {
            Violate(ResultCheck, "the board swapped in during the run got " + std::to_string(got) +
                                     " bytes before its own run started");
        }
    }
    const double seconds = Between(runStart_, runEnd_);
    Tally& tally = totals_.kinds[kind_];
    CheckTimes(plan, seconds);
    CheckVerdicts(plan);
    CheckCounts();
    After(plan);
    ++tally.runs;
    tally.longest = std::max(tally.longest, seconds);
    tally.boundShare = std::max(tally.boundShare, seconds / plan.boundSeconds);
    // Violations seen between runs are told with the run that follows them; a sequence run
    // again to reproduce it tells every run.
    if (!notes_.empty() || pool_.onlySequence >= 0) {
        PrintRun(plan);
        notes_.clear();
    }
    co_await React(plan);
    plan_ = nullptr;
    std::error_code ignored;
    for (const PlannedFile& file : plan.files) {
        std::filesystem::remove(file.name, ignored);
    }
}

Task Lane::React(const RunPlan& plan) {
    // "Reset remote system", as the upload-error box asks: usually the operator does. A line
    // held by CTS is set right.
    line_.SetCts(true);
    Rng reaction(plan.reactionSeed);
    if (IsUploadFailure(Run().Record().End) && Chance(reaction, 0.85)) {
        line_.Unplug();
        co_await Switched();
        line_.Replug(false);
        co_await Switched();
    } else if (!line_.Plugged() && Chance(reaction, 0.7)) {
        line_.Replug(false);
        co_await Switched();
    }
}

// --- During a run -----------------------------------------------------------------------------

CancelIn Lane::Where() const {
    const ScriptEngine& engine = Run().Engine();
    const RunView& view = Run().View();
    const bool verifying = view.Phase == UploadPhase::Verifying;
    switch (engine.Waiting()) {
    case RunWait::Room:
        return CancelIn::Room;
    case RunWait::Pause:
        return !verifying                 ? CancelIn::HeaderDelay
               : view.UploadPercent == 70 ? CancelIn::RetryPause
                                          : CancelIn::PostDelay;
    case RunWait::Quiet:
        return CancelIn::Quiet;
    case RunWait::Answer:
        return verifying ? CancelIn::VerifyAnswer : CancelIn::CommandAnswer;
    case RunWait::None:
        break;
    }
    return line_.Link().TransferRunning() ? CancelIn::Transfer : CancelIn::AnyTime;
}

bool Lane::Due(const Action& action) const {
    if (action.type == Action::Cancel && action.in != CancelIn::AnyTime &&
        action.in != CancelIn::Transfer) {
        return waitBegun_ && Where() == action.in &&
               Now() - *waitBegun_ >= std::chrono::milliseconds(action.atMs);
    }
    if (action.atMs >= 0) {
        return Now() - runStart_ >= std::chrono::milliseconds(action.atMs);
    }
    return static_cast<int>(transferKey_) == action.file + 1 &&
           static_cast<double>(transferOffset_) >=
               action.fraction * static_cast<double>(transferSize_);
}

void Lane::Perform(Action& action) {
    action.doneAt = Between(runStart_, Now());
    switch (action.type) {
    case Action::Cancel:
        if (Run().View().Controls.Cancel) {
            // A transfer handed to the link may not have had its first block yet.
            if (line_.Link().TransferRunning()) {
                UpdateTransfer();
            }
            // A cancel while a file's verifying CR may have gone out: the device may keep the
            // file, and the run rightly does not call it verified.
            if (Run().View().Phase == UploadPhase::Verifying) {
                cancelledVerifying_ = true;
            }
            const CancelIn where = Where();
            Cancel();
            // Confirmed: from here at most one more block may go out, and the run ends soon.
            if (Run().Running()) {
                ++totals_.cancels[static_cast<std::size_t>(where)];
                cancelAt_ = cancelAt_.value_or(Now());
                Stopped();
                stopMark_ = std::min(stopMark_, runBytes_);
            }
        }
        break;
    case Action::HideTerminal:
        if (HasTerminal()) {
            ShowTerminal(false);
        }
        break;
    case Action::Unplug:
        line_.Unplug();
        if (action.againAfterMs >= 0) {
            later_.push_back({Now() + std::chrono::milliseconds(action.againAfterMs),
                              [this] { line_.Replug(false); }});
        }
        break;
    case Action::Swap:
        if (!Station()) {
            action.doneAt = -1;
            break;
        }
        ++totals_.swaps;
        swapped_ = true;
        line_.Unplug();
        later_.push_back({Now() + std::chrono::milliseconds(action.againAfterMs),
                          [this] { line_.Replug(true); }});
        break;
    case Action::CtsLow:
        line_.SetCts(false);
        if (action.againAfterMs >= 0) {
            later_.push_back({Now() + std::chrono::milliseconds(action.againAfterMs),
                              [this] { line_.SetCts(true); }});
        }
        break;
    }
}

void Lane::Watch() {
    if (!Live()) {
        return;
    }
    CheckControls();
    if (!inRun_) {
        return;
    }
    const TimePoint now = Now();
    // The engine's wait under way, and when it began (a pause's kind shows in the gauge).
    const std::pair<CancelIn, int> wait{Where(), Run().View().UploadPercent};
    if (!waitBegun_ || wait != wait_) {
        waitBegun_ = now;
        wait_ = wait;
    }
    if (Run().Running()) {
        for (Action& action : plan_->actions) {
            if (action.doneAt < 0 && Due(action)) {
                Perform(action);
            }
        }
    }
    for (std::size_t i = 0; i < later_.size();) {
        if (later_[i].at <= now) {
            const auto what = later_[i].what;
            later_.erase(later_.begin() + static_cast<std::ptrdiff_t>(i));
            what();
        } else {
            ++i;
        }
    }
    // When each file's figures froze: a stop that counts what was on the line by then.
    FileTimes& times = fileTimes_[Run().Record().Files.size()];
    if (times.first && !times.frozen && line_.Link().Progress().Frozen) {
        times.frozen = now;
        times.lastMove = line_.LastOutputMove();
    }
    if (!times.verified && !Run().Record().Files.empty() &&
        Run().Record().Files.back().Outcome == FileOutcome::Verified) {
        times.verified = now;
    }
    if (Run().Running() &&
        now - runStart_ > std::chrono::duration<double>(plan_->boundSeconds + 30)) {
        if (!hardCancelAt_) {
            Violate(TimeCheck, "still running " +
                                   std::to_string(static_cast<int>(Between(runStart_, now))) +
                                   " s after the start; cancelled");
            hardCancelAt_ = now;
            Cancel();
        } else if (now - *hardCancelAt_ > 30s) {
            Violate(OtherCheck, "the run could not be ended: the soak stops here");
            fatal_ = true;
        }
    }
}

void Lane::CheckControls() {
    const bool running = Run().Running();
    const bool usable = line_.Open() && !line_.HungUp();
    const RunControls& controls = Run().View().Controls;
    if (controls.Start == (!running && usable) && controls.Cancel == running) {
        mismatchSince_.reset();
        mismatchCounted_ = false;
        return;
    }
    // A hang-up is seen by the port at once and reaches the view with the port's loss notice
    // through the event loop: only a view that stays wrong then counts. Everything else
    // changes on this thread, and the view must follow at once.
    if (!mismatchSince_) {
        mismatchSince_ = Now();
    }
    const bool hangUpUnannounced = line_.Open() && line_.HungUp();
    if (mismatchCounted_ || (hangUpUnannounced && Now() - *mismatchSince_ < 2s)) {
        return;
    }
    mismatchCounted_ = true;
    Violate(ControlsCheck, std::string("Start ") + (controls.Start ? "offered" : "not offered") +
                               ", Cancel " + (controls.Cancel ? "offered" : "not offered") +
                               " while " + (running ? "a run goes" : "no run goes") +
                               " and the port is " + (usable ? "usable" : "not usable") +
                               " (view " + RunStateName(Run().View().State) +
                               (hangUpUnannounced ? ", for 2 s after the hang-up" : "") + ")");
}

// --- The transfers' blocks ----------------------------------------------------------------------

void Lane::WatchLink() {
    ILinkHost* host = line_.Link().Host();
    if (host != &spy_) {
        spy_.inner = host;
        line_.Link().SetHost(&spy_);
    }
}

void Lane::HostSpy::SetScriptError() {
    lane_.ErrorStringBetweenTransfers();
    inner->SetScriptError();
}
void Lane::HostSpy::SetULError() {
    lane_.TransferEnded();
    inner->SetULError();
}
void Lane::HostSpy::EnableScriptTimer() {
    lane_.TransferEnded();
    inner->EnableScriptTimer();
}
void Lane::HostSpy::SetUploadGauge(int percent) {
    lane_.UpdateTransfer();
    inner->SetUploadGauge(percent);
}
void Lane::HostSpy::SetComBtnState(bool on) {
    inner->SetComBtnState(on);
}
void Lane::HostSpy::TriggersChanged() {
    inner->TriggersChanged();
}

void Lane::UpdateTransfer() {
    if (!inRun_) {
        return;
    }
    const std::size_t key = Run().Record().Files.size();
    const auto& buffer = Run().Engine().Run().UploadBuffer;
    if (key != transferKey_) {
        // The file under way when the stop came may still start its transfer (a refusal heard
        // in its header's Delay is taken once the Delay is over): the stop ends it at once.
        if (stopSeen_ && key > stopKey_) {
            Violate(BlockCheck, "a transfer started after the run was stopped");
        }
        transferKey_ = key;
        bytesBefore_ = runBytes_;
        base_ = reinterpret_cast<std::uintptr_t>(buffer.data());
        transferSize_ = static_cast<std::int64_t>(buffer.size());
    }
    const LinkState& state = line_.Link().State();
    transferOffset_ =
        static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(state.BlockCursor) - base_);
    runBytes_ = bytesBefore_ + transferOffset_;
    if (transferOffset_ > 0 && !fileTimes_[key].first) {
        fileTimes_[key].first = Now();
    }
    // What the port had been given when the refusal came: the bytes on the line by then can be
    // fewer, while the driver still holds a block.
    if (state.DeviceErrorQueued >= 0) {
        stopMark_ = std::min(stopMark_, bytesBefore_ + state.DeviceErrorQueued);
    }
    const std::int64_t block = line_.Link().State().BlockSize;
    if (!blockCounted_ && stopMark_ != std::numeric_limits<std::int64_t>::max() &&
        runBytes_ - stopMark_ > block) {
        blockCounted_ = true;
        Violate(BlockCheck, std::to_string(runBytes_ - stopMark_) +
                                " bytes handed to the port after the refusal or cancel (block " +
                                std::to_string(block) + ")");
    }
}

void Lane::TransferEnded() {
    // A transfer that ends before its first block handed nothing over.
    if (!inRun_ || Run().Record().Files.size() != transferKey_) {
        return;
    }
    UpdateTransfer();
    if (line_.Link().State().DeviceErrorAt >= 0) {
        Stopped();
    }
}

void Lane::Stopped() {
    if (!stopSeen_) {
        stopSeen_ = true;
        stopKey_ = Run().Record().Files.size();
    }
}

void Lane::ErrorStringBetweenTransfers() {
    // Heard while a file is on its way (its header sent, or its data drained and not yet
    // verified), the device's error string refuses that file: no block may follow.
    if (inRun_ && Run().Running() && Run().Engine().Run().State == ScriptState::ssUploading) {
        Stopped();
        stopMark_ = std::min(stopMark_, runBytes_);
    }
}

// --- After a run --------------------------------------------------------------------------------

FileOutcome Lane::OutcomeOf(const PlannedFile& file) const {
    // The last try of the file is its verdict; a file the run did not reach was not sent.
    FileOutcome outcome = FileOutcome::NotSent;
    for (const FileRecord& entry : Run().Record().Files) {
        if (entry.Name == file.name) {
            outcome = entry.Outcome;
        }
    }
    return outcome;
}

bool Lane::StoredIntact(const PlannedFile& file) {
    const auto stored = line_.Stored(file.address);
    return stored && *stored == file.data;
}

void Lane::CheckVerdicts(const RunPlan& plan) {
    Tally& tally = totals_.kinds[kind_];
    const std::vector<JournalLine> journal = line_.Journal();
    for (const PlannedFile& file : plan.files) {
        const FileOutcome outcome = OutcomeOf(file);
        const bool stored = StoredIntact(file);
        const bool verified = outcome == FileOutcome::Verified;
        verified ? ++tally.verified : ++tally.failed;
        if (verified && !stored) {
            Violate(VerdictCheck, file.name + " (" + file.address +
                                      ") verified, but the device does not hold it");
        } else if (!verified && stored) {
            const std::string excuse = Excuse(journal, outcome, file.address, cancelledVerifying_);
            if (excuse.empty()) {
                Violate(VerdictCheck, file.name + " (" + file.address + ") " +
                                          FileOutcomeName(outcome) + ", but the device holds it");
            } else {
                ++tally.excused;
                ++totals_.excuses[excuse];
            }
        }
    }
}

void Lane::CheckCounts() {
    static const std::regex count(R"(after (\d+) (of \d+ )?bytes)");
    const double rate = line_.BytesPerSecond();
    const double deviceRate = line_.DeviceBytesPerSecond();
    // Where the clock is real, the moments are seen a little late: a few bytes more may pass.
    const double slack = world_.Virtual() ? 1 : 2 + rate * 0.005;
    const auto& files = Run().Record().Files;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const FileRecord& file = files[i];
        const FileTimes& times = fileTimes_[i + 1];
        // A file is verified only once the device can have had it.
        if (file.Outcome == FileOutcome::Verified && times.first && times.verified &&
            deviceRate > 0 &&
            Between(*times.first, *times.verified) + 0.002 <
                static_cast<double>(file.Size) / deviceRate) {
            Violate(VerdictCheck, file.Name + " verified " +
                                      std::to_string(Between(*times.first, *times.verified)) +
                                      " s after its first byte, but the line needs " +
                                      std::to_string(static_cast<double>(file.Size) / deviceRate) +
                                      " s to carry it");
        }
        if (file.Outcome == FileOutcome::Verified || file.Outcome == FileOutcome::NotSent) {
            continue;
        }
        std::smatch match;
        if (std::regex_search(file.Cause, match, count) && std::stoll(match[1]) != file.BytesSent) {
            Violate(CountsCheck, file.Name + ": its cause says " + match[1].str() +
                                     " bytes, its record " + std::to_string(file.BytesSent) + " (" +
                                     file.Cause + ")");
        }
        if (times.first && times.frozen && rate > 0) {
            const double allowed = std::floor(Between(*times.first, *times.frozen) * rate) + slack;
            if (static_cast<double>(file.BytesSent) > allowed) {
                Violate(CountsCheck, file.Name + ": " + std::to_string(file.BytesSent) +
                                         " bytes sent, but the line carries at most " +
                                         std::to_string(static_cast<std::int64_t>(allowed)) +
                                         " in the " +
                                         std::to_string(Between(*times.first, *times.frozen)) +
                                         " s from its first byte to its stop");
            }
        }
        if (file.BytesSent < 0 || static_cast<std::uint64_t>(file.BytesSent) > file.Size) {
            Violate(CountsCheck, file.Name + ": " + std::to_string(file.BytesSent) +
                                     " bytes sent of " + std::to_string(file.Size));
        }
    }
}

void Lane::CheckTimes(const RunPlan& plan, double seconds) {
    const double limit = world_.Virtual() ? 0.5 : 2.0;
    if (seconds > plan.boundSeconds) {
        Violate(TimeCheck, "took " + std::to_string(seconds) + " s, bound " +
                               std::to_string(plan.boundSeconds) + " s");
    }
    if (cancelAt_ && !hardCancelAt_ && Between(*cancelAt_, runEnd_) > limit) {
        Violate(TimeCheck, "the run ended " + std::to_string(Between(*cancelAt_, runEnd_)) +
                               " s after the confirmed cancel");
    }
    const auto& files = Run().Record().Files;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const FileTimes& times = fileTimes_[i + 1];
        if (files[i].Cause.rfind("Nothing left for", 0) != 0 || !times.frozen) {
            continue;
        }
        if (Between(*times.frozen, runEnd_) > limit) {
            Violate(TimeCheck, "the run ended " + std::to_string(Between(*times.frozen, runEnd_)) +
                                   " s after the held line stopped " + files[i].Name);
        }
        if (times.lastMove && Between(*times.lastMove, *times.frozen) > HeldLimit + 0.3) {
            Violate(TimeCheck, "the held line was found " +
                                   std::to_string(Between(*times.lastMove, *times.frozen)) +
                                   " s after its output last moved");
        }
    }
}

void Lane::PrintRun(const RunPlan& plan) {
    std::printf("\n== %s, seed %" PRIu64 ", sequence %d (%s), board %d, run %d\n", program_, seed_,
                sequenceNumber_, NameOf(kind_), board_, runNumber_);
    for (const std::string& note : notes_) {
        std::printf("VIOLATION %s\n", note.c_str());
    }
    std::printf("device: %s\nblock size %d, buffer %d, delay %d ms\nscript:\n%s",
                line_.Describe().c_str(), sequence_.blockSize, sequence_.bufferSize, plan.delayMs,
                plan.script.size() > 4000 ? (plan.script.substr(0, 300) + "...\n").c_str()
                                          : plan.script.c_str());
    for (const PlannedFile& file : plan.files) {
        std::printf("file %s: %zu bytes at %s\n", file.name.c_str(), file.data.size(),
                    file.address.c_str());
    }
    for (const Action& action : plan.actions) {
        std::printf("action %s: ", NameOf(action.type));
        if (action.type == Action::Cancel && action.in != CancelIn::AnyTime &&
            action.in != CancelIn::Transfer) {
            std::printf("%d ms into a wait (%s)", action.atMs, NameOf(action.in));
        } else if (action.atMs >= 0) {
            std::printf("at %d ms", action.atMs);
        } else {
            std::printf("at %.0f %% of file %d", action.fraction * 100, action.file);
        }
        if (action.againAfterMs >= 0) {
            std::printf(", undone %d ms later", action.againAfterMs);
        }
        action.doneAt >= 0 ? std::printf(", done at %.3f s\n", action.doneAt)
                           : std::printf(", not done\n");
    }
    if (plan.hungStart && Station()) {
        std::printf("started on a line that had just hung up\n");
    }
    const RunRecord& record = Run().Record();
    std::printf("run ended %s after %.3f s: %s\n", RunEndName(record.End),
                Between(runStart_, runEnd_), record.Cause.c_str());
    for (const FileRecord& file : record.Files) {
        std::printf("  %s: %s, %lld bytes sent; %s\n", file.Name.c_str(),
                    FileOutcomeName(file.Outcome), static_cast<long long>(file.BytesSent),
                    file.Cause.c_str());
    }
    const std::vector<JournalLine> journal = line_.Journal();
    for (std::size_t i = journal.size() > 40 ? journal.size() - 40 : 0; i < journal.size(); ++i) {
        std::printf("  | %10.6f %c %s\n", journal[i].t, journal[i].direction,
                    ReadableBytes(journal[i].text, 120).c_str());
    }
    std::fflush(stdout);
}

// --- The programs -------------------------------------------------------------------------------

namespace {

// The main window's boxes as an operator answers them: Yes to the cancel question, Abort or
// Ignore at random, OK otherwise.
class OperatorBoxes : public IMessageBoxes {
public:
    MsgButton Show(MsgKind, const std::string&, unsigned buttons) override {
        if ((buttons & MbYes) != 0) {
            return MbYes;
        }
        if ((buttons & MbAbort) != 0) {
            return Chance(rng_, 0.5) ? MbIgnore : MbAbort;
        }
        return (buttons & MbOk) != 0 ? MbOk : static_cast<MsgButton>(buttons & (~buttons + 1));
    }
    void Reseed(std::uint64_t seed) { rng_.seed(seed); }

private:
    Rng rng_;
};

std::unique_ptr<UploadRun> MakeRun(World& world, ILinkOperations& link, IMessageBoxes& boxes) {
    RunClock* clock = world.RunObjectsClock();
    return clock != nullptr ? std::make_unique<UploadRun>(link, boxes, *clock)
                            : std::make_unique<UploadRun>(link, boxes);
}

// The main window: one run for the program's life, with its hooks to the terminal window.
class WindowLane final : public Lane {
public:
    WindowLane(World& world, Line& line, Pool& pool, Totals& totals, std::uint64_t seed)
        : Lane(world, line, pool, totals, seed, 0, "window") {}
    ~WindowLane() override {
        if (run_) {
            run_->Close();
        }
    }

protected:
    UploadRun& Run() const override { return *run_; }
    IMessageBoxes& Boxes() override { return boxes_; }
    bool Live() const override { return run_ != nullptr; }
    bool HasTerminal() const override { return true; }
    void Setup() override {
        run_ = MakeRun(world_, line_.Link(), boxes_);
        UploadRun::Hooks hooks;
        hooks.TerminalExists = [this] { return line_.TerminalExists(); };
        hooks.SetTerminalActive = [this](bool on) { line_.SetTerminalActive(on); };
        run_->SetHooks(std::move(hooks));
        FollowEnd(*run_);
    }
    void Start(const RunPlan& plan) override {
        boxes_.Reseed(plan.boxSeed);
        run_->Start(false);
    }
    void Cancel() override { run_->Cancel(); }
    // As the main window does: the run's view is derived anew on every opening and closing.
    void PortAnnounced(bool, bool) override { run_->PortChanged(); }

private:
    OperatorBoxes boxes_;
    std::unique_ptr<UploadRun> run_;
};

// pellwick-run: a process for every run, with the runner's boxes; --ignore at random, Ctrl-C
// as the cancel, and an exit status that must not claim more than the device holds.
class RunnerLane final : public Lane {
public:
    RunnerLane(World& world, Line& line, Pool& pool, Totals& totals, std::uint64_t seed)
        : Lane(world, line, pool, totals, seed, 0, "runner"), null_(std::fopen("/dev/null", "w")) {}
    ~RunnerLane() override {
        End();
        if (null_ != nullptr) {
            std::fclose(null_);
        }
    }

protected:
    UploadRun& Run() const override { return *run_; }
    IMessageBoxes& Boxes() override { return *boxes_; }
    bool Live() const override { return alive_; }
    bool RunsOwnProcess() const override { return true; }
    bool Prepare(const RunPlan& plan) override {
        run_.reset();
        Rng rng(plan.boxSeed);
        boxes_ = std::make_unique<RunnerMessageBoxes>(null_, Chance(rng, 0.5));
        line_.Attach(*boxes_);
        if (!line_.StartUp()) {
            return false;
        }
        run_ = MakeRun(world_, line_.Link(), *boxes_);
        FollowEnd(*run_);
        WatchLink();
        interrupted_ = false;
        alive_ = true;
        return true;
    }
    void Start(const RunPlan&) override { run_->Start(false); }
    void Cancel() override {
        // What Ctrl-C does.
        boxes_->SetConfirmCancel(true);
        run_->Cancel();
        boxes_->SetConfirmCancel(false);
        interrupted_ = true;
    }
    void PortAnnounced(bool, bool) override {}
    void After(const RunPlan& plan) override {
        const RunRecord& record = run_->Record();
        RunVerdict verdict;
        verdict.end = record.End;
        verdict.ignoredErrors = record.IgnoredErrors;
        verdict.interrupted = interrupted_;
        const int status = ExitStatusFor(verdict);
        for (const PlannedFile& file : plan.files) {
            if (status == ExitClean &&
                (OutcomeOf(file) != FileOutcome::Verified || !StoredIntact(file))) {
                Violate(ResultCheck, "exit status 0, but " + file.name + " is " +
                                         FileOutcomeName(OutcomeOf(file)) + " and " +
                                         (StoredIntact(file) ? "" : "not ") + "held by the device");
            }
        }
        if (status == ExitClean && interrupted_) {
            Violate(ResultCheck, "exit status 0 after Ctrl-C");
        }
        End();
    }

private:
    // The process ends; its run's record stays readable until the next one starts.
    void End() {
        if (alive_) {
            alive_ = false;
            run_->Close();
            line_.Shutdown();
        }
    }

    std::FILE* null_;
    std::unique_ptr<RunnerMessageBoxes> boxes_;
    std::unique_ptr<UploadRun> run_;
    bool alive_ = false;
    bool interrupted_ = false;
};

// A board of the station: the board run with the slot's boxes, and what the slot does when the
// board's line goes away under it.
class BoardLane final : public Lane {
public:
    BoardLane(World& world, Line& line, Pool& pool, Totals& totals, std::uint64_t seed, int board)
        : Lane(world, line, pool, totals, seed, board, "station") {
        slot_.Number = board + 1;
        slot_.ComNumber = board + 1;
        slot_.Port = "COM" + std::to_string(board + 1);
        slot_.Start = StartMode::Button;
    }
    ~BoardLane() override {
        if (board_run_) {
            board_run_->Close();
        }
    }

protected:
    UploadRun& Run() const override { return board_run_->Run(); }
    IMessageBoxes& Boxes() override { return boxes_; }
    bool Live() const override { return board_run_ != nullptr; }
    bool Station() const override { return true; }
    bool ResultReady() const override { return result_.has_value(); }
    void Setup() override {
        board_run_ = std::make_unique<BoardRun>(station_, slot_, line_.Link(), boxes_,
                                                world_.RunObjectsClock());
        QObject::connect(board_run_.get(), &BoardRun::Finished,
                         [this](const BoardResult& result) { result_ = result; });
        FollowEnd(board_run_->Run());
    }
    void Start(const RunPlan& plan) override {
        result_.reset();
        hungStart_ = plan.hungStart;
        if (hungStart_) {
            ++totals_.hungStarts;
            line_.Unplug();
            if (!line_.AwaitHangUp()) {
                hungStart_ = false; // the port went before the start: not this case
            }
        }
        AdapterInfo adapter;
        adapter.serial = "soak-board-" + std::to_string(slot_.Number);
        board_run_->Start(adapter);
        if (hungStart_ && !result_) {
            Violate(ResultCheck, "a start on a line that had just hung up did not end the board");
        }
    }
    void Cancel() override { board_run_->Cancel(); }
    void PortAnnounced(bool opening, bool lost) override {
        // As the slot does: a board whose line went away under its run ends now as hung up, so
        // that whatever is plugged in next gets none of it.
        if (!opening && lost && board_run_->Running()) {
            board_run_->LineLost();
        }
        board_run_->PortChanged();
    }
    void After(const RunPlan& plan) override {
        if (!result_) {
            Violate(ResultCheck, "the board's run ended without a result");
            return;
        }
        const BoardResult& result = *result_;
        const RunRecord& record = Run().Record();
        bool own = result.Files.size() == plan.files.size() && result.Slot == slot_.Number;
        for (std::size_t i = 0; own && i < plan.files.size(); ++i) {
            own = result.Files[i].Name == plan.files[i].name;
        }
        if (!own) {
            std::string names;
            for (const FileRecord& file : result.Files) {
                names += " " + file.Name;
            }
            Violate(ResultCheck, "the board's result (slot " + std::to_string(result.Slot) +
                                     ") lists other files:" + names);
            return;
        }
        for (std::size_t i = 0; i < plan.files.size(); ++i) {
            if (result.Files[i].Outcome != OutcomeOf(plan.files[i])) {
                Violate(ResultCheck, plan.files[i].name + " is " +
                                         FileOutcomeName(result.Files[i].Outcome) +
                                         " in the board's result, " +
                                         FileOutcomeName(OutcomeOf(plan.files[i])) + " in its run");
            }
            if (result.Passed && !StoredIntact(plan.files[i])) {
                Violate(ResultCheck,
                        "the board passed, but the device does not hold " + plan.files[i].name);
            }
        }
        if (result.Passed != (record.End == RunEnd::Completed && record.IgnoredErrors == 0) ||
            result.End != record.End) {
            Violate(ResultCheck, std::string("the board ") + (result.Passed ? "passed" : "failed") +
                                     " with end " + RunEndName(result.End) + ", its run " +
                                     RunEndName(record.End));
        }
        if (hungStart_) {
            const bool nothingSent =
                std::all_of(result.Files.begin(), result.Files.end(),
                            [](const FileRecord& f) { return f.Outcome == FileOutcome::NotSent; });
            if (result.Passed || result.End != RunEnd::NotStarted || result.Cause != HungUpCause ||
                !nothingSent) {
                Violate(ResultCheck, "a start on a line that had just hung up ended " +
                                         std::string(RunEndName(result.End)) + " with cause \"" +
                                         result.Cause + "\"");
            }
        }
    }

private:
    StationConfig station_;
    SlotConfig slot_;
    SlotBoxes boxes_;
    std::unique_ptr<BoardRun> board_run_;
    std::optional<BoardResult> result_;
    bool hungStart_ = false;
};

} // namespace

void Lane::FollowEnd(UploadRun& run) {
    QObject::connect(&run, &UploadRun::RunEnded, [this] {
        runEnd_ = Now();
        runEnded_ = true;
    });
}

const char* NameOf(SoakProgram program) {
    constexpr const char* names[] = {"window", "runner", "station"};
    return names[static_cast<std::size_t>(program)];
}

std::unique_ptr<Lane> MakeLane(SoakProgram program, World& world, Line& line, Pool& pool,
                               Totals& totals, std::uint64_t seed, int board) {
    switch (program) {
    case SoakProgram::Window:
        return std::make_unique<WindowLane>(world, line, pool, totals, seed);
    case SoakProgram::Runner:
        return std::make_unique<RunnerLane>(world, line, pool, totals, seed);
    case SoakProgram::Station:
        break;
    }
    return std::make_unique<BoardLane>(world, line, pool, totals, seed, board);
}

} // namespace pellwick::soak
