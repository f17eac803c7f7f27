#include "shell/CommandLine.h"

#include <utility>

namespace pellwick {

namespace {

bool IsHelp(const std::string& arg) {
    return arg == "--help" || arg == "-h";
}

} // namespace

CommandLine::CommandLine(std::string program, std::string version,
                         std::function<std::string()> help)
    : program_(std::move(program)), version_(std::move(version)), help_(std::move(help)) {}

void CommandLine::Switch(const std::string& name, std::function<void()> set) {
    options_.push_back({name, false, [set = std::move(set)](const std::string&) {
                            set();
                            return std::string();
                        }});
}

void CommandLine::Switch(const std::string& name, bool& flag) {
    Switch(name, [&flag] { flag = true; });
}

void CommandLine::Value(const std::string& name, Take take) {
    options_.push_back({name, true, std::move(take)});
}

void CommandLine::Value(const std::string& name, std::string& text) {
    Value(name, [&text](const std::string& value) {
        text = value;
        return value.empty() ? std::string("needs a value") : std::string();
    });
}

void CommandLine::Operands(Take take) {
    operands_ = std::move(take);
}

void CommandLine::Check(std::function<std::string()> check) {
    checks_.push_back(std::move(check));
}

const CommandLine::Option* CommandLine::Find(const std::string& name) const {
    for (const Option& option : options_) {
        if (option.name == name) {
            return &option;
        }
    }
    return nullptr;
}

std::string CommandLine::TakeAll(const std::vector<std::string>& args) const {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        // "-" alone is an operand, as it is for most programs.
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (!operands_) {
                return "unexpected argument \"" + arg + "\"";
            }
            if (std::string error = operands_(arg); !error.empty()) {
                return error;
            }
            continue;
        }
        const auto equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const Option* option = name.rfind("--", 0) == 0 ? Find(name.substr(2)) : nullptr;
        if (option == nullptr) {
            return "unknown option " + name;
        }
        std::string value;
        if (!option->takesValue) {
            if (equals != std::string::npos) {
                return name + " takes no value";
            }
        } else if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return name + " needs a value";
        }
        if (std::string error = option->take(value); !error.empty()) {
            return name + " " + error;
        }
    }
    for (const auto& check : checks_) {
        if (std::string error = check(); !error.empty()) {
            return error;
        }
    }
    return {};
}

CommandLine::Result CommandLine::Parse(const std::vector<std::string>& args) const {
    Result result;
    bool version = false;
    for (const std::string& arg : args) {
        if (arg == "--") {
            break;
        }
        if (IsHelp(arg)) {
            result.outcome = Outcome::Help;
            return result;
        }
        version = version || arg == "--version";
    }
    if (version) {
        result.outcome = Outcome::Version;
        return result;
    }
    result.error = TakeAll(args);
    result.outcome = result.error.empty() ? Outcome::Run : Outcome::Usage;
    return result;
}

std::string CommandLine::UsageLine(const std::string& what) const {
    return program_ + ": " + what + " (see --help)";
}

std::optional<int> CommandLine::Answer(const std::vector<std::string>& args, std::FILE* out,
                                       std::FILE* err) const {
    return Answer(Parse(args), out, err);
}

std::optional<int> CommandLine::Answer(const Result& result, std::FILE* out, std::FILE* err) const {
    switch (result.outcome) {
    case Outcome::Run:
        return std::nullopt;
    case Outcome::Help:
        std::fputs(Help().c_str(), out);
        return 0;
    case Outcome::Version:
        std::fprintf(out, "%s\n", VersionLine().c_str());
        return 0;
    case Outcome::Usage:
        std::fprintf(err, "%s\n", UsageLine(result.error).c_str());
        return UsageExitStatus;
    }
    return UsageExitStatus;
}

} // namespace pellwick
