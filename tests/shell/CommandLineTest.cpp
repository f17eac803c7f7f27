// The command line the programs share: both value forms, the faults it refuses with one line
// each, --help and --version before any fault, and what it prints for each.
#include "shell/CommandLine.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace pellwick {
namespace {

struct Parsed {
    CommandLine::Result result;
    std::string text;
    std::vector<std::string> operands;
};

// A program with a switch, a text, a number, at most one operand and a rule across options.
Parsed Parse(const std::vector<std::string>& args) {
    Parsed parsed;
    bool flag = false;
    CommandLine line("prog", "1.0", [] { return std::string("Usage: prog\n"); });
    line.Switch("flag", flag);
    line.Value("text", parsed.text);
    line.Value("number", [](const std::string& v) {
        return v.find_first_not_of("0123456789") == std::string::npos
                   ? std::string()
                   : "expects a number, not \"" + v + "\"";
    });
    line.Operands([&](const std::string& operand) {
        parsed.operands.push_back(operand);
        return parsed.operands.size() > 1 ? std::string("more than one file given") : "";
    });
    line.Check([&] { return flag && parsed.text.empty() ? "--flag needs --text" : ""; });
    parsed.result = line.Parse(args);
    return parsed;
}

using Outcome = CommandLine::Outcome;

TEST(CommandLineTest, TakesBothValueFormsAndRefusesEachFaultWithItsReason) {
    struct Row {
        std::vector<std::string> args;
        Outcome outcome;
        std::string error;
    };
    const Row rows[] = {
        {{"--text", "a", "--flag"}, Outcome::Run, ""},
        {{"--text=a=b", "--number=12"}, Outcome::Run, ""},
        {{"--text", "--flag"}, Outcome::Run, ""}, // the next argument is the value
        {{"--", "-x", "--flag"}, Outcome::Usage, "more than one file given"},
        {{"-", "--number", "1"}, Outcome::Run, ""},
        {{"--text="}, Outcome::Usage, "--text needs a value"},
        {{"--number"}, Outcome::Usage, "--number needs a value"},
        {{"--number", "x1"}, Outcome::Usage, "--number expects a number, not \"x1\""},
        {{"--flag=1"}, Outcome::Usage, "--flag takes no value"},
        {{"--bogus=3"}, Outcome::Usage, "unknown option --bogus"},
        {{"-x"}, Outcome::Usage, "unknown option -x"},
        {{"a", "b"}, Outcome::Usage, "more than one file given"},
        {{"--flag"}, Outcome::Usage, "--flag needs --text"},
        {{"--bogus", "--version", "-h"}, Outcome::Help, ""},
        {{"--number", "x", "--version"}, Outcome::Version, ""},
        {{"--", "--help"}, Outcome::Run, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.front());
        const Parsed parsed = Parse(row.args);
        EXPECT_EQ(parsed.result.outcome, row.outcome);
        EXPECT_EQ(parsed.result.error, row.error);
    }
    EXPECT_EQ(Parse({"--text", "--flag"}).text, "--flag");
    EXPECT_EQ(Parse({"-", "--text", "a"}).operands, (std::vector<std::string>{"-"}));
    EXPECT_EQ(Parse({"--", "--help"}).operands, (std::vector<std::string>{"--help"}));
}

TEST(CommandLineTest, AnswersHelpVersionAndUsageOnTheirStreamsWithTheirStatus) {
    CommandLine line("prog", "1.0", [] { return std::string("Usage: prog\n"); });
    struct Row {
        std::vector<std::string> args;
        std::optional<int> status;
        std::string out, err;
    };
    const Row rows[] = {
        {{"--help"}, 0, "Usage: prog\n", ""},
        {{"--version"}, 0, "prog 1.0\n", ""},
        {{"--nope"}, UsageExitStatus, "", "prog: unknown option --nope (see --help)\n"},
        {{"file"}, UsageExitStatus, "", "prog: unexpected argument \"file\" (see --help)\n"},
        {{}, std::nullopt, "", ""},
    };
    for (const Row& row : rows) {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        ASSERT_TRUE(out != nullptr && err != nullptr);
        EXPECT_EQ(line.Answer(row.args, out, err), row.status);
        for (auto [file, expected] : {std::pair{out, row.out}, std::pair{err, row.err}}) {
            std::rewind(file);
            char buffer[256] = {};
            EXPECT_EQ(std::string(buffer, std::fread(buffer, 1, sizeof buffer, file)), expected);
            std::fclose(file);
        }
    }
}

} // namespace
} // namespace pellwick
