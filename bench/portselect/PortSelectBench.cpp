// How long the port lists take to build: AddPortEntries and the "Select Port" dialog over
// COM1..COM50 with a port map made from [Ports] Scan=0 and two pseudo-terminals (a machine
// without serial hardware), and how long the real device scan of the port map takes.
//
// The real scan is only timed, never probed: probing it would open the machine's serial
// devices (and raise their DTR and RTS). Its UART check reads the kernel's tty class folder
// only and never opens a device.
#include "portselect/ProbePort.h"
#include "portselect/TComSelectForm.h"
#include "portselect/TDeviceSelectionForm.h"
#include "serial/portmap/PortMap.h"
#include "support/PtyPair.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

using namespace pellwick;
namespace fs = std::filesystem;

namespace {

struct Figures {
    double min, median, max;
};

Figures TimeRuns(int runs, const std::function<void()>& run) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms.front(), ms[ms.size() / 2], ms.back()};
}

void Print(const char* what, int runs, const Figures& f) {
    std::printf("%-58s runs %3d  min %8.3f ms  median %8.3f ms  max %8.3f ms\n", what, runs, f.min,
                f.median, f.max);
}

// A UART check that never opens the device: "type" in the tty class folder, 0 = unknown.
bool SysfsUartKnown(const std::string& devicePath) {
    std::ifstream type("/sys/class/tty/" + fs::path(devicePath).filename().string() + "/type");
    int value = 0;
    return static_cast<bool>(type >> value) && value != 0;
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    std::string folder = (fs::temp_directory_path() / "pellwick-bench-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const test::PtyPair com3, com17;
    const std::string ini = folder + "/loader.ini";
    std::ofstream(ini) << "[Ports]\nScan=0\nCOM3=" << com3.SlavePath()
                       << "\nCOM17=" << com17.SlavePath() << "\n";
    const ScopedHook<std::shared_ptr<const PortMap>> portMap{
        PortMap::GlobalHook(), std::make_shared<const PortMap>(PortMap::Build(ini))};

    std::size_t entries = 0;
    Print("AddPortEntries, COM1..COM50, 2 pseudo-terminals", runs, TimeRuns(runs, [&] {
              TDeviceSelectionForm form;
              form.AddPortEntries();
              entries = form.EntryList().size();
          }));
    Print("TComSelectForm creation, same ports", runs, TimeRuns(runs, [] { TComSelectForm form; }));
    Print("ProbePort of a present port", runs * 50, TimeRuns(runs * 50, [] { ProbePort(3); }));
    Print("ProbePort of an absent port", runs * 50, TimeRuns(runs * 50, [] { ProbePort(4); }));
    std::printf("entries found: %zu (expected 2)\n", entries);

    // The real scan, without Scan=0: names resolved only.
    const std::string scanIni = folder + "/scan.ini";
    std::ofstream(scanIni) << "[Settings]\n";
    std::size_t scanned = 0;
    Print("PortMap::Build with the device scan (no device opened)", runs, TimeRuns(runs, [&] {
              scanned = PortMap::Build(scanIni, "/dev", SysfsUartKnown).Entries().size();
          }));
    std::printf("devices the scan found: %zu (not probed: that would open them)\n", scanned);

    fs::remove_all(folder);
    return entries == 2 ? 0 : 1;
}
