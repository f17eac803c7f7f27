// The exit statuses of pellwick-run in one table: the number, the short name the run report
// carries, and the line --help shows. Add a status here and both follow.
#pragma once

#include <string>

namespace pellwick {

enum RunnerExit : int {
    ExitClean = 0,
    ExitUsage = 1,
    ExitScriptError = 2,
    ExitUploadError = 3, // the device's error, a failed verification, a link failure, or cancel
    ExitPortError = 4,
    ExitScriptUnreadable = 5,
    ExitErrorsIgnored = 6,    // the script ran to its end, but --ignore went past an error
    ExitFailure = 7,          // an unexpected failure ended the program (its message is printed)
    ExitReportUnwritable = 8, // --report or --junit could not be written
    ExitPortMissing = 9,      // the port's device did not appear within --wait-port
    ExitInterrupted = 130,    // a second Ctrl-C while cancelling
};

// "clean", "upload error", ...; "unknown" for a number outside the table.
const char* ExitStatusName(int status);
// The "Exit status:" section of --help, one status a line.
std::string RunnerExitHelp();

} // namespace pellwick
