// End-to-end throughput of the terminal: a peer writes 8 MiB of text into a pseudo-terminal;
// once a plain loop reads it from the slave side, once the terminal control shows it through
// the real port component (dispatcher, notifications on the GUI thread, screen buffer, paint).
// While the terminal runs, a 10 ms timer measures the longest gap between its ticks: the event
// loop's worst stall. Both paths run several times, alternating, and the medians are compared:
// on a shared machine single runs vary a lot.
//
// With --window the terminal sits in the terminal window (status line and lamps updated as the
// operator would see them) instead of standing alone. --capture FILE does the same with a capture
// to FILE running, as text with time stamps (the window's default), --capture-raw FILE as raw
// bytes; the file holds every run, and a raw one must hold exactly what was sent.
//
// Usage: bench_terminal_throughput [--window | --capture FILE | --capture-raw FILE] [MiB] [runs]
//        (default 8 MiB, 5 runs; offscreen unless QT_QPA_PLATFORM says otherwise)
#include "support/BenchFigures.h"
#include "support/BenchPort.h"
#include "support/PtyPair.h"
#include "terminal/TFrmTerminal.h"
#include "terminal/TTerminal.h"
#include "terminal/TVaxoTerminal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace pellwick;
using bench::Median;

namespace {

// Lines of printable text with CR LF, then the sentinel line.
std::string MakeData(std::size_t bytes, const std::string& sentinel) {
    std::string data;
    data.reserve(bytes + 64);
    unsigned n = 0;
    while (data.size() < bytes) {
        std::string line = "line " + std::to_string(n++) + ": ";
        while (line.size() < 70) {
            line += static_cast<char>('!' + (line.size() * 7 + n) % 94);
        }
        data += line + "\r\n";
    }
    data += sentinel + "\r\n";
    return data;
}

// Writes everything to a non-blocking descriptor, waiting for room when it has none.
void WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 1000);
        } else if (n < 0 && errno != EINTR) {
            std::perror("write");
            return;
        }
    }
}

double PlainPath(const std::string& data) {
    test::PtyPair pty;
    const int fd = pty.Slave();
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    QElapsedTimer t;
    t.start();
    std::thread writer([&] { WriteAll(pty.Master(), data); });
    std::size_t got = 0;
    char buf[8192];
    while (got < data.size()) {
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 1000);
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        }
    }
    const double seconds = t.nsecsElapsed() / 1e9;
    writer.join();
    return seconds;
}

bool SentinelShown(const TBuffer& b, const std::string& sentinel) {
    // The sentinel is the last line: the row above the cursor.
    const int row = b.CursorRow() - 1;
    if (row < 0) {
        return false;
    }
    for (std::size_t c = 0; c < sentinel.size(); ++c) {
        if (b.CharAt(static_cast<int>(c), row) != static_cast<std::uint8_t>(sentinel[c])) {
            return false;
        }
    }
    return true;
}

