// The verdict of a run, from its record and what happened around it: the exit status with its
// name, and whether a board passed. pellwick-run and the station both take it from here, so that
// a run's printed status, its reports and a station's "passed" or "failed" never disagree.
#pragma once

#include "outcome/RunnerExit.h"
#include "upload/RunRecord.h"

#include <string>

namespace pellwick {

struct RunReport;

// What decides the exit status of a run that got as far as its script.
struct RunVerdict {
    RunEnd end = RunEnd::NotStarted; // how the run's own record says it ended
    int ignoredErrors = 0;           // --ignore went past this many errors
    bool interrupted = false;        // Ctrl-C or SIGTERM cancelled the run
    bool portFault = false;          // the port reported a failure of its own during the run
    bool failed = false;             // an unexpected failure ended the event loop
};

// The verdict the run's record alone gives: its end and the errors it went past.
RunVerdict VerdictOf(const RunRecord& record);
int ExitStatusFor(const RunVerdict& verdict);
// The report's name of the exit: for an upload failure what ended it ("refused", "not
// verified", "cancelled", "hung up", "failed"), otherwise the status's own name.
std::string ExitNameFor(int status, RunEnd end);
// A board passes by the runner's rule: only where its verdict gives a clean exit.
bool Passed(const RunVerdict& verdict);

// Sets the report's exit: the status, its name, and the message that ended a run that did not
// end clean (a clean run carries none).
void SetExit(RunReport& report, int status, RunEnd end, const std::string& message);

} // namespace pellwick
