// Figures of the serial engine on real pseudo-terminals:
//   throughput  16 MiB each way through the engine's rings and workers, against plain
//               write/read on the same kind of pair (medians of five runs);
//   receive     the engine's receive direction alone, five runs (for profiling it);
//   idle        CPU time one open, idle port costs over 10 s;
//   latency     time from a peer's 2-byte write until the data-trigger handler runs on the
//               (stand-in) GUI thread, 1000 rounds;
//   latency-net the same through ser2net on 127.0.0.1 (RFC 2217) in front of the
//               pseudo-terminal: the port opened as rfc2217://127.0.0.1:PORT;
//   paced       50-byte blocks driven by a self re-arming output-free trigger into a peer that
//               reads at 115200 baud for 10 s, and 1 MiB into a peer that reads at once.
// Usage: serial_engine_bench [throughput|receive|idle|latency|latency-net|paced ...] (default:
// all but receive and latency-net)
#include "SerialTestSupport.h"
#include "devsim/LinePacer.h"
#include "serial/TVaxoWin32Dispatcher.h"
#include "support/PtyPair.h"
#include "support/Ser2netServer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace pellwick;
using namespace pellwick::test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::uint32_t kOutSize = 16384; // the program's output ring

double Seconds(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::vector<std::uint8_t> Pattern(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<std::uint8_t>(i * 167 + (i >> 9));
    }
    return v;
}

std::unique_ptr<TVaxoWin32Dispatcher> OpenOn(const std::string& path) {
    auto d = std::make_unique<TVaxoWin32Dispatcher>(nullptr);
    int r = d->OpenDevice(path, 115200, 0, 8, 1, 4096, kOutSize, true, true);
    if (r != 0) {
        std::fprintf(stderr, "OpenDevice failed: %d\n", r);
        std::exit(1);
    }
    return d;
}

// Reads count bytes from fd (non-blocking) and checks them against want.
bool ReadAll(int fd, const std::vector<std::uint8_t>& want) {
    std::vector<std::uint8_t> buf(65536);
    std::size_t done = 0;
    bool same = true;
    while (done < want.size()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0) {
            return false;
        }
        ssize_t n = read(fd, buf.data(), std::min(buf.size(), want.size() - done));
        if (n <= 0) {
            if (n < 0 && errno == EAGAIN) {
                continue;
            }
            return false;
        }
        same = same && std::memcmp(buf.data(), &want[done], static_cast<std::size_t>(n)) == 0;
        done += static_cast<std::size_t>(n);
    }
    return same;
}

void WriteAll(int fd, const std::vector<std::uint8_t>& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, &data[done], std::min<std::size_t>(65536, data.size() - done));
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

// ------------------------------------------------------------------------------------------

struct Rates {
    double out, in; // bytes per second
};

// Bytes per second from the engine to a peer that reads at once.
double EngineSend(TVaxoWin32Dispatcher& d, const PtyPair& pty,
                  const std::vector<std::uint8_t>& data) {
    bool ok = false;
    std::thread peer([&] { ok = ReadAll(pty.Master(), data); });
    auto t0 = Clock::now();
    std::size_t done = 0;
    while (done < data.size()) {
        auto n = static_cast<std::uint32_t>(
            std::min<std::size_t>({d.OutputFree(), 4096, data.size() - done}));
        if (n == 0 || d.QueueBlock(&data[done], n) != 0) {
            // A full ring drains in a few hundred microseconds at these rates: look again
            // soon, so that the producer is not what limits the figure.
            std::this_thread::sleep_for(std::chrono::microseconds(20));
            continue;
        }
        done += n;
    }
    peer.join();
    if (!ok) {
        std::printf("  engine -> peer: bytes differ\n");
    }
    return static_cast<double>(data.size()) / Seconds(t0);
}

// Bytes per second from a peer that writes at once into the engine. The bytes are taken by the
// handler of the availability notice, as the terminal does.
double EngineReceive(TVaxoWin32Dispatcher& d, const PtyPair& pty,
                     const std::vector<std::uint8_t>& data) {
    FakeGuiWindow gui;
    d.AttachWindowHandler(&gui);
    d.RecountHandlers(1);
    d.SetAvailThreshold(1);
    std::atomic<std::size_t> done{0};
    bool same = true;
    std::vector<std::uint8_t> buf(InputRingSize);
    gui.SetHandler([&](const Notification& n) {
        if (n.msg != MsgTriggerAvail || d.TakeBlock(buf.data(), n.wParam) < 0) {
            return;
        }
        std::size_t at = done.load();
        same = same && std::memcmp(buf.data(), &data[at], n.wParam) == 0;
        done = at + n.wParam;
    });
    auto t0 = Clock::now();
    std::thread peer([&] { WriteAll(pty.Master(), data); });
    WaitUntil([&] { return done.load() >= data.size(); }, 120000);
    const double rate = static_cast<double>(done.load()) / Seconds(t0);
    peer.join();
    gui.SetHandler(nullptr);
    gui.RunOnGui([] {});
    if (!same || done.load() != data.size()) {
        std::printf("  peer -> engine: bytes differ\n");
    }
    d.DetachWindowHandler(&gui);
    d.RecountHandlers(2);
    return rate;
}