// Seconds until the terminal shows the data's last line, or a negative number when it did not
// within a minute; longestGapMs grows to the longest gap between 10 ms ticks meanwhile.
double TerminalPath(const std::string& data, const std::string& sentinel, int master,
                    const TBuffer& buffer, qint64& longestGapMs) {
    QEventLoop loop;
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longestGapMs = std::max(longestGapMs, sinceTick.restart()); });
    bool done = false;
    QTimer check;
    check.setInterval(1);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (SentinelShown(buffer, sentinel)) {
            done = true;
            loop.quit();
        }
    });
    QElapsedTimer t;
    std::thread writer;
    QTimer::singleShot(0, [&] {
        sinceTick.start();
        ticker.start();
        check.start();
        t.start();
        writer = std::thread([&] { WriteAll(master, data); });
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    const double seconds = t.nsecsElapsed() / 1e9;
    if (writer.joinable()) {
        writer.join();
    }
    return done ? seconds : -1;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    bool window = false;
    QString capturePath;
    CaptureWriter::Mode captureMode = CaptureWriter::Mode::TimeStamped;
    std::vector<std::string> numbers;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--window") {
            window = true;
        } else if ((arg == "--capture" || arg == "--capture-raw") && i + 1 < argc) {
            window = true;
            capturePath = QString::fromLocal8Bit(argv[++i]);
            captureMode =
                arg == "--capture" ? CaptureWriter::Mode::TimeStamped : CaptureWriter::Mode::Raw;
        } else if (!arg.empty() && arg.find_first_not_of("0123456789") == std::string::npos &&
                   arg.size() < 6 && std::stoi(arg) > 0 && numbers.size() < 2) {
            numbers.emplace_back(arg);
        } else {
            std::fprintf(stderr,
                         "usage: bench_terminal_throughput [--window | --capture FILE | "
                         "--capture-raw FILE] [MiB] [runs]\n(%s: not understood)\n",
                         argv[i]);
            return 2;
        }
    }
    const std::size_t mib = numbers.size() > 0 ? std::stoul(numbers[0]) : 8;
    const int runs = numbers.size() > 1 ? std::stoi(numbers[1]) : 5;

    test::PtyPair pty;
    bench::MappedPort mapped(pty.SlavePath());
    mapped.OpenCom1();
    TVaxoComPort& port = mapped.Port();
    std::unique_ptr<TFrmTerminal> form;
    std::unique_ptr<TVaxoTerminal> alone;
    if (window) {
        // Showing the window activates its terminal on the port.
        form = std::make_unique<TFrmTerminal>(&port, nullptr);
        form->resize(900, 650);
        form->show();
        if (!capturePath.isEmpty() && !form->StartCapture(capturePath, captureMode)) {
            return 1;
        }
    } else {
        alone = std::make_unique<TVaxoTerminal>();
        alone->resize(900, 600);
        alone->SetComPort(&port);
        alone->SetActive(true);
        alone->show();
    }
    TVaxoTerminal& term = window ? form->Terminal() : *alone;

    std::vector<double> plain, terminal;
    qint64 longestGapMs = 0;
    std::size_t bytes = 0;
    for (int run = 0; run < runs; ++run) {
        // A sentinel of its own per run, so that the last run's line does not end this one.
        const std::string sentinel = "END-OF-BENCH-" + std::to_string(run);
        const std::string data = MakeData(mib * 1024 * 1024, sentinel);
        bytes = data.size();
        plain.push_back(PlainPath(data));
        const double seconds =
            TerminalPath(data, sentinel, pty.Master(), term.Buffer(), longestGapMs);
        if (seconds < 0) {
            std::printf("terminal: run %d did not finish\n", run + 1);
            return 1;
        }
        terminal.push_back(seconds);
        std::printf("run %d: plain %.3f s, terminal %.3f s, ratio %.2f\n", run + 1, plain.back(),
                    seconds, plain.back() / seconds);
    }
    if (form) {
        form->StopCapture();
    }
    port.SetOpen(false);

    const double mb = bytes / (1024.0 * 1024.0);
    const double p = Median(plain);
    const double t = Median(terminal);
    std::printf("bytes per run: %zu (%.1f MiB), %d runs, terminal %s, medians:\n", bytes, mb, runs,
                capturePath.isEmpty()                     ? (window ? "in its window" : "alone")
                : captureMode == CaptureWriter::Mode::Raw ? "in its window, raw capture on"
                                                          : "in its window, text capture on");
    std::printf("plain loop:  %.3f s  %.1f MiB/s\n", p, mb / p);
    std::printf("terminal:    %.3f s  %.1f MiB/s\n", t, mb / t);
    // A capture may cost some speed; without one the terminal keeps up with a plain read.
    std::printf("ratio terminal/plain: %.2f (goal >= %.1f)\n", p / t,
                capturePath.isEmpty() ? 1.0 : 0.8);
    std::printf("longest gap between 10 ms timer ticks: %lld ms (goal <= 20)\n",
                static_cast<long long>(longestGapMs));
    if (!capturePath.isEmpty()) {
        const qint64 size = QFileInfo(capturePath).size();
        std::printf("capture file: %lld bytes\n", static_cast<long long>(size));
        if (captureMode == CaptureWriter::Mode::Raw && size != static_cast<qint64>(bytes) * runs) {
            std::printf("raw capture: expected %lld bytes\n", static_cast<long long>(bytes) * runs);
            return 1;
        }
    }
    return 0;
}
