#include "outcome/RunnerExit.h"

#include <cstdio>

namespace pellwick {

namespace {

struct ExitRow {
    int status;
    const char* name;
    const char* help; // lines after the first are indented by the help text itself
};

constexpr ExitRow ExitTable[] = {
    {ExitClean, "clean",
     "the script ran to its end without an error report (start-up warnings,\n"
     "such as a \"Default Path\" that could not be entered, do not count)"},
    {ExitUsage, "bad command line", "bad command line"},
    {ExitScriptError, "script error",
     "script error (a command answered ERROR, a bad number, a missing upload file)"},
    {ExitUploadError, "upload error",
     "upload error or cancel (the device's error string, a failed verification,\n"
     "a hang-up, a link failure, Ctrl-C); the report's exit name says which:\n"
     "refused, not verified, cancelled, hung up, failed"},
    {ExitPortError, "port error", "the serial port could not be opened"},
    {ExitScriptUnreadable, "script unreadable",
     "the script could not be read (missing, not a regular file, or larger\n"
     "than 16 MiB)"},
    {ExitErrorsIgnored, "errors ignored",
     "the script ran to its end, but --ignore went past at least one error"},
    {ExitFailure, "failure", "an unexpected failure ended the program (the message is printed)"},
    {ExitReportUnwritable, "report unwritable",
     "the --report or --junit file could not be written (the run's own outcome\n"
     "is printed), or its name holds no regular file (then nothing is run)"},
    {ExitPortMissing, "port missing",
     "the port's device did not appear within the seconds of --wait-port, or\n"
     "the wait was cancelled"},
    {ExitInterrupted, "interrupted", "interrupted a second time while cancelling"},
};

} // namespace

const char* ExitStatusName(int status) {
    for (const ExitRow& row : ExitTable) {
        if (row.status == status) {
            return row.name;
        }
    }
    return "unknown";
}

std::string RunnerExitHelp() {
    std::string text = "Exit status:\n";
    for (const ExitRow& row : ExitTable) {
        char number[16];
        std::snprintf(number, sizeof number, "  %-5d", row.status);
        text += number;
        for (const char* c = row.help; *c != '\0'; ++c) {
            text += *c == '\n' ? std::string("\n       ") : std::string(1, *c);
        }
        text += '\n';
    }
    return text;
}

} // namespace pellwick
