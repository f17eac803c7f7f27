// Fault soak of the upload verdict: many uploads through pellwick-run against the device
// simulator, each with a fault drawn at random, each classified by what the device really
// stored. A run that reports success for a file the device did not keep is a false success; a
// run that reports failure for a file the device kept intact is a false failure. Goal: none of
// either, every run over within 30 s. Prints a table per fault and the time from the device's
// hang-up to the upload-error report.
// Usage: upload_fault_soak [runs, default 500] [seed, default from the clock]
// Exit status: 0 when the goal was met, 1 when it was not, 2 for a bad command line or a run
// that could not be set up.
#include "e2e/RunnerProcess.h"
#include "e2e/UploadFiles.h"
#include "support/DevsimHarness.h"
#include "support/WaitUntil.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace pellwick;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

enum class Fault {
    None,
    RefuseOnce,
    RefuseSticky,
    Corrupt,
    Drop,
    Noise,
    NoiseBeforeRefusal,
    SplitErrorMidTransfer,
    SplitRefusal,
    HangUpInHeader,
    HangUpInTransfer,
    HangUpBeforeVerification,
    HangUpInVerification,
    Silence,
    Cancel,
};

// Every fault with its name in the figures; the draws pick from it by position, the table lists
// the faults in its order.
constexpr struct {
    Fault fault;
    const char* name;
} Faults[] = {
    {Fault::None, "none"},
    {Fault::RefuseOnce, "refuse once"},
    {Fault::RefuseSticky, "refuse sticky"},
    {Fault::Corrupt, "corrupt a byte"},
    {Fault::Drop, "drop a byte"},
    {Fault::Noise, "noise burst"},
    {Fault::NoiseBeforeRefusal, "noise + refusal"},
    {Fault::SplitErrorMidTransfer, "split error, transfer"},
    {Fault::SplitRefusal, "split error, verify"},
    {Fault::HangUpInHeader, "hang-up, header"},
    {Fault::HangUpInTransfer, "hang-up, transfer"},
    {Fault::HangUpBeforeVerification, "hang-up, before verify"},
    {Fault::HangUpInVerification, "hang-up, verifying CR"},
    {Fault::Silence, "silence"},
    {Fault::Cancel, "cancel"},
};

const char* NameOf(Fault fault) {
    for (const auto& entry : Faults) {
        if (entry.fault == fault) {
            return entry.name;
        }
    }
    return "?";
}

struct Tally {
    int runs = 0;
    int goodSuccess = 0;
    int goodFailure = 0;
    int falseSuccess = 0;
    int falseFailure = 0;
    int overtime = 0; // not over within 30 s
    int odd = 0;      // an exit status that is neither success nor an upload failure
    double maxSeconds = 0;
};

constexpr auto RunLimit = 30s;
const std::string Address = "00080000";
const std::string Version = "3";
const std::string Command = "UL\r";
constexpr const char* ReportText = "[Error] Upload error encountered";

struct Outcome {
    int status = -1;
    bool stored = false;
    double seconds = 0;
    std::optional<double> hangUpToReportMs;
    std::string output;
};

