// Upload speed of pellwick-run against the device simulator on a line emulated at a rate (115200
// baud unless given): the runner's wall time (start to exit) against the time the line itself
// needs for every byte of the run (script command, header, file, verification, answers; 10 bits
// a byte) plus the configured pause between header and data. Goal: at most 1.05 of that; on a
// line faster than 115200 baud, 1.02 for the upload as the device saw it (below). The port opens
// at the same rate: one of the six of [RS232Settings], any other through [Line].
// Beside it, from the simulator's transcript, what the device saw: the upload from the header's
// arrival to its answer to the verifying CR against the line-rate time of those bytes plus Delay,
// and the data alone (first to last byte) against its line-rate time.
// With --ser2net the runner reaches the simulator's line through ser2net on 127.0.0.1 over
// RFC 2217 (--port rfc2217://127.0.0.1:PORT). Goal: at most 1.02 of the same time.
// Usage: upload_bench [--ser2net] [KiB, default 256] [runs, default 1] [Delay ms, default 100]
//                     [baud, default 115200]
#include "e2e/RunnerProcess.h"
#include "e2e/UploadFiles.h"
#include "support/BenchArgs.h"
#include "support/DevsimHarness.h"
#include "support/Ser2netServer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace pellwick;
using Clock = std::chrono::steady_clock;

namespace {

std::string HeaderOf(const e2e::Bytes& data, const std::string& address,
                     const std::string& version) {
    return "LF " + address + " " + std::to_string(data.size()) + " " + e2e::Checksum16(data) + " " +
           version + "\r";
}

// Seconds of the transcript's events: the header's arrival, the first and the last data byte,
// and the answer to the verifying CR. False when the transcript lacks one of them.
struct DeviceTimes {
    double header = 0, firstData = 0, lastData = 0, answer = 0;
};
bool ReadDeviceTimes(const std::string& path, DeviceTimes& times) {
    std::ifstream in(path);
    std::vector<std::pair<double, std::string>> events;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        double at = 0;
        std::string kind;
        if (fields >> at >> kind) {
            std::string rest;
            std::getline(fields, rest);
            events.emplace_back(at, kind + rest);
        }
    }
    std::size_t i = 0;
    const auto next = [&](auto&& matches) {
        while (i < events.size() && !matches(events[i].second)) {
            ++i;
        }
        return i < events.size();
    };
    const auto starts = [](const char* prefix) {
        return [prefix](const std::string& e) { return e.rfind(prefix, 0) == 0; };
    };
    if (!next(starts("* header:"))) {
        return false;
    }
    times.header = events[i].first;
    if (!next(starts("<"))) {
        return false;
    }
    times.firstData = events[i].first;
    // The verifying CR comes alone, right before the device's verdict.
    if (!next(starts("* file")) || i < 2) {
        return false;
    }
    times.lastData = events[i - 2].first;
    if (!next(starts(">"))) {
        return false;
    }
    times.answer = events[i].first;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const bool network = bench::TakeLeadingFlag(argc, argv, "--ser2net");
    const std::size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 1;
    const int delayMs = argc > 3 ? std::atoi(argv[3]) : 100;
    const long baud = argc > 4 ? std::atol(argv[4]) : 115200;
    if (kib == 0 || runs <= 0 || delayMs < 0 || baud < 50 || baud > 4000000) {
        std::fprintf(stderr, "usage: upload_bench [--ser2net] [KiB > 0] [runs > 0] [Delay ms >= 0] "
                             "[baud 50..4000000]\n");
        return 2;
    }
    const double goal = network || baud > 115200 ? 1.02 : 1.05;
    const std::vector<long> sixRates = {1200, 9600, 19200, 38400, 57600, 115200};
    const bool sixRate = std::find(sixRates.begin(), sixRates.end(), baud) != sixRates.end();
    const IniEntry rateEntry = sixRate
                                   ? IniEntry{"RS232Settings", "Baud Rate", std::to_string(baud)}
                                   : IniEntry{"Line", "Baud Rate", std::to_string(baud)};

