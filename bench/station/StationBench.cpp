// A station of 16 slots at an emulated 115200 baud in this process, each slot a pellwick-devsim
// behind a --link that the bench plugs in and pulls, against a station of one slot:
//  - the wall time of a round (all boards plugged in at once until the last is recorded) against
//    that of one board alone (medians; goal: at most 1.1 times);
//  - the longest stall of the GUI thread while the rounds run, seen by a 5 ms timer (goal: at
//    most 50 ms);
//  - the station's CPU while every slot waits for its board, over 10 s, for boards that appear
//    (ports closed, their folders watched) and for boards that answer a probe (ports open,
//    probed every 500 ms) (goal: below 1 % of a core).
// Usage: station_bench [rounds, default 5] [--window]; STALLS=1 in the environment prints each
// stall over 30 ms with the time the GUI thread itself was busy in it. Beside the longest stall
// it prints the most CPU the GUI thread spent between two beats: on a loaded machine a stall
// can be the thread waiting for a core rather than the station's work.
#include "e2e/UploadFiles.h"
#include "link/PortOwner.h"
#include "station/Station.h"
#include "station/window/StationWindow.h"
#include "support/BenchFigures.h"
#include "support/DevsimHarness.h"
#include "support/TempFolder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <vector>

using namespace pellwick;
using bench::CpuSeconds;
using bench::Median;
using Clock = std::chrono::steady_clock;

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// Runs the event loop until done() or the time-out (looking every 10 ms); false on time-out.
bool Pump(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (done() || Clock::now() > deadline) {
            loop.quit();
        }
    });
    look.start(10);
    if (!done()) {
        loop.exec();
    }
    return done();
}

// Runs the event loop for the span, with nothing of the benchmark's own waking it.
void Idle(std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
}

// The longest gap between the beats of a 5 ms timer.
struct StallMeter {
    StallMeter() {
        QObject::connect(&beat, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            longest = std::max(longest, now - last);
            const double cpuMs = ThreadCpuMs();
            longestBusyMs = std::max(longestBusyMs, cpuMs - lastCpuMs);
            if (getenv("STALLS") && now - last > std::chrono::milliseconds(30)) {
                std::fprintf(stderr, "stall %.0f ms at %.3f s, GUI thread busy %.1f ms of it\n",
                             std::chrono::duration<double, std::milli>(now - last).count(),
                             std::chrono::duration<double>(now - origin).count(),
                             cpuMs - lastCpuMs);
            }
            lastCpuMs = cpuMs;
            last = now;
        });
    }
    static double ThreadCpuMs() {
        timespec cpu{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
        return static_cast<double>(cpu.tv_sec) * 1e3 + static_cast<double>(cpu.tv_nsec) / 1e6;
    }
    void Start() {
        origin = Clock::now();
        longest = {};
        longestBusyMs = 0;
        lastCpuMs = ThreadCpuMs();
        last = Clock::now();
        beat.start(5);
    }
    double StopMs() {
        beat.stop();
        return std::chrono::duration<double, std::milli>(longest).count();
    }
    QTimer beat;
    Clock::time_point last, origin;
    double lastCpuMs = 0;
    Clock::duration longest{};
    // The most CPU the GUI thread itself spent between two beats: the part of a stall that is
    // the station's own work, not the thread waiting for a core on a loaded machine.
    double longestBusyMs = 0;
};

struct Bench {
    int boards = 0;
    StartMode mode = StartMode::Appear;
    std::vector<std::string> deviceArgs;
    bool window = false;

    TempFolder folder;
    std::vector<std::unique_ptr<DevsimHarness>> devices;
    std::vector<std::string> links;
    std::unique_ptr<Station> station;
    std::unique_ptr<StationWindow> view;
    int done = 0;
    int failed = 0;

    bool Make() {
        std::string slotLines;
        for (int i = 0; i < boards; ++i) {
            links.push_back(folder.File("tty" + std::to_string(i + 1)));
            devices.push_back(std::make_unique<DevsimHarness>());
            std::vector<std::string> args = {"--baud", "115200", "--link", links.back()};
            args.insert(args.end(), deviceArgs.begin(), deviceArgs.end());
            if (!devices.back()->StartProcess(args)) {
                std::fprintf(stderr, "simulator: %s\n", devices.back()->Error().c_str());
                return false;
            }
            slotLines += "Slot" + std::to_string(i + 1) + "=" + links.back() + "\n";
        }
        e2e::WriteFile(folder.File("app.bin"), e2e::AllByteValues(16 * 1024));
        e2e::WriteFile(folder.File("cfg.bin"), e2e::AllByteValues(4 * 1024));
        e2e::WriteText(folder.File("flash.sld"), "_TC \"UL^M\"\n_LV 1.0\n_LA 00020000\n"
                                                 "_LF app.bin\n_LD\n_LA 00080000\n_LF cfg.bin\n"
                                                 "_LD\n_SC \"GO^M\"\n");
        e2e::WriteText(folder.File("station.ini"),
                       std::string("[Station]\nScript=flash.sld\nStart=") + StartModeName(mode) +
                           "\n[Slots]\n" + slotLines +
                           "[Ports]\nScan=0\n[RS232Settings]\nBaud Rate=115200\nUse RTS=0\n"
                           "Require CTS=0\n[Upload Settings]\nDelay=100\n");
        std::filesystem::current_path(folder.Path());
        std::vector<std::string> errors;
        StationConfig config = ReadStationConfig(errors);
        if (!errors.empty()) {
            std::fprintf(stderr, "station.ini: %s\n", errors.front().c_str());
            return false;
        }
        station = std::make_unique<Station>(std::move(config));
        QObject::connect(
            station.get(), &Station::BoardDone, [this](int, const BoardResult& result) {
                ++done;
                failed += result.Passed ? 0 : 1;
                if (!result.Passed) {
                    std::fprintf(stderr, "slot %d failed: %s\n", result.Slot, result.Cause.c_str());
                }
            });
        if (window) {
            view = std::make_unique<StationWindow>(*station);
            view->show();
        }
        return station->Start().empty();
    }