bool RunOne(Fault fault, std::mt19937& random, Outcome& outcome) {
    const bool cancel = fault == Fault::Cancel;
    const std::size_t size = cancel ? 64 * 1024 : 512 + random() % (16 * 1024);
    e2e::Bytes data(size);
    for (auto& b : data) {
        b = static_cast<std::uint8_t>(random());
    }
    const std::string header = "LF " + Address + " " + std::to_string(size) + " " +
                               e2e::Checksum16(data) + " " + Version + "\r";
    const std::int64_t dataStart = static_cast<std::int64_t>(Command.size() + header.size());
    const auto offset = static_cast<std::int64_t>(random() % size);

    DeviceConfig config;
    switch (fault) {
    case Fault::None:
        break;
    case Fault::RefuseOnce:
        config.refuseVerify = true;
        config.forgetRefusal = true;
        break;
    case Fault::RefuseSticky:
        config.refuseVerify = true;
        break;
    case Fault::Corrupt:
        config.corruptAt = offset;
        break;
    case Fault::Drop:
        config.dropAt = offset;
        break;
    case Fault::Noise:
        config.noiseAfterData = 4096;
        break;
    case Fault::NoiseBeforeRefusal:
        config.corruptAt = offset;
        config.forgetRefusal = true;
        config.noiseAfterData = 4096;
        break;
    case Fault::SplitErrorMidTransfer:
        config.errAfter = offset + 1;
        config.splitErrorMs = 100 + random() % 400;
        break;
    case Fault::SplitRefusal:
        config.refuseVerify = true;
        config.forgetRefusal = true;
        config.splitErrorMs = 100 + random() % 400;
        break;
    case Fault::HangUpInHeader:
        config.hangupAfter = static_cast<std::int64_t>(Command.size()) + 1 +
                             static_cast<std::int64_t>(random() % (header.size() - 1));
        break;
    case Fault::HangUpInTransfer:
        config.hangupAfter = dataStart + std::max<std::int64_t>(offset, 1);
        break;
    case Fault::HangUpBeforeVerification:
        config.hangupAfter = dataStart + static_cast<std::int64_t>(size);
        break;
    case Fault::HangUpInVerification:
        // On the verifying CR: the device may keep the file but hangs up before it answers.
        config.hangupAfter = dataStart + static_cast<std::int64_t>(size) + 1;
        break;
    case Fault::Silence:
        // A dead device: it answers nothing and keeps nothing.
        config.silent = true;
        break;
    case Fault::Cancel:
        config.baud = 115200;
        break;
    }

    DevsimHarness device;
    std::filesystem::create_directory(device.File("store"));
    if (fault != Fault::Silence) {
        config.storeDir = device.File("store");
    }
    if (!device.StartInProcess(config) ||
        device.WriteLoaderIni(1, {{"Upload Settings", "Delay", "20"}}).empty() ||
        !e2e::WriteFile(device.File("a.bin"), data) ||
        !e2e::WriteText(device.File("test.sld"), "_SC \"UL^M\"\n_LA " + Address + "\n_LV " +
                                                     Version + "\n_LF a.bin\n_LD\n")) {
        std::fprintf(stderr, "cannot set up a run: %s\n", device.Error().c_str());
        return false;
    }

    RunnerProcess runner;
    const auto start = Clock::now();
    const auto left = [&] {
        return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                            RunLimit - (Clock::now() - start)),
                        std::chrono::milliseconds(1));
    };
    if (!runner.Start(device.Folder(), {"test.sld"})) {
        std::fprintf(stderr, "cannot start pellwick-run: %s\n", runner.Error().c_str());
        return false;
    }
    if (cancel) {
        (void)test::WaitUntil(
            [&] {
                return device.Server()->BytesReceived() >=
                       static_cast<std::uint64_t>(dataStart + 4096);
            },
            left());
        runner.Signal(SIGINT);
    }
    if (config.hangupAfter >= 0 && runner.WaitForOutput(ReportText, RunLimit)) {
        const auto reported = Clock::now();
        if (const auto hungUp = device.Server()->HungUpAt()) {
            outcome.hangUpToReportMs =
                std::chrono::duration<double, std::milli>(reported - *hungUp).count();
        }
    }
    outcome.status = runner.Wait(left());
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    outcome.output = runner.Output();
    const std::string storedPath = device.File("store/" + Address + ".bin");
    // A file kept by a device that hung up before its answer was never confirmed: no tool can
    // know it arrived, so it counts as not delivered.
    outcome.stored = fault != Fault::HangUpInVerification && std::filesystem::exists(storedPath) &&
                     e2e::ReadFile(storedPath) == data;
    device.Stop();
    return true;
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    const long runs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 500;
    const unsigned long seed =
        argc > 2 ? std::strtoul(argv[2], nullptr, 10)
                 : static_cast<unsigned long>(Clock::now().time_since_epoch().count());
    if (runs <= 0 || argc > 3) {
        std::fprintf(stderr, "usage: upload_fault_soak [runs > 0] [seed]\n");
        return 2;
    }
    std::printf("fault soak: %ld uploads through pellwick-run, seed %lu\n", runs, seed);
    std::fflush(stdout);
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
    std::map<Fault, Tally> table;
    std::vector<double> hangUpMs;
    for (long run = 0; run < runs; ++run) {
        const Fault fault = Faults[random() % std::size(Faults)].fault;
        Outcome outcome;
        if (!RunOne(fault, random, outcome)) {
            return 2;
        }
        Tally& tally = table[fault];
        ++tally.runs;
        tally.maxSeconds = std::max(tally.maxSeconds, outcome.seconds);
        const char* verdict = nullptr;
        if (outcome.status == -2 || outcome.seconds > 30.0) {
            ++tally.overtime;
            verdict = "OVERTIME";
        } else if (outcome.status == 0) {
            outcome.stored ? ++tally.goodSuccess : ++tally.falseSuccess;
            verdict = outcome.stored ? nullptr : "FALSE SUCCESS";
        } else if (outcome.status == 3) {
            outcome.stored ? ++tally.falseFailure : ++tally.goodFailure;
            verdict = outcome.stored ? "FALSE FAILURE" : nullptr;
        } else {
            ++tally.odd;
            verdict = "ODD EXIT STATUS";
        }
        if (outcome.hangUpToReportMs) {
            hangUpMs.push_back(*outcome.hangUpToReportMs);
        }
        if (verdict != nullptr) {
            std::printf("run %ld (%s): %s, exit %d, %.1f s\n%s\n", run + 1, NameOf(fault), verdict,
                        outcome.status, outcome.seconds, outcome.output.c_str());
        }
        if ((run + 1) % 50 == 0) {
            std::printf("... %ld runs\n", run + 1);
        }
        std::fflush(stdout);
    }

    std::printf("\n%-24s %5s %8s %8s %9s %9s %8s %5s %7s\n", "fault", "runs", "success", "failure",
                "false-ok", "false-err", ">30 s", "odd", "max s");
    Tally total;
    for (const auto& [fault, name] : Faults) {
        const Tally& t = table[fault];
        std::printf("%-24s %5d %8d %8d %9d %9d %8d %5d %7.1f\n", name, t.runs, t.goodSuccess,
                    t.goodFailure, t.falseSuccess, t.falseFailure, t.overtime, t.odd, t.maxSeconds);
        total.runs += t.runs;
        total.goodSuccess += t.goodSuccess;
        total.goodFailure += t.goodFailure;
        total.falseSuccess += t.falseSuccess;
        total.falseFailure += t.falseFailure;
        total.overtime += t.overtime;
        total.odd += t.odd;
        total.maxSeconds = std::max(total.maxSeconds, t.maxSeconds);
    }
    std::printf("%-24s %5d %8d %8d %9d %9d %8d %5d %7.1f\n", "all", total.runs, total.goodSuccess,
                total.goodFailure, total.falseSuccess, total.falseFailure, total.overtime,
                total.odd, total.maxSeconds);
    const auto longest =
        hangUpMs.empty() ? 0.0 : *std::max_element(hangUpMs.begin(), hangUpMs.end());
    std::printf("hang-up to upload-error report: %zu runs, median %.0f ms, max %.0f ms\n",
                hangUpMs.size(), Median(hangUpMs), longest);
    const bool met =
        total.falseSuccess == 0 && total.falseFailure == 0 && total.overtime == 0 && total.odd == 0;
    std::printf("goal (0 false successes, 0 false failures, every run within 30 s): %s\n",
                met ? "met" : "NOT met");
    return met ? 0 : 1;
}
