// Figures of the device simulator, measured against the real program on a pseudo-terminal:
//   1. round-trip time of an empty line answered by the prompt (unpaced);
//   2. upload throughput of an unpaced line;
//   3. achieved rate and CPU cost of a line paced at 115200 baud.
// Usage: devsim_line_bench [megabytes for 2, default 16]
#include "support/DevsimHarness.h"
#include "support/LinePeer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

using namespace pellwick;
using Clock = std::chrono::steady_clock;

namespace {

// User plus system CPU seconds the process has used so far.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    // Fields after the name start at field 3; utime and stime are fields 14 and 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) {
            utime = std::stoull(field);
        } else if (index == 15) {
            stime = std::stoull(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string Header(std::size_t size, const std::string& data) {
    unsigned sum = 0;
    for (char c : data) {
        sum += static_cast<unsigned char>(c);
    }
    char text[64];
    std::snprintf(text, sizeof text, "LF 1 %zu %04X 1\r", size, sum & 0xFFFF);
    return text;
}

// Sends one file and waits for the verifying prompt; seconds from the first byte, or -1.
double Upload(LinePeer& peer, const std::string& data) {
    const auto start = Clock::now();
    if (!peer.Write(Header(data.size(), data) + data + "\r", std::chrono::minutes(5))) {
        return -1;
    }
    if (peer.ReadUntil(">", std::chrono::minutes(5)) != ">") {
        return -1;
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Open(DevsimHarness& harness, LinePeer& peer, const std::vector<std::string>& args) {
    if (!harness.StartProcess(args) || !peer.Open(harness.SlavePath()) || !peer.Write("UL\r") ||
        peer.ReadUntil(">") != ">") {
        std::fprintf(stderr, "cannot start pellwick-devsim: %s\n", harness.Error().c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 16;
    std::string data(megabytes << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 7 + (i >> 8));
    }

    {
        DevsimHarness harness;
        LinePeer peer;
        if (!Open(harness, peer, {})) {
            return 1;
        }
        std::vector<double> micros;
        for (int i = 0; i < 2000; ++i) {
            const auto start = Clock::now();
            peer.Write("\r");
            if (peer.ReadUntil(">") != ">") {
                std::fprintf(stderr, "no prompt\n");
                return 1;
            }
            micros.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        std::sort(micros.begin(), micros.end());
        std::printf("prompt round trip (unpaced): median %.0f us, 99th percentile %.0f us\n",
                    micros[micros.size() / 2], micros[micros.size() * 99 / 100]);

        const double cpuBefore = CpuSeconds(harness.Pid());
        const double seconds = Upload(peer, data);
        const double cpu = CpuSeconds(harness.Pid()) - cpuBefore;
        std::printf("unpaced upload of %zu MiB: %.2f s, %.1f MiB/s, simulator CPU %.2f s\n",
                    megabytes, seconds, static_cast<double>(megabytes) / seconds, cpu);
    }
    {
        DevsimHarness harness;
        LinePeer peer;
        if (!Open(harness, peer, {"--baud", "115200"})) {
            return 1;
        }
        const std::string paced = data.substr(0, 11520 * 5); // five seconds of line time
        const double cpuBefore = CpuSeconds(harness.Pid());
        const double seconds = Upload(peer, paced);
        const double cpu = CpuSeconds(harness.Pid()) - cpuBefore;
        const double rate = static_cast<double>(paced.size() + 32) / seconds;
        std::printf("paced upload at 115200 baud: %zu bytes in %.3f s = %.0f bytes/s "
                    "(nominal 11520, %.2f%%), simulator CPU %.3f s (%.1f%% of a core)\n",
                    paced.size(), seconds, rate, rate / 11520.0 * 100, cpu, cpu / seconds * 100);
    }
    return 0;
}
