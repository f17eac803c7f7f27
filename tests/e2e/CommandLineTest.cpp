// The command line every installed program shares: --help, --version and usage errors answered
// alike without a display; the window program's start folder and its failures.
#include "e2e/RunnerProcess.h"

#include "support/DevsimHarness.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/wait.h>

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

struct Streams {
    int status = -1;
    std::string out, err;
};

std::string ReadAll(std::FILE* file) {
    std::string text;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, file)) {
        text.append(buffer, n);
    }
    return text;
}

// Runs the program in a fresh folder with its standard output and error apart.
Streams RunApart(const Program& program, const std::vector<std::string>& args) {
    TempFolder folder;
    const auto quoted = [](const std::string& text) { return "'" + text + "'"; };
    std::string command = "cd " + quoted(folder.Path()) + " && " + quoted(program.exe);
    for (const std::string& arg : args) {
        command += " " + quoted(arg);
    }
    command += " 2>" + quoted(folder.File("stderr"));
    Streams streams;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return streams;
    }
    streams.out = ReadAll(pipe);
    const int status = pclose(pipe);
    streams.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (std::FILE* err = std::fopen(folder.File("stderr").c_str(), "r")) {
        streams.err = ReadAll(err);
        std::fclose(err);
    }
    return streams;
}

// One shape for all four, without a display: help and version on standard output with status
// 0, a usage error as one line on standard error with status 1.
TEST(CommandLineTest, EveryProgramAnswersHelpVersionAndUsageErrorsAlike) {
    const ScopedEnv display("DISPLAY", nullptr);
    const ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    const ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
    const std::vector<std::pair<std::vector<std::string>, std::string>> badValues = {
        {{"--data-folder=yes"}, "--data-folder takes no value"},
        {{"--wait-port", "soon"},
         "--wait-port expects whole seconds from 0 to 86400, not \"soon\""},
        // Checked before anything starts, not when the first board is done.
        {{"--junit", "/nonexistent/junit"},
         "--junit /nonexistent/junit is not a folder: make it first"},
        {{"--baud", "fast"}, "--baud expects a whole number from 0 to 100000000, not \"fast\""},
    };
    const std::vector<Program> programs = Programs();
    for (std::size_t i = 0; i < programs.size(); ++i) {
        const Program& program = programs[i];
        const std::string name = program.name;
        SCOPED_TRACE(name);
        const Streams help = RunApart(program, {"--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind("Usage: " + name + " ", 0), 0u) << help.out;
        EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;
        EXPECT_EQ(help.err, "");
        const Streams version = RunApart(program, {"--version"});
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.out, name + " " + PELLWICK_VERSION + "\n");
        EXPECT_EQ(version.err, "");
        const Streams unknown = RunApart(program, {"--bogus=1"});
        EXPECT_EQ(unknown.status, 1);
        EXPECT_EQ(unknown.out, "");
        EXPECT_EQ(unknown.err, name + ": unknown option --bogus (see --help)\n");
        const Streams bad = RunApart(program, badValues[i].first);
        EXPECT_EQ(bad.status, 1);
        EXPECT_EQ(bad.out, "");
        EXPECT_EQ(bad.err, name + ": " + badValues[i].second + " (see --help)\n");
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
