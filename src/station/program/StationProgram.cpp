#include "station/program/StationProgram.h"

#include "station/HeadlessTable.h"
#include "station/Station.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <unistd.h>

namespace pellwick {

namespace {

int gSignalFd = -1;
volatile std::sig_atomic_t gInterrupts = 0;

void OnSignal(int) {
    gInterrupts = gInterrupts + 1;
    if (gInterrupts > 2) {
        // A third one: the operator wants out now, whatever is running.
        static const char text[] = "\npellwick-station: interrupted\n";
        [[maybe_unused]] auto w = write(STDERR_FILENO, text, sizeof text - 1);
        _exit(StationInterrupted);
    }
    char c = 1;
    [[maybe_unused]] auto n = write(gSignalFd, &c, 1);
}

} // namespace

std::string StationHelp() {
    return "Usage: pellwick-station [--headless] [--junit FOLDER] [FOLDER]\n"
           "\n"
           "A production station: many boards at once, each slot started by its board. It runs\n"
           "in FOLDER (default: the current folder), which holds station.ini, the script and\n"
           "its files, and appends one line per board to station.log there (JSON Lines).\n"
           "\n"
           "  --headless      no window: a table on the terminal (one line per slot, rewritten\n"
           "                  in place), plain lines when the output is no terminal. Ctrl-C\n"
           "                  stops new boards and lets running ones finish; a second Ctrl-C\n"
           "                  cancels them; a third ends the program at once\n"
           "  --junit FOLDER  also write a JUnit XML file per board into FOLDER\n"
           "  --help          show this text\n"
           "  --version       print the program's name and version\n"
           "\n"
           "station.ini: [Station] Script, Start (button, appear, probe), Probe, Answer, Lock;\n"
           "[Slots] SlotN=COMn or a device path, StartN=<start of slot N>; [Ports] as in\n"
           "loader.ini; [RS232Settings], [Trigger], [Upload Settings] (Delay, Buffer Size,\n"
           "Block Size) with the keys of loader.ini. Every error in it, in the script or in\n"
           "the files the script uploads is reported before anything starts.\n"
           "\n"
           "Exit status (--headless): 0 no board failed, 1 bad command line, 2 bad station.ini,\n"
           "script or files, 3 a board failed, 4 station.log or a JUnit file could not be\n"
           "written, 7 an unexpected failure, 130 a third Ctrl-C.\n";
}

bool ParseStationOptions(int argc, char** argv, StationOptions& options, std::FILE* err) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            options.help = true;
        } else if (a == "--version") {
            options.version = true;
        } else if (a == "--headless") {
            options.headless = true;
        } else if (a == "--junit" || a.rfind("--junit=", 0) == 0) {
            options.junitFolder = a.size() > 7 ? a.substr(8) : (i + 1 < argc ? argv[++i] : "");
            if (options.junitFolder.empty()) {
                std::fprintf(err, "pellwick-station: --junit needs a folder (see --help)\n");
                return false;
            }
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(err, "pellwick-station: unknown option %s (see --help)\n", a.c_str());
            return false;
        } else if (options.folder.empty()) {
            options.folder = a;
        } else {
            std::fprintf(err,
                         "pellwick-station: more than one station folder given (see --help)\n");
            return false;
        }
    }
    return true;
}

bool EnterStationFolder(StationOptions& options, std::FILE* err) {
    std::error_code ec;
    if (!options.junitFolder.empty()) {
        options.junitFolder = std::filesystem::absolute(options.junitFolder, ec).string();
    }
    if (options.folder.empty()) {
        return true;
    }
    std::filesystem::current_path(options.folder, ec);
    if (ec) {
        std::fprintf(err, "pellwick-station: cannot enter the station folder %s: %s\n",
                     options.folder.c_str(), ec.message().c_str());
        return false;
    }
    return true;
}

int RunHeadlessStation(const StationOptions& options, std::FILE* out) {
    std::vector<std::string> errors;
    StationConfig config = ReadStationConfig(errors);
    if (!errors.empty()) {
        for (const std::string& error : errors) {
            std::fprintf(out, "pellwick-station: %s\n", error.c_str());
        }
        std::fprintf(out, "pellwick-station: nothing was started; correct %s/%s\n",
                     config.Folder.c_str(), StationConfig::FileName);
        return StationBadInput;
    }
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        std::fprintf(out, "pellwick-station: cannot set up Ctrl-C handling: %s\n",
                     std::strerror(errno));
        return StationFailure;
    }
    gSignalFd = fds[1];
    gInterrupts = 0;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A terminal that goes away must not end the station in the middle of a board.
    signal(SIGPIPE, SIG_IGN);

    int status = StationClean;
    {
        Station station(std::move(config));
        HeadlessTable table(station, out, isatty(fileno(out)) != 0);
        auto endWhenIdle = [&] {
            if (station.Stopping() && station.Idle()) {
                QCoreApplication::exit(0);
            }
        };
        QObject::connect(&station, &Station::TotalsChanged, endWhenIdle);
        QSocketNotifier notifier(fds[0], QSocketNotifier::Read);
        int handled = 0;
        QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
            char c;
            [[maybe_unused]] auto n = read(fds[0], &c, 1);
            ++handled;
            if (handled == 1) {
                table.Note("pellwick-station: no new boards; running ones finish (Ctrl-C again "
                           "cancels them)");
                station.StopNewBoards();
            } else {
                table.Note("pellwick-station: cancelling the running boards (Ctrl-C again ends "
                           "at once)");
                station.CancelAll();
            }
            endWhenIdle();
        });
        if (const std::string error = station.Start(options.junitFolder); !error.empty()) {
            std::fprintf(out, "pellwick-station: %s\n", error.c_str());
            status = StationRecordFailed;
        } else {
            QCoreApplication::exec();
            const StationTotals totals = station.Totals();
            status = station.RecordFailed() ? StationRecordFailed
                     : totals.Failed > 0    ? StationBoardFailed
                                            : StationClean;
        }
        station.Shutdown();
        table.Finish();
    }
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    gSignalFd = -1;
    close(fds[0]);
    close(fds[1]);
    return status;
}

} // namespace pellwick
