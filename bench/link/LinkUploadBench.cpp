// Figures of the link against the device simulator program on a pseudo-terminal:
//   1. upload rate of SendBuffer at the simulator's emulated 115200 baud, as a share of the
//      line rate (11520 bytes/s at 10 bits a byte), and the CPU it costs this process;
//   2. the same upload on an unpaced line;
//   3. how long SendDataString's longest wait for room (its 15000 rounds of event
//      processing) lasts, and its CPU use.
// Usage: link_upload_bench [kibibytes for 1, default 256]
#include "support/BenchFigures.h"
#include "support/BenchPort.h"
#include "support/DevsimHarness.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>

using namespace pellwick;
using bench::CpuSeconds;
using Clock = std::chrono::steady_clock;

namespace {

struct Result {
    bool ok = false;
    double seconds = 0;
    double cpu = 0;
};

// One upload of `size` bytes: from handing the buffer over until the device has verified it.
Result Upload(const std::vector<std::string>& simulatorArgs, std::size_t size) {
    Result result;
    DevsimHarness device;
    if (!device.StartProcess(simulatorArgs)) {
        std::fprintf(stderr, "simulator: %s\n", device.Error().c_str());
        return result;
    }
    bench::BenchLink setup(device.SlavePath());
    if (!setup.OpenForUpload(115200))
        return result;
    LinkOperations& link = setup.Link();
    const bench::EndHost& host = setup.Host();
    std::vector<std::uint8_t> data(size);
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7 + 3);
        sum += data[i];
    }
    char header[96];
    std::snprintf(header, sizeof header, "LF 00020000 %zu %04X 1.0\r", size, sum & 0xFFFFu);
    link.SendDataString(header);

    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    link.SendBuffer(data.data(), static_cast<std::uint32_t>(size));
    // Sleeps until an event comes; the timer only bounds the wait.
    QEventLoop loop;
    QTimer tick;
    tick.start(100);
    const auto deadline = start + std::chrono::seconds(600);
    while (!host.ended && !host.error && Clock::now() < deadline)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    if (host.ended) {
        std::string answer;
        link.SendInitCmd("\r", answer); // answered once the device has taken every byte
        result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        result.cpu = CpuSeconds() - cpu0;
        result.ok = answer == "OK";
    }
    link.CloseAndDropTriggers();
    device.Stop();
    return result;
}

void PacingWait() {
    DevsimHarness device;
    if (!device.StartProcess({}))
        return;
    bench::MappedPort mapped(device.SlavePath());
    mapped.OpenCom1();
    TVaxoComPort& port = mapped.Port();
    // The loop body of a wait that never finds room: ask for room, process events.
    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    std::uint32_t sink = 0;
    for (int round = 0; round < LinkOperations::PacingRounds; ++round) {
        sink += port.OutputRoom();
        QCoreApplication::processEvents();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("3. longest wait for room: %d rounds in %.1f ms, CPU %.1f ms (%u)\n",
                LinkOperations::PacingRounds, seconds * 1000, (CpuSeconds() - cpu0) * 1000,
                sink & 1);
    port.SetOpen(false);
    device.Stop();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const std::size_t size = kib * 1024;

    const Result paced = Upload({"--baud", "115200"}, size);
    if (!paced.ok) {
        std::fprintf(stderr, "paced upload failed\n");
        return 1;
    }
    const double lineRate = 115200.0 / 10;
    const double rate = static_cast<double>(size) / paced.seconds;
    std::printf("1. %zu KiB at 115200 baud: %.2f s, %.0f bytes/s = %.3f of line rate, "
                "CPU %.2f s (%.1f%% of one core)\n",
                kib, paced.seconds, rate, rate / lineRate, paced.cpu,
                100 * paced.cpu / paced.seconds);

    const Result fast = Upload({}, size);
    if (!fast.ok) {
        std::fprintf(stderr, "unpaced upload failed\n");
        return 1;
    }
    std::printf("2. %zu KiB unpaced: %.3f s, %.0f KiB/s, CPU %.2f s\n", kib, fast.seconds,
                static_cast<double>(kib) / fast.seconds, fast.cpu);
    PacingWait();
    return 0;
}