Rates EngineThroughput(const std::vector<std::uint8_t>& data) {
    PtyPair pty;
    auto d = OpenOn(pty.SlavePath());
    Rates r{};
    r.out = EngineSend(*d, pty, data);
    r.in = EngineReceive(*d, pty, data);
    d->CloseDevice();
    return r;
}

Rates PlainThroughput(const std::vector<std::uint8_t>& data) {
    PtyPair pty;
    const int master = pty.Master();
    const int slave = pty.Slave();
    fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
    Rates r{};
    {
        std::thread peer([&] { ReadAll(master, data); });
        auto t0 = Clock::now();
        WriteAll(slave, data);
        peer.join();
        r.out = static_cast<double>(data.size()) / Seconds(t0);
    }
    {
        std::thread peer([&] { WriteAll(master, data); });
        auto t0 = Clock::now();
        ReadAll(slave, data);
        r.in = static_cast<double>(data.size()) / Seconds(t0);
        peer.join();
    }
    return r;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Five alternating runs of each path; single runs on a shared machine vary too much to compare.
void Throughput() {
    constexpr int kRuns = 5;
    const auto data = Pattern(16 * kMiB);
    std::vector<double> plainOut, plainIn, engineOut, engineIn;
    for (int run = 0; run < kRuns; ++run) {
        const Rates plain = PlainThroughput(data);
        const Rates engine = EngineThroughput(data);
        plainOut.push_back(plain.out);
        plainIn.push_back(plain.in);
        engineOut.push_back(engine.out);
        engineIn.push_back(engine.in);
    }
    std::printf("throughput, 16 MiB each way through a pseudo-terminal pair, medians of %d runs\n",
                kRuns);
    const double eo = Median(engineOut), po = Median(plainOut);
    const double ei = Median(engineIn), pi = Median(plainIn);
    std::printf("  out: engine %.1f MB/s, plain %.1f MB/s, ratio %.2f\n", eo / 1e6, po / 1e6,
                eo / po);
    std::printf("  in:  engine %.1f MB/s, plain %.1f MB/s, ratio %.2f\n", ei / 1e6, pi / 1e6,
                ei / pi);
}

// ------------------------------------------------------------------------------------------

void Idle() {
    PtyPair pty;
    FakeGuiWindow gui;
    auto d = OpenOn(pty.SlavePath());
    d->AttachWindowHandler(&gui);
    d->RecountHandlers(1);
    d->AddDataMatchTrigger(">", 1, false); // as an idle link would have
    const double wall = 10.0;
    double cpu0 = ProcessCpuSeconds();
    auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(wall));
    double cpu = ProcessCpuSeconds() - cpu0;
    double elapsed = Seconds(t0);
    d->CloseDevice();
    std::printf("idle port, %.1f s: %.1f ms CPU, %.3f %% of one core\n", elapsed, cpu * 1e3,
                100.0 * cpu / elapsed);
}

// ------------------------------------------------------------------------------------------

// network: the port is the pseudo-terminal as ser2net serves it over RFC 2217.
void Latency(bool network) {
    PtyPair pty;
    Ser2netServer server;
    if (network &&
        !server.Start({pty.SlavePath()}, Ser2netServer::Protocol::Rfc2217, "115200n81")) {
        std::printf("latency-net: %s\n", server.Error().c_str());
        return;
    }
    FakeGuiWindow gui;
    auto d = OpenOn(network ? server.Address() : pty.SlavePath());
    d->AttachWindowHandler(&gui);
    d->RecountHandlers(1);
    const auto handle = static_cast<std::uint32_t>(d->AddDataMatchTrigger("OK", 2, false));
    std::atomic<std::int64_t> ranAt{0};
    gui.SetHandler([&](const Notification& n) {
        if (n.msg == MsgTriggerData && n.wParam == handle) {
            ranAt = Clock::now().time_since_epoch().count();
        }
    });
    constexpr int kRounds = 1000;
    std::vector<double> us;
    us.reserve(kRounds);
    for (int i = 0; i < kRounds; ++i) {
        ranAt = 0;
        auto t0 = Clock::now();
        pty.Write("OK");
        if (!WaitUntil([&] { return ranAt.load() != 0; }, 5000)) {
            std::printf("latency: round %d lost\n", i);
            break;
        }
        Clock::time_point t1{Clock::duration(ranAt.load())};
        us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        d->ClearInput();
    }
    gui.SetHandler(nullptr);
    gui.RunOnGui([] {});
    d->CloseDevice();
    std::sort(us.begin(), us.end());
    if (us.empty()) {
        return;
    }
    std::printf("data-trigger latency%s, %zu rounds: median %.0f us, 99th percentile %.0f us, "
                "max %.0f us\n",
                network ? " through ser2net" : "", us.size(), us[us.size() / 2],
                us[us.size() * 99 / 100], us.back());
}

