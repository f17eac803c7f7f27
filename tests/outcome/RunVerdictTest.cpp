// The verdict: how the run's own record and what happened around it give the exit status, the
// name the report gives that status, and whether a station's board passed.
#include "outcome/RunVerdict.h"

#include "outcome/RunReport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace pellwick {
namespace {

TEST(RunVerdictTest, TheRunsEndDecidesTheExitStatusAndItsName) {
    struct Row {
        RunEnd end;
        int ignored;
        bool interrupted;
        bool portFault;
        int status;
        const char* name;
    };
    // Only the first row passes a board.
    const Row rows[] = {
        {RunEnd::Completed, 0, false, false, ExitClean, "clean"},
        {RunEnd::Completed, 2, false, false, ExitErrorsIgnored, "errors ignored"},
        // A Ctrl-C that found nothing left to stop, or a failure the port reported by itself.
        {RunEnd::Completed, 0, true, false, ExitUploadError, "upload error"},
        {RunEnd::Completed, 0, false, true, ExitUploadError, "upload error"},
        {RunEnd::ScriptAborted, 1, false, false, ExitScriptError, "script error"},
        {RunEnd::ScriptUnreadable, 0, false, false, ExitScriptUnreadable, "script unreadable"},
        // Upload failures share a status and are told apart by name.
        {RunEnd::Refused, 1, false, false, ExitUploadError, "refused"},
        {RunEnd::NotVerified, 0, false, false, ExitUploadError, "not verified"},
        {RunEnd::Cancelled, 0, true, false, ExitUploadError, "cancelled"},
        {RunEnd::HungUp, 0, false, false, ExitUploadError, "hung up"},
        {RunEnd::Failed, 0, false, false, ExitUploadError, "failed"},
        {RunEnd::Running, 0, false, false, ExitFailure, "failure"},
        {RunEnd::NotStarted, 0, false, false, ExitUploadError, "upload error"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(RunEndName(row.end));
        RunRecord record;
        record.End = row.end;
        record.IgnoredErrors = row.ignored;
        RunVerdict verdict = VerdictOf(record);
        verdict.interrupted = row.interrupted;
        verdict.portFault = row.portFault;
        EXPECT_EQ(ExitStatusFor(verdict), row.status);
        EXPECT_EQ(ExitNameFor(ExitStatusFor(verdict), row.end), row.name);
        EXPECT_EQ(Passed(verdict), &row == &rows[0]);
        // A report carries the message of every run but a clean one.
        RunReport report;
        SetExit(report, ExitStatusFor(verdict), row.end, "box");
        EXPECT_EQ(report.exitStatus, row.status);
        EXPECT_EQ(report.exitName, row.name);
        EXPECT_EQ(report.message, row.status == ExitClean ? "" : "box");
        verdict.failed = true;
        EXPECT_EQ(ExitStatusFor(verdict), ExitFailure);
        EXPECT_FALSE(Passed(verdict));
    }
}

TEST(RunVerdictTest, EveryExitStatusHasItsOwnName) {
    std::vector<std::string> names;
    for (int status : {ExitClean, ExitUsage, ExitScriptError, ExitUploadError, ExitPortError,
                       ExitScriptUnreadable, ExitErrorsIgnored, ExitFailure, ExitReportUnwritable,
                       ExitPortMissing, ExitInterrupted}) {
        const std::string name = ExitStatusName(status);
        EXPECT_NE(name, "unknown") << status;
        EXPECT_EQ(std::find(names.begin(), names.end(), name), names.end()) << name;
        names.push_back(name);
    }
    EXPECT_STREQ(ExitStatusName(42), "unknown");
}

} // namespace
} // namespace pellwick