    // Pulls every board and waits until the station has seen each one go, as an operator's
    // hands give it time to.
    bool Unplug() {
        for (auto& device : devices) {
            kill(device->Pid(), SIGUSR1);
        }
        return Pump(
            [&] {
                if (std::any_of(links.begin(), links.end(), Exists)) {
                    return false;
                }
                for (int i = 0; i < station->SlotCount(); ++i) {
                    if (station->Slot(i).Owner().IsOpen()) {
                        return false;
                    }
                }
                return true;
            },
            std::chrono::seconds(20));
    }

    // One round: every board plugged in at once; seconds until the last is recorded.
    double Round() {
        const int before = done;
        const auto start = Clock::now();
        for (auto& device : devices) {
            kill(device->Pid(), SIGUSR2);
        }
        if (!Pump([&] { return done - before == boards; }, std::chrono::minutes(2))) {
            return -1;
        }
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    // The station's CPU share of one core while nothing is plugged in.
    double IdleCpuPercent(std::chrono::seconds span) {
        Idle(std::chrono::seconds(2)); // settle
        const double cpu = CpuSeconds();
        const auto start = Clock::now();
        Idle(span);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        return 100.0 * (CpuSeconds() - cpu) / wall;
    }

    ~Bench() {
        view.reset();
        station.reset();
        for (auto& device : devices) {
            device->Stop();
        }
    }
};

// Rounds of a station of n boards: the median round, the longest stall and the most the GUI
// thread worked between two beats.
bool Rounds(int n, int rounds, bool window, double& median, double& stallMs, double& busyMs) {
    Bench bench;
    bench.boards = n;
    bench.window = window;
    if (!bench.Make()) {
        return false;
    }
    // The boards were plugged in when the station started: that first round is not counted.
    if (!Pump([&] { return bench.done == n; }, std::chrono::minutes(2)) || !bench.Unplug()) {
        return false;
    }
    StallMeter stall;
    std::vector<double> walls;
    for (int r = 0; r < rounds; ++r) {
        stall.Start();
        const double wall = bench.Round();
        const double stalled = stall.StopMs();
        if (wall < 0 || !bench.Unplug()) {
            std::fprintf(stderr, "round %d of %d boards did not finish\n", r + 1, n);
            return false;
        }
        stallMs = std::max(stallMs, stalled);
        busyMs = std::max(busyMs, stall.longestBusyMs);
        walls.push_back(wall);
    }
    median = Median(walls);
    return bench.failed == 0;
}

} // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    bool window = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--window") == 0) {
            window = true;
        } else {
            rounds = std::max(1, std::atoi(argv[i]));
        }
    }
    QApplication app(argc, argv);
    std::printf("station_bench: boards of 16 KiB + 4 KiB at 115200 baud (emulated), Delay 100 ms,"
                " %d rounds%s\n",
                rounds, window ? ", window shown" : "");
    double one = 0, oneStall = 0, oneBusy = 0, sixteen = 0, stall = 0, busy = 0;
    if (!Rounds(1, rounds, window, one, oneStall, oneBusy) ||
        !Rounds(16, rounds, window, sixteen, stall, busy)) {
        return 1;
    }
    const double ratio = sixteen / one;
    std::printf("one board alone: %.3f s a round (median)\n", one);
    std::printf("16 boards at once: %.3f s a round (median), %.3fx one alone (goal <= 1.1): %s\n",
                sixteen, ratio, ratio <= 1.1 ? "met" : "MISSED");
    std::printf("longest GUI thread stall during the 16-slot rounds: %.1f ms (goal <= 50): %s\n",
                stall, stall <= 50 ? "met" : "MISSED");
    std::printf("most CPU the GUI thread spent between two 5 ms beats in those rounds: %.1f ms\n",
                busy);
    double idle[2] = {};
    for (int probe = 0; probe < 2; ++probe) {
        Bench bench;
        bench.boards = 16;
        bench.window = window;
        bench.mode = probe ? StartMode::Probe : StartMode::Appear;
        // Probed boards sit on fixed adapters: plugged in, but silent, as when no board is there.
        bench.deviceArgs =
            probe ? std::vector<std::string>{"--silent"} : std::vector<std::string>{};
        if (!bench.Make()) {
            return 1;
        }
        if (!probe) {
            Idle(std::chrono::seconds(1));
            if (!bench.Unplug()) {
                return 1;
            }
            // The boards plugged in at the start have been loaded; out, they are waited for.
            Pump([&] { return bench.done == 16; }, std::chrono::minutes(2));
        }
        idle[probe] = bench.IdleCpuPercent(std::chrono::seconds(10));
        std::printf(
            "CPU while 16 boards wait for boards that %s: %.2f %% of a core (goal < 1): %s\n",
            probe ? "answer a probe" : "appear", idle[probe], idle[probe] < 1 ? "met" : "MISSED");
        std::fflush(stdout);
    }
    return ratio <= 1.1 && stall <= 50 && idle[0] < 1 && idle[1] < 1 ? 0 : 3;
}
