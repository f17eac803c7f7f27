// Many boards at once: N = 1, 2, 4, 8 pellwick-run processes side by side, each in its own
// folder against its own pellwick-devsim on a line emulated at 115200 baud. Prints the wall
// time of each set (start of the first runner to the end of the last) against that of one run
// alone. Goal: 8 at once take at most 1.1 times as long as one.
// With --ser2net every simulator's line is served by one ser2net on 127.0.0.1 over RFC 2217,
// each on a TCP port of its own, and each runner takes --port rfc2217://127.0.0.1:PORT.
// Usage: parallel_upload_bench [--ser2net] [KiB per board, default 64] [repeats per set,
// default 3]
#include "e2e/RunnerProcess.h"
#include "e2e/UploadFiles.h"
#include "support/BenchArgs.h"
#include "support/DevsimHarness.h"
#include "support/Ser2netServer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace pellwick;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Baud = 115200;

// One set of n boards; the wall time in seconds, or a negative number when a board failed.
double RunSet(int n, const e2e::Bytes& data, bool network) {
    std::vector<std::unique_ptr<DevsimHarness>> devices;
    std::vector<std::unique_ptr<RunnerProcess>> runners;
    for (int i = 0; i < n; ++i) {
        auto device = std::make_unique<DevsimHarness>();
        const std::string store = device->File("store");
        std::filesystem::create_directory(store);
        if (!device->StartProcess({"--baud", std::to_string(Baud), "--store", store})) {
            std::fprintf(stderr, "simulator: %s\n", device->Error().c_str());
            return -1;
        }
        device->WriteLoaderIni(1, {{"Upload Settings", "Delay", "100"},
                                   {"RS232Settings", "Baud Rate", std::to_string(Baud)}});
        e2e::WriteFile(device->File("board.bin"), data);
        e2e::WriteText(device->File("board.sld"),
                       "_TC \"UL^M\"\n_LA 00040000\n_LV 1.0\n_LF board.bin\n_LD\n");
        devices.push_back(std::move(device));
    }
    Ser2netServer server;
    if (network) {
        std::vector<std::string> lines;
        for (const auto& device : devices) {
            lines.push_back(device->SlavePath());
        }
        if (!server.Start(lines, Ser2netServer::Protocol::Rfc2217)) {
            std::fprintf(stderr, "%s\n", server.Error().c_str());
            return -1;
        }
    }
    const auto start = Clock::now();
    for (int i = 0; i < n; ++i) {
        std::vector<std::string> args{"--report", "run.json", "board.sld"};
        if (network) {
            args.insert(args.begin(), {"--port", server.Address(static_cast<std::size_t>(i))});
        }
        runners.push_back(std::make_unique<RunnerProcess>());
        if (!runners.back()->Start(devices[i]->Folder(), args)) {
            std::fprintf(stderr, "%s\n", runners.back()->Error().c_str());
            return -1;
        }
    }
    bool good = true;
    for (int i = 0; i < n; ++i) {
        const int status = runners[i]->Wait(std::chrono::minutes(5));
        if (status != 0 || e2e::ReadFile(devices[i]->File("store/00040000.bin")) != data) {
            std::fprintf(stderr, "board %d failed (exit %d or file differs):\n%s\n", i + 1, status,
                         runners[i]->Output().c_str());
            good = false;
        }
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    for (auto& device : devices) {
        device->Stop();
    }
    return good ? wall : -1;
}

} // namespace

int main(int argc, char** argv) {
    const bool network = bench::TakeLeadingFlag(argc, argv, "--ser2net");
    const std::size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
    if (kib == 0 || repeats <= 0) {
        std::fprintf(stderr, "usage: parallel_upload_bench [--ser2net] [KiB > 0] [repeats > 0]\n");
        return 2;
    }
    const e2e::Bytes data = e2e::AllByteValues(kib * 1024);
    std::printf("%zu KiB per board through pellwick-run at %d baud (emulated), Delay 100 ms, "
                "median of %d%s\n",
                kib, Baud, repeats, network ? ", through one ser2net (RFC 2217)" : "");
    std::printf("%8s %12s %10s\n", "boards", "wall s", "vs one");
    double one = 0;
    double ratio8 = 0;
    for (int n : {1, 2, 4, 8}) {
        std::vector<double> walls;
        for (int r = 0; r < repeats; ++r) {
            const double wall = RunSet(n, data, network);
            if (wall < 0) {
                return 1;
            }
            walls.push_back(wall);
        }
        std::sort(walls.begin(), walls.end());
        const double median = walls[walls.size() / 2];
        if (n == 1) {
            one = median;
        }
        const double ratio = median / one;
        if (n == 8) {
            ratio8 = ratio;
        }
        std::printf("%8d %12.3f %9.3fx\n", n, median, ratio);
        std::fflush(stdout);
    }
    std::printf("8 boards at once vs one: %.3fx (goal <= 1.1): %s\n", ratio8,
                ratio8 <= 1.1 ? "met" : "MISSED");
    return ratio8 <= 1.1 ? 0 : 3;
}
