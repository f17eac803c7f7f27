#include "outcome/RunVerdict.h"

#include "outcome/RunReport.h"

namespace pellwick {

RunVerdict VerdictOf(const RunRecord& record) {
    RunVerdict verdict;
    verdict.end = record.End;
    verdict.ignoredErrors = record.IgnoredErrors;
    return verdict;
}

int ExitStatusFor(const RunVerdict& verdict) {
    if (verdict.failed) {
        return ExitFailure;
    }
    switch (verdict.end) {
    case RunEnd::Completed:
        // A cancel that found nothing left to stop still did not let the run end as asked, and
        // a failure the port reported on its own may have cost a file.
        if (verdict.interrupted || verdict.portFault) {
            return ExitUploadError;
        }
        return verdict.ignoredErrors > 0 ? ExitErrorsIgnored : ExitClean;
    case RunEnd::ScriptAborted:
        return ExitScriptError;
    case RunEnd::ScriptUnreadable:
        return ExitScriptUnreadable;
    case RunEnd::Running:
        return ExitFailure;
    case RunEnd::NotStarted:
    case RunEnd::Refused:
    case RunEnd::NotVerified:
    case RunEnd::Cancelled:
    case RunEnd::HungUp:
    case RunEnd::Failed:
        return ExitUploadError;
    }
    return ExitUploadError;
}

std::string ExitNameFor(int status, RunEnd end) {
    if (status == ExitUploadError && IsUploadFailure(end)) {
        return RunEndName(end);
    }
    return ExitStatusName(status);
}

bool Passed(const RunVerdict& verdict) {
    return ExitStatusFor(verdict) == ExitClean;
}

void SetExit(RunReport& report, int status, RunEnd end, const std::string& message) {
    report.exitStatus = status;
    report.exitName = ExitNameFor(status, end);
    report.message = status == ExitClean ? "" : message;
}

} // namespace pellwick
