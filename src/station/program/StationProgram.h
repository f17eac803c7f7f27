// pellwick-station: the command line, the start in the station folder, and the headless
// station on a terminal. The window is the program's other face (StationWindow).
#pragma once

#include "shell/CommandLine.h"

#include <cstdio>
#include <string>
#include <vector>

namespace pellwick {

enum StationExit : int {
    StationClean = 0, // no board failed
    StationBadCommandLine = 1,
    StationBadInput = 2,      // station.ini, the script or its files, the folder
    StationBoardFailed = 3,   // at least one board failed
    StationRecordFailed = 4,  // station.log (or a JUnit file) could not be written
    StationFailure = 7,       // an unexpected failure
    StationInterrupted = 130, // a third Ctrl-C
};

struct StationOptions {
    bool headless = false;
    std::string folder;      // empty: the current folder
    std::string junitFolder; // --junit: a JUnit file per board in this folder
};

// Puts the station's options on its command line, each filling options.
void DeclareStationOptions(CommandLine& line, StationOptions& options);
std::string StationHelp();

// Enters the station folder (relative --junit counts from where the program started). False,
// with a message on err, when it cannot be entered.
bool EnterStationFolder(StationOptions& options, std::FILE* err);

// Runs the station without a window until Ctrl-C (or SIGTERM) has stopped new boards and the
// running ones have finished; needs a QCoreApplication. Returns the exit status.
int RunHeadlessStation(const StationOptions& options, std::FILE* out);

} // namespace pellwick