// ------------------------------------------------------------------------------------------

// Queues `total` bytes in 50-byte blocks from the handler of an output-free trigger that the
// handler re-arms, while a peer reads them at `baud` (0: as fast as it can). Returns the rate
// the peer saw, in bytes per second, over at most `seconds`.
double PacedUpload(std::uint32_t baud, std::size_t total, double seconds) {
    constexpr std::uint32_t kBlock = 50;
    PtyPair pty;
    FakeGuiWindow gui;
    auto d = OpenOn(pty.SlavePath());
    d->AttachWindowHandler(&gui);
    d->RecountHandlers(1);
    const auto h = static_cast<std::uint32_t>(d->AddStatusWatch(skOutputFree));
    const auto data = Pattern(total);
    std::atomic<std::size_t> queued{0};
    std::atomic<bool> stop{false};
    gui.SetHandler([&](const Notification& n) {
        if (n.msg != MsgTriggerStatus || stop) {
            return;
        }
        std::size_t at = queued.load();
        auto count = static_cast<std::uint32_t>(std::min<std::size_t>(kBlock, total - at));
        if (count == 0 || d->QueueBlock(&data[at], count) != 0) {
            return;
        }
        queued = at + count;
        if (queued.load() < total) {
            d->ArmStatusWatch(h, kBlock, true);
        }
    });
    std::size_t got = 0;
    double elapsed = 0;
    std::thread peer([&] {
        auto start = Clock::now();
        LinePacer pacer(baud, 64, start);
        std::vector<std::uint8_t> buf(65536);
        auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(seconds));
        while (got < total && Clock::now() < deadline) {
            std::size_t allowed = std::min(pacer.Allowance(Clock::now()), buf.size());
            if (allowed == 0) {
                std::this_thread::sleep_until(std::min(pacer.ReadyAt(1), deadline));
                continue;
            }
            pollfd p{pty.Master(), POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) {
                continue;
            }
            ssize_t n = read(pty.Master(), buf.data(), allowed);
            if (n > 0) {
                pacer.Consume(static_cast<std::size_t>(n));
                got += static_cast<std::size_t>(n);
            }
        }
        elapsed = Seconds(start);
    });
    d->ArmStatusWatch(h, kBlock, true);
    peer.join();
    stop = true;
    gui.SetHandler(nullptr);
    gui.RunOnGui([] {});
    d->CloseDevice();
    return static_cast<double>(got) / elapsed;
}

void Paced() {
    const double line = 115200 / 10.0;
    double paced = PacedUpload(115200, 256 * 1024, 10.0);
    std::printf("paced upload, 50-byte blocks, peer at 115200 baud for 10 s: %.0f bytes/s, "
                "%.3f of line rate\n",
                paced, paced / line);
    double fast = PacedUpload(0, kMiB, 60.0);
    std::printf("paced upload, 50-byte blocks, 1 MiB into a peer that reads at once: %.0f "
                "bytes/s, %.1f x line rate\n",
                fast, fast / line);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> which(argv + 1, argv + argc);
    auto wanted = [&](const char* name) {
        return which.empty() || std::find(which.begin(), which.end(), name) != which.end();
    };
    if (wanted("throughput")) {
        Throughput();
    }
    if (which.size() > 0 && wanted("receive")) {
        const auto data = Pattern(16 * kMiB);
        for (int run = 0; run < 5; ++run) {
            PtyPair pty;
            auto d = OpenOn(pty.SlavePath());
            std::printf("receive: engine %.1f MB/s\n", EngineReceive(*d, pty, data) / 1e6);
            d->CloseDevice();
        }
    }
    if (wanted("idle")) {
        Idle();
    }
    if (wanted("latency")) {
        Latency(false);
    }
    if (which.size() > 0 && wanted("latency-net")) {
        Latency(true);
    }
    if (wanted("paced")) {
        Paced();
    }
    return 0;
}
