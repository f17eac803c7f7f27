// pellwick-run: what the main window does at start-up and on "Start File Upload" in automatic
// mode, without windows, in the current directory: the same loader.ini keys, the same port
// set-up, the same script engine and the same "loader.log".
#pragma once

#include "upload/headless/RunnerMessageBoxes.h"

#include <cstdio>
#include <string>

namespace pellwick {

// Exit statuses of the runner.
enum RunnerExit : int {
    ExitClean = 0,
    ExitUsage = 1,
    ExitScriptError = 2,
    ExitUploadError = 3, // the device's error, a failed verification, a link failure, or cancel
    ExitPortError = 4,
    ExitScriptUnreadable = 5,
    ExitErrorsIgnored = 6, // the script ran to its end, but --ignore went past an error
    ExitFailure = 7,       // an unexpected failure ended the program (its message is printed)
    ExitInterrupted = 130, // a second Ctrl-C while cancelling
};

// What decides the exit status of a run that got as far as its script. The status is made from
// it in one place, so that the printed verdict and any report of the run never disagree.
struct RunVerdict {
    RunOutcome outcome = RunOutcome::Clean; // the worst the boxes told of
    bool ignoredAnError = false;            // --ignore went past an error
    bool interrupted = false;               // Ctrl-C or SIGTERM cancelled the run
    bool failed = false;                    // an unexpected failure ended the event loop
};
int ExitStatusFor(const RunVerdict& verdict);
// A short name of an exit status ("clean", "upload error", ...), for reports.
const char* ExitStatusName(int status);

struct RunnerOptions {
    std::string script;        // empty: "Default Script" of loader.ini
    bool answerIgnore = false; // answer Abort/Ignore boxes with Ignore
};

// Parses the command line; false (and a message on err) for a bad one.
bool ParseRunnerOptions(int argc, char** argv, RunnerOptions& options, bool& help, std::FILE* err);
const char* RunnerHelp();

// Runs one upload run; needs a QCoreApplication. Returns the exit status.
int RunHeadless(const RunnerOptions& options, std::FILE* out);

} // namespace pellwick
