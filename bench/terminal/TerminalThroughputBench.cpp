// End-to-end throughput of the terminal: a peer writes 8 MiB of text into a pseudo-terminal;
// once a plain loop reads it from the slave side, once the terminal control shows it through
// the real port component (dispatcher, notifications on the GUI thread, screen buffer, paint).
// While the terminal runs, a 10 ms timer measures the longest gap between its ticks: the event
// loop's worst stall.
//
// Usage: bench_terminal_throughput [MiB]   (default 8; run with QT_QPA_PLATFORM=offscreen)
#include "serial/TVaxoCustomComPort.h"
#include "serial/portmap/PortMap.h"
#include "terminal/TTerminal.h"
#include "terminal/TVaxoTerminal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace pellwick;

namespace {

const std::string Sentinel = "END-OF-BENCH";

// Lines of printable text with CR LF, then the sentinel line.
std::string MakeData(std::size_t bytes) {
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
    data += Sentinel + "\r\n";
    return data;
}

struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty() {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        path = name;
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
    }
    ~Pty() {
        close(master);
        if (slave >= 0) {
            close(slave);
        }
    }
};

void WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            std::perror("write");
            return;
        }
    }
}

double PlainPath(const std::string& data) {
    Pty pty;
    const int fd = pty.slave;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    QElapsedTimer t;
    t.start();
    std::thread writer([&] { WriteAll(pty.master, data); });
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

bool SentinelShown(const TBuffer& b) {
    // The sentinel is the last line: the row above the cursor.
    const int row = b.CursorRow() - 1;
    if (row < 0) {
        return false;
    }
    for (std::size_t c = 0; c < Sentinel.size(); ++c) {
        if (b.CharAt(static_cast<int>(c), row) != static_cast<std::uint8_t>(Sentinel[c])) {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 8;
    const std::string data = MakeData(mib * 1024 * 1024);

    const double plain = PlainPath(data);

    Pty pty;
    close(pty.slave); // the port opens the slave by its path
    pty.slave = -1;
    PortMap::SetGlobal(std::make_shared<PortMap>(std::map<int, std::string>{{1, pty.path}}));
    TVaxoComPort port;
    port.SetComNumber(1);
    port.SetAutoOpen(false);
    port.SetPromptForPort(false);
    port.SetOpen(true);
    TVaxoTerminal term;
    term.resize(900, 600);
    term.SetComPort(&port);
    term.SetActive(true);
    term.show();

    qint64 longestGapMs = 0;
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longestGapMs = std::max(longestGapMs, sinceTick.restart()); });

    QElapsedTimer t;
    bool done = false;
    QTimer check;
    check.setInterval(10);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (SentinelShown(term.Buffer())) {
            done = true;
            app.quit();
        }
    });
    std::thread writer;
    QTimer::singleShot(0, [&] {
        sinceTick.start();
        ticker.start();
        check.start();
        t.start();
        writer = std::thread([&] { WriteAll(pty.master, data); });
    });
    QTimer::singleShot(600000, &app, &QApplication::quit);
    app.exec();
    const double terminal = t.nsecsElapsed() / 1e9;
    if (writer.joinable()) {
        writer.join();
    }
    port.SetOpen(false);

    const double mb = data.size() / (1024.0 * 1024.0);
    std::printf("bytes: %zu (%.1f MiB)\n", data.size(), mb);
    std::printf("plain loop:  %.3f s  %.1f MiB/s\n", plain, mb / plain);
    if (!done) {
        std::printf("terminal: did not finish\n");
        return 1;
    }
    std::printf("terminal:    %.3f s  %.1f MiB/s\n", terminal, mb / terminal);
    std::printf("ratio terminal/plain: %.2f (goal >= 0.5)\n", plain / terminal);
    std::printf("longest gap between 10 ms timer ticks: %lld ms (goal <= 100)\n",
                static_cast<long long>(longestGapMs));
    return 0;
}
