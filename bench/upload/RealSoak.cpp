// The soak on the real clock: each board's line is the programs' PortOwner on a pseudo-terminal
// that pellwick-devsim serves behind a link, which it removes and makes again to be unplugged
// and plugged in (SIGUSR1, SIGUSR2); the terminal window's part is the real terminal control.
#include "SoakWorlds.h"

#include "link/PortOwner.h"
#include "serial/TVaxoCustomComPort.h"
#include "serial/portmap/PortMap.h"
#include "support/DevsimHarness.h"
#include "terminal/TVaxoTerminal.h"
#include "upload/run/QtRunClock.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace pellwick::soak {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

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

// Unplugs and plugs in the simulator (SIGUSR1, SIGUSR2) from a thread of its own, each switch
// waiting until the simulator's link has followed it, so that switches keep their order.
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
        failed_ = false;
    }
    void Switch(bool plugIn) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(plugIn);
        }
        wake_.notify_all();
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
    void Loop() {
        std::unique_lock lock(mutex_);
        while (!quit_) {
            if (queue_.empty()) {
                wake_.wait(lock);
                continue;
            }
            const bool plugIn = queue_.front();
            queue_.pop_front();
            const pid_t pid = pid_;
            const std::string link = link_;
            switching_ = true;
            lock.unlock();
            if (pid > 0 && plugIn != plugged_) {
                kill(pid, plugIn ? SIGUSR2 : SIGUSR1);
                const auto deadline = Clock::now() + 5s;
                while (LinkExists(link) != plugIn && Clock::now() < deadline) {
                    std::this_thread::sleep_for(1ms);
                }
                if (LinkExists(link) == plugIn) {
                    plugged_ = plugIn;
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
    std::deque<bool> queue_;
    pid_t pid_ = -1;
    std::string link_;
    bool switching_ = false;
    bool quit_ = false;
    std::atomic<bool> plugged_{true};
    std::atomic<bool> failed_{false};
    std::thread thread_;
};

class RealWorld final : public World {
public:
    RunClock& Time() override { return clock_; }
    bool Virtual() const override { return false; }

private:
    QtRunClock clock_;
};

class RealLine final : public Line {
public:
    RealLine(int board, int boards)
        : board_(board), boards_(boards), ini_(std::filesystem::current_path().string() +
                                               "/loader" + std::to_string(board) + ".ini") {}
    ~RealLine() override {
        terminal_.reset();
        Detach();
        if (device_) {
            device_->Stop();
        }
    }

    bool NewBoard(const SequencePlan& sequence, int number) override {
        sequence_ = sequence;
        number_ = number;
        rate_ = 0;
        stores_.clear();
        transcripts_.clear();
        retired_.clear();
        return StartDevice() && WriteIni();
    }
    LinkOperations& Attach(IMessageBoxes& boxes) override {
        terminal_.reset();
        Detach();
        owner_ = std::make_unique<PortOwner>(boxes);
        owner_->Port().AddNotifyProc(&RealLine::PortNotice, this);
        return owner_->Link();
    }
    LinkOperations& Link() override { return owner_->Link(); }
    bool StartUp() override {
        PortMap::SetGlobal(std::make_shared<PortMap>(PortMap::Build(ini_)));
        return owner_->StartUp(ini_);
    }
    void Shutdown() override { owner_->Shutdown(); }
    bool Save(std::int32_t rate, bool reopen) override {
        if (rate != 0) {
            rate_ = rate;
            WriteIni();
        }
        if (!reopen) {
            return true;
        }
        Rs232Settings settings = owner_->Settings();
        if (rate != 0) {
            settings.BaudRate = rate;
        }
        return owner_->Reopen(settings);
    }
    bool Open() override { return owner_ && owner_->IsOpen(); }
    bool HungUp() override { return owner_ && owner_->Port().LineHungUp(); }
    bool WaitingForDevice() override { return owner_ && owner_->WaitingForDevice(); }
    void Unplug() override { switch_.Switch(false); }
    void Replug(bool newBoard) override {
        if (!newBoard) {
            switch_.Switch(true);
            return;
        }
        // Another board behind the same link: a simulator of its own, knowing nothing of this
        // one.
        while (switch_.Busy()) {
            std::this_thread::sleep_for(1ms);
        }
        if (!StartDevice()) {
            std::printf("cannot start the swapped-in board's simulator\n");
        }
    }
    bool Plugged() override { return switch_.Plugged(); }
    bool Switching() override { return switch_.Busy(); }
    bool AwaitHangUp() override {
        // The port's own worker sees the hang-up; its notice must not be taken meanwhile.
        const auto deadline = Clock::now() + 5s;
        while (!owner_->Port().LineHungUp() && owner_->IsOpen() && Clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        return owner_->IsOpen() && owner_->Port().LineHungUp();
    }
    void ShowTerminal(bool shown) override {
        if (!terminal_) {
            terminal_ = std::make_unique<TVaxoTerminal>();
            terminal_->SetComPort(&owner_->Port());
        }
        owner_->SetDataTriggers(!shown);
        terminal_->SetActive(shown);
    }
    void SetTerminalActive(bool active) override { terminal_->SetActive(active); }
    bool TerminalExists() override { return terminal_ != nullptr; }
    std::optional<e2e::Bytes> Stored(const std::string& address) override {
        for (auto store = stores_.rbegin(); store != stores_.rend(); ++store) {
            const std::string path = *store + "/" + address + ".bin";
            if (std::filesystem::exists(path)) {
                return e2e::ReadFile(path);
            }
        }
        return std::nullopt;
    }
    std::vector<JournalLine> Journal() override {
        std::vector<JournalLine> lines;
        for (const std::string& path : transcripts_) {
            std::ifstream in(path);
            for (std::string text; std::getline(in, text);) {
                char* end = nullptr;
                const double t = std::strtod(text.c_str(), &end);
                const auto at = static_cast<std::size_t>(end - text.c_str());
                if (at == 0 || at + 2 >= text.size()) {
                    continue;
                }
                lines.push_back(
                    {t, text[at + 1], at + 3 <= text.size() ? text.substr(at + 3) : ""});
            }
        }
        return lines;
    }
    void ForgetJournal() override {
        transcripts_.erase(transcripts_.begin(), transcripts_.end() - 1);
    }
    std::int64_t DeviceReceived() override {
        std::int64_t bytes = 0;
        std::ifstream in(transcripts_.back());
        for (std::string text; std::getline(in, text);) {
            const auto at = text.find(' ', text.find_first_not_of(' '));
            if (at != std::string::npos && at + 3 <= text.size() && text[at + 1] == '<') {
                bytes += static_cast<std::int64_t>(text.size() - at - 3);
            }
        }
        return bytes;
    }
    double BytesPerSecond() override { return owner_->Link().Port().BytesPerSecond(); }
    double DeviceBytesPerSecond() override { return sequence_.baud / 10.0; }
    std::string Describe() override { return "pellwick-devsim" + args_; }
    bool DeviceDead() override { return device_ && device_->WaitExit(0ms) != -2; }
    bool TakeSwitchFailure() override { return switch_.TakeFailure(); }

private:
    static void PortNotice(void* context, TVaxoCustomComPort* port, bool opening) {
        auto* self = static_cast<RealLine*>(context);
        if (self->Announced) {
            self->Announced(opening, !opening && port->Lost());
        }
    }
    void Detach() {
        if (owner_) {
            owner_->Port().RemoveNotifyProc(&RealLine::PortNotice, this);
            owner_->Shutdown();
            owner_.reset();
        }
    }
    std::string LinkPath(int board) const {
        return std::filesystem::current_path().string() + "/ttySOAK" + std::to_string(board);
    }
    bool StartDevice() {
        if (device_) {
            // A board swapped out keeps its store and transcript for the verdicts of its run.
            device_->Stop();
            retired_.push_back(std::move(device_));
        }
        device_ = std::make_unique<DevsimHarness>();
        const std::string store = device_->File("store");
        const std::string transcript = device_->File("transcript.txt");
        std::filesystem::create_directory(store);
        std::vector<std::string> args = {
            "--link",       LinkPath(board_), "--store", store,
            "--transcript", transcript,       "--seed",  std::to_string(number_ + 1)};
        if (sequence_.baud != 0) {
            args.insert(args.end(), {"--baud", std::to_string(sequence_.baud)});
        }
        args.insert(args.end(), sequence_.faults.begin(), sequence_.faults.end());
        args_.clear();
        for (const std::string& arg : args) {
            args_ += " " + arg;
        }
        if (!device_->StartProcess(args)) {
            std::printf("cannot start pellwick-devsim%s: %s\n", args_.c_str(),
                        device_->Error().c_str());
            return false;
        }
        switch_.Attach(device_->Pid(), LinkPath(board_));
        stores_.push_back(store);
        transcripts_.push_back(transcript);
        return true;
    }
    // As the station's new board finds it: its port map names every board's link.
    bool WriteIni() const {
        std::ofstream ini(ini_, std::ios::trunc);
        ini << "[RS232Settings]\nComm Port=COM" << board_ + 1
            << "\nUse DTR=0\nUse RTS=0\nRequire DSR=0\nRequire CTS=0\n";
        if (rate_ != 0) {
            ini << "Baud Rate=" << rate_ << "\n";
        }
        ini << "[Ports]\nScan=0\n";
        for (int b = 0; b < boards_; ++b) {
            ini << "COM" << b + 1 << "=" << LinkPath(b) << "\n";
        }
        ini << "[Upload Settings]\nBlock Size=" << sequence_.blockSize
            << "\nBuffer Size=" << sequence_.bufferSize << "\nDelay=" << sequence_.delayMs << "\n";
        ini.close();
        if (!ini) {
            std::printf("cannot write %s\n", ini_.c_str());
        }
        return static_cast<bool>(ini);
    }

    int board_, boards_;
    std::string ini_;
    SequencePlan sequence_;
    int number_ = 0;
    std::int32_t rate_ = 0;
    std::string args_;
    std::unique_ptr<DevsimHarness> device_;
    std::vector<std::unique_ptr<DevsimHarness>> retired_;
    std::vector<std::string> stores_, transcripts_;
    DeviceSwitch switch_;
    std::unique_ptr<PortOwner> owner_;
    std::unique_ptr<TVaxoTerminal> terminal_;
};

} // namespace

std::function<void(const std::string&)> EventLoopException;

bool SoakReal(const SoakOptions& options, SoakProgram program, Totals& totals) {
    RealWorld world;
    SoakLanes<RealLine> soak(options, program, world, totals, [](int b, int boards) {
        return std::make_unique<RealLine>(b, boards);
    });
    auto& lanes = soak.lanes;
    EventLoopException = [&lanes](const std::string& what) {
        lanes.front()->Violate(OtherCheck, "an exception reached the event loop: " + what);
    };
    // What the port reports on its own goes to the output; the run's checks judge its effects.
    TVaxoCustomComPort::SetExceptionDisplay(
        [](const std::exception& e) { std::printf("the port reported: %s\n", e.what()); });
    for (auto& lane : lanes) {
        lane->Begin();
    }
    while (std::any_of(lanes.begin(), lanes.end(),
                       [](const auto& lane) { return !lane->Done() && !lane->Fatal(); })) {
        Pump();
        for (auto& lane : lanes) {
            lane->Poll();
        }
    }
    const bool went =
        std::none_of(lanes.begin(), lanes.end(), [](const auto& lane) { return lane->Fatal(); });
    lanes.clear();
    soak.lines.clear();
    TVaxoCustomComPort::SetExceptionDisplay(nullptr);
    EventLoopException = nullptr;
    return went;
}

} // namespace pellwick::soak
