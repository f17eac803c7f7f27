// pellwick-station: the command line, the start in the station folder, and the headless
// station on a terminal. The window is the program's other face (StationWindow).
#pragma once

#include "shell/CommandLine.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace pellwick {

enum StationExit : int {
    StationClean = 0, // no board failed
    StationBadCommandLine = 1,
    StationBadInput = 2,    // station.ini, the script or its files, the folder
    StationBoardFailed = 3, // at least one board failed
    // station.log, a JUnit file or the database could not be written; for the queries: the
    // database could not be read, or the --output file not written
    StationRecordFailed = 4,
    StationFailure = 7,       // an unexpected failure
    StationInterrupted = 130, // a third Ctrl-C
};

struct StationOptions {
    bool headless = false;
    std::string folder;      // empty: the current folder
    std::string junitFolder; // --junit: a JUnit file per board in this folder
    // The queries of the database: they start no slot and open no port.
    enum class Query { None, Summary, History, Export };
    Query query = Query::None; // set from the options below once all are read
    bool summary = false;
    std::optional<std::int64_t> since; // --since, seconds since 1970 UTC
    std::string sinceText;
    std::string by;    // --by: slot (also when empty), cause or hour
    std::string board; // --history
    bool exportCsv = false;
    std::string output; // --export --output; empty: standard output
};

// Puts the station's options on its command line, each filling options.
void DeclareStationOptions(CommandLine& line, StationOptions& options);
std::string StationHelp();

// Enters the station folder (relative --junit counts from where the program started). False,
// with a message on err, when it cannot be entered.
bool EnterStationFolder(StationOptions& options, std::FILE* err);

// Answers --summary, --history or --export from the database the station folder's
// station.ini names (the current folder, once entered); needs a QCoreApplication. Returns the
// exit status.
int RunRecordQuery(const StationOptions& options, std::FILE* out, std::FILE* err);

// Runs the station without a window until Ctrl-C (or SIGTERM) has stopped new boards and the
// running ones have finished; needs a QCoreApplication. Returns the exit status.
int RunHeadlessStation(const StationOptions& options, std::FILE* out);

} // namespace pellwick
