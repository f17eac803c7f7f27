#include "station/program/StationProgram.h"

#include "shell/Interrupts.h"
#include "station/HeadlessTable.h"
#include "station/RecordQueries.h"
#include "station/Station.h"

#include <QCoreApplication>
#include <QDateTime>
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
           "       pellwick-station --summary [--since TIME] [--by slot|cause|hour] [FOLDER]\n"
           "       pellwick-station --history LABEL-OR-ID [FOLDER]\n"
           "       pellwick-station --export csv [--output FILE] [FOLDER]\n"
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
           "  --summary       first-pass yield (boards whose first attempt passed) and final\n"
           "                  yield (boards whose last attempt passed), overall and per slot,\n"
           "                  and the attempts that ended in the last hour. A board is its\n"
           "                  label, else its board id, else each attempt on its own; it counts\n"
           "                  in the group of its first attempt\n"
           "  --since TIME    only attempts that ended at or after TIME: 2026-12-11 or\n"
           "                  2026-12-11T08:00[:SS], local time unless an offset (Z, +01:00)\n"
           "                  follows\n"
           "  --by GROUP      group the summary by slot (default), cause or hour\n"
           "  --history BOARD every attempt of the board with that label or board id, in\n"
           "                  order: time, station, slot, place, verdict, cause, files\n"
           "  --export csv    every attempt as one CSV line (RFC 4180) after a header line:\n"
           "                  start_time, end_time, station, host, operator, tool_version,\n"
           "                  slot, port, device, place, by_path, adapter_serial, label,\n"
           "                  board_id, attempt, script, script_sha256, verdict, run_end,\n"
           "                  cause, seconds, files (\"name (outcome)\" joined by \"; \")\n"
           "  --output FILE   write the export into FILE instead of standard output\n"
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
           "The queries read the database that [Record] Database of station.ini names\n"
           "(station.db in FOLDER when empty), read-only; they start no slot and open no port.\n"
           "\n"
           "Exit status (--headless): 0 no board failed, 1 bad command line, 2 bad station.ini,\n"
           "script or files, 3 a board failed, 4 station.log or a JUnit file could not be\n"
           "written, 7 an unexpected failure, 130 a third Ctrl-C. The queries: 0 answered,\n"
           "1 bad command line, 2 no station.ini or a bad [Record] Database, 4 the database\n"
           "could not be read or the --output file not written.\n";
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
    line.Switch("summary", options.summary);
    line.Value("since", [&options](const std::string& text) -> std::string {
        options.since = ParseSinceTime(text);
        if (!options.since) {
            return "\"" + text + "\" is no date (2026-12-11) or date and time (2026-12-11T08:00)";
        }
        options.sinceText = text;
        return {};
    });
    line.Value("by", [&options](const std::string& group) -> std::string {
        if (group != "slot" && group != "cause" && group != "hour") {
            return "\"" + group + "\" is none of slot, cause and hour";
        }
        options.by = group;
        return {};
    });
    line.Value("history", options.board);
    line.Value("export", [&options](const std::string& format) -> std::string {
        if (format != "csv") {
            return "\"" + format + "\" is no export format (csv)";
        }
        options.exportCsv = true;
        return {};
    });
    line.Value("output", options.output);
    line.Check([&options]() -> std::string {
        using Query = StationOptions::Query;
        const int queries = (options.summary ? 1 : 0) + (options.board.empty() ? 0 : 1) +
                            (options.exportCsv ? 1 : 0);
        if (queries > 1) {
            return "--summary, --history and --export go one at a time";
        }
        options.query = options.summary          ? Query::Summary
                        : !options.board.empty() ? Query::History
                        : options.exportCsv      ? Query::Export
                                                 : Query::None;
        if ((options.since || !options.by.empty()) && options.query != Query::Summary) {
            return "--since and --by go with --summary";
        }
        if (!options.output.empty() && options.query != Query::Export) {
            return "--output goes with --export";
        }
        if (options.query != Query::None && (options.headless || !options.junitFolder.empty())) {
            return "--headless and --junit run the station; the queries do not";
        }
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
    if (!options.output.empty()) {
        options.output = std::filesystem::absolute(options.output, ec).string();
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

namespace {

// The whole text into path, replacing what was there. Empty on success, otherwise why not.
std::string WriteWhole(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return std::strerror(errno);
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int writeError = errno;
    if (std::fclose(file) != 0 || !written) {
        return std::strerror(written ? errno : writeError);
    }
    return {};
}

} // namespace

int RunRecordQuery(const StationOptions& options, std::FILE* out, std::FILE* err) {
    using Query = StationOptions::Query;
    std::error_code ec;
    const std::string folder = std::filesystem::current_path(ec).string();
    std::string address;
    if (std::string error = ReadRecordAddress(folder, address); !error.empty()) {
        std::fprintf(err, "pellwick-station: %s.\n", error.c_str());
        return StationBadInput;
    }
    RecordReader reader;
    if (std::string error = reader.Open(address, folder); !error.empty()) {
        std::fprintf(err, "pellwick-station: %s\n", error.c_str());
        return address.empty() || error.rfind("[Record]", 0) != 0 ? StationRecordFailed
                                                                  : StationBadInput;
    }
    std::vector<Attempt> attempts;
    std::string error = options.query == Query::History ? reader.History(options.board, attempts)
                                                        : reader.Attempts(options.since, attempts);
    if (!error.empty()) {
        std::fprintf(err, "pellwick-station: %s\n", error.c_str());
        return StationRecordFailed;
    }
    std::string text;
    if (options.query == Query::Summary) {
        const SummaryGroup by = options.by == "cause"  ? SummaryGroup::Cause
                                : options.by == "hour" ? SummaryGroup::Hour
                                                       : SummaryGroup::Slot;
        text = SummaryText(Summarize(attempts, by, QDateTime::currentSecsSinceEpoch()), by,
                           options.sinceText);
    } else if (options.query == Query::History) {
        text = HistoryText(options.board, attempts);
    } else {
        text = CsvText(attempts);
        if (!options.output.empty()) {
            if (error = WriteWhole(options.output, text); !error.empty()) {
                std::fprintf(
                    err,
                    "pellwick-station: cannot write %s: %s; choose a folder that can be written.\n",
                    options.output.c_str(), error.c_str());
                return StationRecordFailed;
            }
            return StationClean;
        }
    }
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fflush(out) != 0) {
        std::fprintf(err, "pellwick-station: cannot write the answer: %s\n", std::strerror(errno));
        return StationRecordFailed;
    }
    return StationClean;
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
