// The runner's verdict: which boxes count against a run, and which exit status the sum of them
// gives.
#include "upload/headless/HeadlessRunner.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace pellwick {
namespace {

struct Box {
    MsgKind kind;
    std::string text;
    unsigned buttons;
};

struct Row {
    const char* name;
    std::vector<Box> beforeRun; // start-up: printed, not counted
    std::vector<Box> inRun;
    bool answerIgnore;
    bool interrupted;
    int status;
};

const Box FolderWarning{MsgKind::Error, "Could not set directory specified by Default Path", MbOk};
const Box EmptyErrorString{MsgKind::Warning, "The device's error string \"UL Error\" is empty",
                           MbOk};
const Box ScriptErrorBox{MsgKind::Error, "Script error encountered", MbAbort | MbIgnore};
const Box UploadErrorBox{MsgKind::Error, "Upload error encountered, script aborted!", MbOk};
const Box PortErrorBox{MsgKind::Error, "Error Opening Selected Comm Port !", MbOk};

TEST(RunVerdictTest, BoxesOfTheRunDecideTheExitStatus) {
    const Row rows[] = {
        {"nothing shown", {}, {}, false, false, ExitClean},
        {"start-up error and a warning", {FolderWarning}, {EmptyErrorString}, false, false,
         ExitClean},
        {"port error at start-up counts", {PortErrorBox}, {}, false, false, ExitPortError},
        {"script error aborted", {}, {ScriptErrorBox}, false, false, ExitScriptError},
        {"script error ignored", {}, {ScriptErrorBox}, true, false, ExitErrorsIgnored},
        {"ignored, then the upload failed", {}, {ScriptErrorBox, UploadErrorBox}, true, false,
         ExitUploadError},
        {"upload error is never softened", {}, {UploadErrorBox, ScriptErrorBox}, false, false,
         ExitUploadError},
        {"interrupted without a report", {}, {}, false, true, ExitUploadError},
        {"the same error after the run started counts", {}, {FolderWarning}, false, false,
         ExitUploadError},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::FILE* sink = std::tmpfile();
        ASSERT_NE(sink, nullptr);
        RunnerMessageBoxes boxes(sink, row.answerIgnore);
        for (const Box& box : row.beforeRun) {
            boxes.Show(box.kind, box.text, box.buttons);
        }
        boxes.StartCounting();
        for (const Box& box : row.inRun) {
            boxes.Show(box.kind, box.text, box.buttons);
        }
        std::fclose(sink);
        RunVerdict verdict;
        verdict.outcome = boxes.Outcome();
        verdict.ignoredAnError = boxes.IgnoredAnError();
        verdict.interrupted = row.interrupted;
        EXPECT_EQ(ExitStatusFor(verdict), row.status);
        verdict.failed = true;
        EXPECT_EQ(ExitStatusFor(verdict), ExitFailure);
    }
}

TEST(RunVerdictTest, EveryExitStatusHasItsOwnName) {
    std::vector<std::string> names;
    for (int status : {ExitClean, ExitUsage, ExitScriptError, ExitUploadError, ExitPortError,
                       ExitScriptUnreadable, ExitErrorsIgnored, ExitFailure, ExitReportUnwritable,
                       ExitInterrupted}) {
        const std::string name = ExitStatusName(status);
        EXPECT_NE(name, "unknown") << status;
        EXPECT_EQ(std::find(names.begin(), names.end(), name), names.end()) << name;
        names.push_back(name);
    }
    EXPECT_STREQ(ExitStatusName(42), "unknown");
}

} // namespace
} // namespace pellwick
