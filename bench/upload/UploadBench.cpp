// Upload speed of pellwick-run against the device simulator on a line emulated at 115200 baud:
// the runner's wall time (start to exit) against the time the line itself needs for every byte
// of the run (script command, header, file, verification, answers; 10 bits a byte) plus the
// configured pause between header and data. Goal: at most 1.05 of that.
// With --ser2net the runner reaches the simulator's line through ser2net on 127.0.0.1 over
// RFC 2217 (--port rfc2217://127.0.0.1:PORT, the baud rate set to the emulated one). Goal: at
// most 1.02 of the same time.
// Usage: upload_bench [--ser2net] [KiB, default 256] [runs, default 1] [Delay ms, default 100]
#include "e2e/RunnerProcess.h"
#include "e2e/UploadFiles.h"
#include "support/DevsimHarness.h"
#include "support/Ser2netServer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace pellwick;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Baud = 115200;

std::string HeaderOf(const e2e::Bytes& data, const std::string& address,
                     const std::string& version) {
    return "LF " + address + " " + std::to_string(data.size()) + " " + e2e::Checksum16(data) + " " +
           version + "\r";
}

} // namespace

int main(int argc, char** argv) {
    const bool network = argc > 1 && std::strcmp(argv[1], "--ser2net") == 0;
    if (network) {
        --argc;
        ++argv;
    }
    const double goal = network ? 1.02 : 1.05;
    const std::size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 1;
    const int delayMs = argc > 3 ? std::atoi(argv[3]) : 100;
    if (kib == 0 || runs <= 0 || delayMs < 0) {
        std::fprintf(stderr,
                     "usage: upload_bench [--ser2net] [KiB > 0] [runs > 0] [Delay ms >= 0]\n");
        return 2;
    }

    const e2e::Bytes data = e2e::AllByteValues(kib * 1024);
    const std::string address = "00040000";
    const std::string version = "1.0";
    // What crosses the line, in order: the command and its answer, the header and the data,
    // the verifying CR and its answer.
    const std::string command = "UL\r";
    const std::size_t lineBytes =
        command.size() + 1 + HeaderOf(data, address, version).size() + data.size() + 1 + 1;
    const double lineSeconds = static_cast<double>(lineBytes) * 10.0 / Baud;
    const double delaySeconds = delayMs / 1000.0; // Delay; no _LP, so no post delay
    const double expected = lineSeconds + delaySeconds;

    std::printf("upload of %zu KiB through pellwick-run at %d baud (emulated), Delay %d ms%s\n",
                kib, Baud, delayMs, network ? ", through ser2net (RFC 2217)" : "");
    std::printf("line bytes %zu -> line-rate time %.3f s; + delays %.3f s = %.3f s\n", lineBytes,
                lineSeconds, delaySeconds, expected);

    std::vector<double> ratios;
    for (int run = 0; run < runs; ++run) {
        DevsimHarness device;
        const std::string store = device.File("store");
        std::filesystem::create_directory(store);
        if (!device.StartProcess({"--baud", std::to_string(Baud), "--store", store})) {
            std::fprintf(stderr, "simulator: %s\n", device.Error().c_str());
            return 1;
        }
        device.WriteLoaderIni(1, {{"Upload Settings", "Delay", std::to_string(delayMs)},
                                  {"RS232Settings", "Baud Rate", std::to_string(Baud)}});
        std::vector<std::string> args{"bench.sld"};
        Ser2netServer server;
        if (network) {
            if (!server.Start({device.SlavePath()}, Ser2netServer::Protocol::Rfc2217)) {
                std::fprintf(stderr, "%s\n", server.Error().c_str());
                return 1;
            }
            args.insert(args.begin(), {"--port", server.Address()});
        }
        e2e::WriteFile(device.File("bench.bin"), data);
        e2e::WriteText(device.File("bench.sld"), "_TC \"UL^M\"\n_LA " + address + "\n_LV " +
                                                     version + "\n_LF bench.bin\n_LD\n");

        RunnerProcess runner;
        const auto start = Clock::now();
        if (!runner.Start(device.Folder(), args)) {
            std::fprintf(stderr, "%s\n", runner.Error().c_str());
            return 1;
        }
        const int status = runner.Wait(std::chrono::minutes(5));
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        if (status != 0 || e2e::ReadFile(store + "/" + address + ".bin") != data) {
            std::fprintf(stderr, "run failed (exit %d or file differs):\n%s\n", status,
                         runner.Output().c_str());
            return 1;
        }
        device.Stop();
        const double ratio = wall / expected;
        ratios.push_back(ratio);
        std::printf("run %d: wall %.3f s, ratio %.4f\n", run + 1, wall, ratio);
    }
    std::sort(ratios.begin(), ratios.end());
    const double median = ratios[ratios.size() / 2];
    std::printf("median ratio %.4f (goal <= %.2f): %s\n", median, goal,
                median <= goal ? "met" : "MISSED");
    return median <= goal ? 0 : 3;
}
