// The command line every installed program shares: --version and --help answer without a
// display; the window program's start folder and its failures.
#include "e2e/RunnerProcess.h"

#include "support/DevsimHarness.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace pellwick::e2e {
namespace {

using namespace std::chrono_literals;

struct Program {
    const char* name;
    std::string exe;
};

std::vector<Program> Programs() {
    return {{"pellwick", PELLWICK_EXE},
            {"pellwick-run", RunnerProcess::ExecutablePath()},
            {"pellwick-station", PELLWICK_STATION_EXE},
            {"pellwick-devsim", DevsimHarness::ExecutablePath()}};
}

int RunProgram(const Program& program, const std::vector<std::string>& args, std::string& output) {
    RunnerProcess process;
    TempFolder folder;
    if (!process.Start(folder.Path(), args, program.exe)) {
        output = process.Error();
        return -1;
    }
    const int status = process.Wait(60s);
    output = process.Output();
    return status;
}

TEST(CommandLineTest, EveryProgramAnswersVersionAndHelpWithoutADisplay) {
    const ScopedEnv display("DISPLAY", nullptr);
    const ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    const ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
    for (const Program& program : Programs()) {
        SCOPED_TRACE(program.name);
        std::string output;
        EXPECT_EQ(RunProgram(program, {"--version"}, output), 0) << output;
        EXPECT_EQ(output, std::string(program.name) + " " + PELLWICK_VERSION + "\n");
        EXPECT_EQ(RunProgram(program, {"--help"}, output), 0) << output;
        EXPECT_EQ(output.rfind(std::string("Usage: ") + program.name + " ", 0), 0u) << output;
        EXPECT_NE(output.find("--version"), std::string::npos) << output;
    }
}

// With a display and without one: Qt aborts without a display unless the program speaks first.
TEST(CommandLineTest, WindowProgramRefusesABadStartBeforeItOpensAWindow) {
    const ScopedEnv display("DISPLAY", nullptr);
    const ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    TempFolder folder;
    std::string output;
    const std::string notAScript = folder.File("loader.ini");
    std::FILE* file = std::fopen(notAScript.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Row rows[] = {
        {{"--bogus"}, 1, "pellwick: unknown option --bogus (see --help)"},
        {{folder.Path(), folder.Path()}, 1, "more than one folder or script given"},
        {{folder.File("gone")},
         2,
         "pellwick: cannot start in " + folder.File("gone") + ": No such file or directory"},
        {{notAScript}, 2, "neither a folder nor an upload script (.sld)"},
    };
    for (const char* platform : {"offscreen", static_cast<const char*>(nullptr)}) {
        const ScopedEnv qpa("QT_QPA_PLATFORM", platform);
        for (const Row& row : rows) {
            SCOPED_TRACE(row.args.front() + (platform ? " offscreen" : " without a display"));
            EXPECT_EQ(RunProgram(Programs().front(), row.args, output), row.status) << output;
            EXPECT_NE(output.find(row.message), std::string::npos) << output;
        }
    }
    const ScopedEnv noPlatform("QT_QPA_PLATFORM", nullptr);
    EXPECT_EQ(RunProgram(Programs().front(), {folder.Path()}, output), 1) << output;
    EXPECT_NE(output.find("pellwick: cannot open the window: there is no display"),
              std::string::npos)
        << output;
}

} // namespace
} // namespace pellwick::e2e