    const e2e::Bytes data = e2e::AllByteValues(kib * 1024);
    const std::string address = "00040000";
    const std::string version = "1.0";
    // What crosses the line, in order: the command and its answer, the header and the data,
    // the verifying CR and its answer.
    const std::string command = "UL\r";
    const std::size_t lineBytes =
        command.size() + 1 + HeaderOf(data, address, version).size() + data.size() + 1 + 1;
    const double lineSeconds = static_cast<double>(lineBytes) * 10.0 / baud;
    const double delaySeconds = delayMs / 1000.0; // Delay; no _LP, so no post delay
    const double expected = lineSeconds + delaySeconds;

    std::printf("upload of %zu KiB through pellwick-run at %ld baud (emulated), Delay %d ms%s\n",
                kib, baud, delayMs, network ? ", through ser2net (RFC 2217)" : "");
    std::printf("line bytes %zu -> line-rate time %.3f s; + delays %.3f s = %.3f s\n", lineBytes,
                lineSeconds, delaySeconds, expected);

    // Header, data, verifying CR and the one-byte answer, as the device sees them.
    const std::size_t uploadBytes = HeaderOf(data, address, version).size() + data.size() + 1 + 1;
    const double uploadExpected = static_cast<double>(uploadBytes) * 10.0 / baud + delaySeconds;
    const double dataSeconds = static_cast<double>(data.size()) * 10.0 / baud;

    std::vector<double> ratios;
    std::vector<double> uploadRatios;
    std::vector<double> dataRatios;
    for (int run = 0; run < runs; ++run) {
        DevsimHarness device;
        const std::string store = device.File("store");
        std::filesystem::create_directory(store);
        const std::string transcript = device.File("transcript.txt");
        if (!device.StartProcess(
                {"--baud", std::to_string(baud), "--store", store, "--transcript", transcript})) {
            std::fprintf(stderr, "simulator: %s\n", device.Error().c_str());
            return 1;
        }
        device.WriteLoaderIni(1,
                              {{"Upload Settings", "Delay", std::to_string(delayMs)}, rateEntry});
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
        DeviceTimes times;
        if (!ReadDeviceTimes(transcript, times)) {
            std::fprintf(stderr, "the transcript %s lacks the upload's events\n",
                         transcript.c_str());
            return 1;
        }
        const double ratio = wall / expected;
        ratios.push_back(ratio);
        uploadRatios.push_back((times.answer - times.header) / uploadExpected);
        dataRatios.push_back((times.lastData - times.firstData) / dataSeconds);
        std::printf("run %d: wall %.3f s, ratio %.4f; device: upload %.3f s, ratio %.4f; data %.3f "
                    "s, ratio %.4f\n",
                    run + 1, wall, ratio, times.answer - times.header, uploadRatios.back(),
                    times.lastData - times.firstData, dataRatios.back());
    }
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    std::printf("device: upload %.3f s at line rate plus Delay, median ratio %.4f; data %.3f s at "
                "line rate, median ratio %.4f\n",
                uploadExpected, median(uploadRatios), dataSeconds, median(dataRatios));
    // On a fast line the run's fixed costs outweigh the 2 % of a short transfer: the script's
    // lines go one per 10 ms tick (six ticks here) and the process starts and ends. There the
    // goal is the upload itself, from its header to the verdict; the whole run is shown beside.
    const bool uploadGoal = !network && baud > 115200;
    const double runMedian = median(ratios);
    const double judged = uploadGoal ? median(uploadRatios) : runMedian;
    std::printf("median ratio %.4f%s; %s %.4f (goal <= %.2f): %s\n", runMedian,
                uploadGoal ? " (whole run, start to exit)" : "",
                uploadGoal ? "upload, header to verdict" : "judged", judged, goal,
                judged <= goal ? "met" : "MISSED");
    return judged <= goal ? 0 : 3;
}
