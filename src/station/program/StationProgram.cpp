#include "station/program/StationProgram.h"

#include "shell/Interrupts.h"
#include "station/HeadlessTable.h"
#include "station/Station.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace pellwick {

static_assert(StationInterrupted == InterruptedExitStatus);

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
           "station.ini: [Station] Script, Start (button, appear, probe), Probe, Answer, Lock,\n"
           "Require Label; [Slots] SlotN=COMn or a device path, StartN=<start of slot N>;\n"
           "[Ports] as in loader.ini; [RS232Settings], [Trigger], [Upload Settings] (Delay,\n"
           "Buffer Size, Block Size) with the keys of loader.ini. Every error in it (an\n"
           "unknown section or key among them), in the script or in the files the script\n"
           "uploads is reported before anything starts.\n"
           "\n"
           "Exit status (--headless): 0 no board failed, 1 bad command line, 2 bad station.ini,\n"
           "script or files, 3 a board failed, 4 station.log or a JUnit file could not be\n"
           "written, 7 an unexpected failure, 130 a third Ctrl-C.\n";
}

void DeclareStationOptions(CommandLine& line, StationOptions& options) {
    line.Switch("headless", options.headless);
    // Checked here, before anything starts: a folder that cannot take the files is a mistake
    // of the command line, not a failure of a board.
    line.Value("junit", [&options](const std::string& folder) -> std::string {
        if (folder.empty()) {
            return "needs a folder";
        }
        struct stat st {};
        if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            return folder + " is not a folder: make it first";
        }
        if (access(folder.c_str(), W_OK | X_OK) != 0) {
            return folder + " cannot be written: " + std::strerror(errno);
        }
        options.junitFolder = folder;
        return {};
    });
    line.Operands([&options](const std::string& folder) -> std::string {
        if (!options.folder.empty()) {
            return "more than one station folder given";
        }
        options.folder = folder;
        return {};
    });
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
    // Ctrl-C: the first stops new boards, the second cancels the running ones, a third ends
    // the program at once.
    InterruptChannel interrupts("pellwick-station", 2);
    if (!interrupts.Open()) {
        std::fprintf(out, "pellwick-station: cannot set up Ctrl-C handling: %s\n",
                     std::strerror(errno));
        return StationFailure;
    }
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
        QSocketNotifier notifier(interrupts.Fd(), QSocketNotifier::Read);
        int handled = 0;
        QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
            interrupts.Take();
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
            // No table was drawn: nothing comes after this line.
            std::fprintf(stderr, "pellwick-station: %s\n", error.c_str());
            status = StationRecordFailed;
            station.Shutdown();
        } else {
            QCoreApplication::exec();
            const StationTotals totals = station.Totals();
            status = station.RecordFailed() ? StationRecordFailed
                     : totals.Failed > 0    ? StationBoardFailed
                                            : StationClean;
            station.Shutdown();
            table.Finish();
        }
    }
    return status;
}

} // namespace pellwick
