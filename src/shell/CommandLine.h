// The command line of every program: long options "--name", with a value as "--name VALUE" or
// "--name=VALUE"; "-h" stands for --help; "--" ends the options; the rest are operands. It
// answers --help (the program's text on standard output, status 0), --version (one line
// "<program> <version>", status 0) and a usage error (one line "<program>: <what is wrong>
// (see --help)" on standard error, UsageExitStatus) the same way in each program.
//
// It is built on the standard library alone: the device simulator belongs to the Qt-free core
// build, where QCommandLineParser does not exist.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pellwick {

// The exit status of every program for a command line it cannot use.
inline constexpr int UsageExitStatus = 1;

class CommandLine {
public:
    // Takes an option's value or an operand: empty when taken, else what is wrong with it. For
    // an option the parser puts "--name " in front of that.
    using Take = std::function<std::string(const std::string&)>;

    CommandLine(std::string program, std::string version, std::function<std::string()> help);

    // An option without a value.
    void Switch(const std::string& name, std::function<void()> set);
    void Switch(const std::string& name, bool& flag);
    // An option with a value; the second form refuses an empty one.
    void Value(const std::string& name, Take take);
    void Value(const std::string& name, std::string& text);
    // Takes each operand in turn; without it an operand is a usage error.
    void Operands(Take take);
    // Runs once every argument is taken, for rules across options; empty when they hold.
    void Check(std::function<std::string()> check);

    enum class Outcome { Run, Help, Version, Usage };
    struct Result {
        Outcome outcome = Outcome::Run;
        std::string error; // for Usage: what is wrong
    };
    // --help and --version are answered whatever else the arguments hold (so a program can
    // answer them before it needs anything else); otherwise the first fault is the result.
    Result Parse(const std::vector<std::string>& args) const;

    // Parses, and answers --help, --version or a usage error on out and err: the exit status
    // then, nullopt when the program is to run.
    std::optional<int> Answer(const std::vector<std::string>& args, std::FILE* out = stdout,
                              std::FILE* err = stderr) const;
    std::optional<int> Answer(const Result& result, std::FILE* out = stdout,
                              std::FILE* err = stderr) const;

    std::string Help() const { return help_(); }
    std::string VersionLine() const { return program_ + " " + version_; }
    std::string UsageLine(const std::string& what) const;

private:
    struct Option {
        std::string name;
        bool takesValue;
        Take take;
    };
    const Option* Find(const std::string& name) const;
    // The first fault of the arguments, empty when there is none.
    std::string TakeAll(const std::vector<std::string>& args) const;

    std::string program_;
    std::string version_;
    std::function<std::string()> help_;
    std::vector<Option> options_;
    Take operands_;
    std::vector<std::function<std::string()>> checks_;
};

} // namespace pellwick
