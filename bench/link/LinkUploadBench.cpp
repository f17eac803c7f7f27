// Figures of the link against the device simulator program on a pseudo-terminal:
//   1. upload rate of SendBuffer at the simulator's emulated 115200 baud, as a share of the
//      line rate (11520 bytes/s at 10 bits a byte), and the CPU it costs this process;
//   2. the same upload on an unpaced line;
//   3. how long SendDataString's longest wait for room (its 15000 rounds of event
//      processing) lasts, and its CPU use.
// Usage: link_upload_bench [kibibytes for 1, default 256]
#include "link/ComPortLink.h"
#include "link/LinkOperations.h"
#include "serial/TVaxoCustomComPort.h"
#include "serial/portmap/PortMap.h"
#include "support/DevsimHarness.h"
#include "support/ScriptedBoxes.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sys/resource.h>

using namespace pellwick;
using Clock = std::chrono::steady_clock;

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class Host : public ILinkHost {
public:
    void SetScriptError() override { error = true; }
    void SetULError() override { error = true; }
    void EnableScriptTimer() override { ended = true; }
    void SetUploadGauge(int) override {}
    void SetComBtnState(bool) override {}
    bool ended = false;
    bool error = false;
};

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
    const ScopedHook<std::shared_ptr<const PortMap>> portMap{
        PortMap::GlobalHook(),
        std::make_shared<PortMap>(std::map<int, std::string>{{1, device.SlavePath()}})};
    TVaxoComPort port;
    port.SetAutoOpen(false);
    port.SetPromptForPort(false);
    ComPortLink portLink(port);
    test::ScriptedBoxes boxes{test::Unscripted::PressFirstButton};
    boxes.OnShow = [](const test::BoxCall& box) {
        std::fprintf(stderr, "message box: %s\n", box.Text.c_str());
    };
    Host host;
    LinkOperations link(portLink, boxes);
    link.SetHost(&host);
    Rs232Settings settings;
    settings.BaudRate = 115200;
    settings.UseRts = false; // a pseudo-terminal has no modem lines
    settings.RequireCts = false;
    if (!link.OpenWithSettings(settings, LinkSettings{}))
        return result;

    link.SetUploadMode(true);
    std::string answer;
    link.SendInitCmd("UL\r", answer);
    if (answer != "OK") {
        std::fprintf(stderr, "no upload prompt: %s\n", answer.c_str());
        return result;
    }
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
    const ScopedHook<std::shared_ptr<const PortMap>> portMap{
        PortMap::GlobalHook(),
        std::make_shared<PortMap>(std::map<int, std::string>{{1, device.SlavePath()}})};
    TVaxoComPort port;
    port.SetAutoOpen(false);
    port.SetPromptForPort(false);
    port.SetComNumber(1);
    port.SetOpen(true);
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
