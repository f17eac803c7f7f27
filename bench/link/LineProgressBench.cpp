// What the operator is shown against what the line has carried: one upload through the link,
// the port component and a pseudo-terminal to the device simulator, which takes the bytes at
// the emulated line rate. Every half second it prints the device's count (the truth), the
// share handed to the program's buffer (the old gauge) and the share on the line from the
// transfer's progress (the gauge now). At the end: when the link's drain notice came and how
// much the kernel still held then, the largest gap between gauge and device, and the speed
// from the progress's time beside the speed from the buffers' time.
// Usage: line_progress_bench [bytes, default 40000] [baud, default 9600]
#include "support/BenchPort.h"
#include "support/DevsimHarness.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <tuple>

using namespace pellwick;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::size_t size = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 40000;
    const auto baud =
        static_cast<std::uint32_t>(argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 9600);
    if (size == 0 || baud == 0) {
        std::fprintf(stderr, "usage: line_progress_bench [bytes] [baud]\n");
        return 1;
    }
    DevsimHarness device;
    DeviceConfig config;
    config.baud = baud;
    if (!device.StartInProcess(config)) {
        std::fprintf(stderr, "simulator: %s\n", device.Error().c_str());
        return 1;
    }
    bench::BenchLink setup(device.SlavePath());
    if (!setup.OpenForUpload(static_cast<std::int32_t>(baud))) {
        return 1;
    }
    LinkOperations& link = setup.Link();
    const bench::EndHost& host = setup.Host();
    const std::vector<std::uint8_t> data(size, 0x55);
    char header[96];
    std::snprintf(header, sizeof header, "LF 00020000 %zu %04X 1.0\r", size,
                  static_cast<unsigned>(0x55 * size) & 0xFFFFu);
    link.SendDataString(header);
    // The header reaches the device first; the transfer's count starts after it.
    const std::uint64_t before = device.Server()->BytesReceived() + std::strlen(header);
    const double lineRate = baud / 10.0;
    const double wireSeconds = static_cast<double>(size) / lineRate;
    std::printf("%zu bytes at %u baud (%.0f bytes/s): %.1f s on the line\n", size, baud, lineRate,
                wireSeconds);
    std::printf("  time  device  queued (old gauge)  handed to driver  on-line (gauge)\n");

    const auto start = Clock::now();
    link.SendBuffer(data.data(), static_cast<std::uint32_t>(size));
    double drainAt = -1;
    std::uint64_t deviceAtDrain = 0;
    std::int64_t handedAtDrain = 0;
    double worstGap = 0;
    double halfGauge = -1, halfDevice = -1;
    auto sample = [&] {
        const std::uint64_t now = device.Server()->BytesReceived();
        const std::uint64_t got = now > before ? now - before : 0;
        const TransferProgress progress = link.Progress();
        const LinkState& state = link.State();
        const double deviceShare = 100.0 * static_cast<double>(got) / static_cast<double>(size);
        const double oldGauge =
            100.0 * (state.BlockTotal - state.BlockRemaining) / state.BlockTotal;
        worstGap = std::max(worstGap, std::fabs(progress.OnLinePercent() - deviceShare));
        if (host.ended && drainAt < 0) {
            drainAt = Since(start);
            deviceAtDrain = got;
            handedAtDrain = progress.Handed;
        }
        if (halfGauge < 0 && Since(start) >= wireSeconds / 2) {
            halfGauge = progress.OnLinePercent();
            halfDevice = deviceShare;
        }
        return std::make_tuple(got, oldGauge, progress.OnLinePercent(),
                               100.0 * static_cast<double>(progress.Handed) /
                                   static_cast<double>(size));
    };
    QEventLoop loop;
    QTimer fine;   // samples for the figures
    QTimer coarse; // prints
    QObject::connect(&fine, &QTimer::timeout, [&] {
        const auto [got, oldGauge, gauge, handed] = sample();
        (void)oldGauge;
        (void)handed;
        if (host.error || (host.ended && got >= size && gauge == 100)) {
            loop.quit();
        }
    });
    QObject::connect(&coarse, &QTimer::timeout, [&] {
        const auto [got, oldGauge, gauge, handed] = sample();
        std::printf("%6.1f  %5.1f%%  %17.1f%%  %15.1f%%  %14d%%\n", Since(start),
                    100.0 * static_cast<double>(got) / static_cast<double>(size), oldGauge, handed,
                    gauge);
    });
    fine.start(20);
    coarse.start(1000);
    QTimer::singleShot(static_cast<int>(wireSeconds * 3000 + 30000), &loop, &QEventLoop::quit);
    loop.exec();
    if (host.error || drainAt < 0) {
        std::fprintf(stderr, "the transfer did not end cleanly\n");
        return 1;
    }
    const TransferProgress end = link.Progress();
    std::printf("drain notice at %.2f s: device had %llu bytes, the kernel held about %lld "
                "(%.1f s of line)\n",
                drainAt, static_cast<unsigned long long>(deviceAtDrain),
                static_cast<long long>(handedAtDrain - static_cast<std::int64_t>(deviceAtDrain)),
                static_cast<double>(handedAtDrain - static_cast<std::int64_t>(deviceAtDrain)) /
                    lineRate);
    std::printf("at half the wire time: gauge %.0f %%, device %.1f %%\n", halfGauge, halfDevice);
    std::printf("largest gap between gauge and device: %.1f points\n", worstGap);
    std::printf("speed from the transfer's time: %lld bytes / %.2f s = %.1f bytes/s "
                "(%.1f %% of the line rate)\n",
                static_cast<long long>(end.Handed), end.Seconds,
                static_cast<double>(end.Handed) / end.Seconds,
                100.0 * static_cast<double>(end.Handed) / end.Seconds / lineRate);
    std::printf("speed from start to drain notice: %.0f bytes/s\n",
                static_cast<double>(size) / drainAt);
    link.CloseAndDropTriggers();
    device.Stop();
    return 0;
}
