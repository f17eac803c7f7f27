#include "devsim/DevsimOptions.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <limits>

namespace pellwick {

namespace {

struct Option {
    const char* name;
    const char* value; // nullptr: a switch without a value
    const char* help;
    std::function<std::string(DevsimOptions&, const std::string&)> apply;
};

bool ParseInt(const std::string& text, std::int64_t min, std::int64_t max, std::int64_t& out) {
    if (text.empty() || text.size() > 18) {
        return false;
    }
    std::int64_t value = 0;
    std::size_t i = 0;
    const bool negative = text[0] == '-';
    if (negative) {
        i = 1;
    }
    if (i == text.size()) {
        return false;
    }
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    out = negative ? -value : value;
    return out >= min && out <= max;
}

// Option handlers that store a number in the given field.
template <typename Field>
auto Number(Field DeviceConfig::*field, std::int64_t min, std::int64_t max) {
    return [=](DevsimOptions& o, const std::string& v) -> std::string {
        std::int64_t n = 0;
        if (!ParseInt(v, min, max, n)) {
            return "expects a whole number from " + std::to_string(min) + " to " +
                   std::to_string(max) + ", not \"" + v + "\"";
        }
        o.device.*field = static_cast<Field>(n);
        return {};
    };
}

auto Text(std::string DeviceConfig::*field, bool allowEmpty) {
    return [=](DevsimOptions& o, const std::string& v) -> std::string {
        std::string decoded;
        if (!DevsimOptions::Unescape(v, decoded)) {
            return "has a malformed escape in \"" + v + "\"";
        }
        if (decoded.empty() && !allowEmpty) {
            return "must not be empty";
        }
        o.device.*field = decoded;
        return {};
    };
}

auto Flag(bool DeviceConfig::*field) {
    return [=](DevsimOptions& o, const std::string&) -> std::string {
        o.device.*field = true;
        return {};
    };
}

constexpr std::int64_t Big = std::numeric_limits<std::int64_t>::max() / 16;

const std::vector<Option>& Options() {
    static const std::vector<Option> options = {
        // Listed for the help text; the command line answers them itself.
        {"help", nullptr, "show this text and exit", {}},
        {"version", nullptr, "print the program's name and version and exit", {}},
        // Strings and commands.
        {"prompt", "TEXT", "prompt in normal mode (default \"#\")",
         Text(&DeviceConfig::prompt, false)},
        {"error", "TEXT", "error string in normal mode (default \"?\")",
         Text(&DeviceConfig::error, false)},
        {"upload-prompt", "TEXT", "prompt in upload mode (default \">\")",
         Text(&DeviceConfig::uploadPrompt, false)},
        {"upload-error", "TEXT", "error string in upload mode (default \"ERR\")",
         Text(&DeviceConfig::uploadError, false)},
        {"result", "TEXT", "marker between a command and its value (default \"=\")",
         Text(&DeviceConfig::resultMarker, false)},
        {"command", "NAME[=VALUE]",
         "add or replace a command; with a value it answers NAME<result>VALUE CR LF prompt, "
         "without one the prompt alone; repeatable (default: VER=2.10)",
         [](DevsimOptions& o, const std::string& v) -> std::string {
             std::string decoded;
             if (!DevsimOptions::Unescape(v, decoded)) {
                 return "has a malformed escape in \"" + v + "\"";
             }
             DeviceCommand command;
             const auto eq = decoded.find('=');
             command.name = decoded.substr(0, eq);
             if (eq != std::string::npos) {
                 command.value = decoded.substr(eq + 1);
                 command.hasValue = true;
             }
             if (command.name.empty()) {
                 return "needs a command name";
             }
             auto& list = o.device.commands;
             std::erase_if(list, [&](const DeviceCommand& c) { return c.name == command.name; });
             list.push_back(command);
             return {};
         }},
        {"no-commands", nullptr, "forget the default commands (VER)",
         [](DevsimOptions& o, const std::string&) -> std::string {
             o.device.commands.clear();
             return {};
         }},
        {"upload-command", "NAME", "command that enters upload mode (default UL)",
         Text(&DeviceConfig::uploadCommand, false)},
        {"normal-command", "NAME", "command that leaves upload mode (default GO)",
         Text(&DeviceConfig::normalCommand, false)},
        {"echo", nullptr, "echo the characters of command lines (default: no echo)",
         Flag(&DeviceConfig::echo)},
        {"no-prompt-after-error", nullptr,
         "answer an error with the error string alone (default: error, CR LF, prompt)",
         [](DevsimOptions& o, const std::string&) -> std::string {
             o.device.promptAfterError = false;
             return {};
         }},
        {"max-line", "N", "longest command line in bytes; longer ones are refused (default 256)",
         Number(&DeviceConfig::maxLine, 1, 1 << 20)},
        // Uploads.
        {"store", "DIR",
         "keep accepted files in DIR, named by address; a missing DIR is made at start "
         "(default: check, do not keep)",
         Text(&DeviceConfig::storeDir, false)},
        {"max-size", "BYTES", "largest file a header may announce (default 67108864)",
         Number(&DeviceConfig::maxFileSize, 0, Big)},
        {"data-timeout", "MS",
         "abandon a file when no byte of it arrives for MS milliseconds; 0 waits for ever "
         "(default 0)",
         Number(&DeviceConfig::dataTimeoutMs, 0, Big)},
        {"resync", "MS",
         "after an error inside a file, discard input until the line has been quiet for MS "
         "milliseconds (default 200)",
         Number(&DeviceConfig::resyncMs, 0, Big)},
        // Line.
        {"baud", "RATE",
         "emulate a line of RATE baud (10 bits a byte): read and send no faster; 0 is "
         "unpaced (default 0)",
         Number(&DeviceConfig::baud, 0, 100000000)},
        {"burst", "BYTES", "most bytes moved at once on a paced line (default 64)",
         Number(&DeviceConfig::burst, 1, 65536)},
        // Faults.
        {"silent", nullptr, "fault: answer nothing at all", Flag(&DeviceConfig::silent)},
        {"err-after", "N",
         "fault: send the upload error after N bytes of every file (0: right after the header)",
         Number(&DeviceConfig::errAfter, 0, Big)},
        {"err-repeat", "K",
         "fault: send the error of --err-after K times in all, while the rest of the file is "
         "discarded (default 1)",
         Number(&DeviceConfig::errRepeat, 1, 1000000)},
        {"err-repeat-ms", "MS", "pause between the repeated errors of --err-repeat (default 100)",
         Number(&DeviceConfig::errRepeatMs, 0, 3600000)},
        {"corrupt-at", "OFFSET", "fault: invert the byte at OFFSET of every file",
         Number(&DeviceConfig::corruptAt, 0, Big)},
        {"drop-at", "OFFSET", "fault: lose the byte at OFFSET of every file",
         Number(&DeviceConfig::dropAt, 0, Big)},
        {"garbage", "N", "fault: put N junk bytes in front of every answer",
         Number(&DeviceConfig::garbage, 0, 1 << 20)},
        {"flood", "N", "fault: send N junk bytes once, before the first answer",
         Number(&DeviceConfig::flood, 0, 1 << 30)},
        {"hangup-after", "N",
         "fault: close the line after N received bytes and exit (0: at the first byte)",
         Number(&DeviceConfig::hangupAfter, 0, Big)},
        {"stall-after", "N",
         "fault: read nothing more after N received bytes, so that the line fills and holds "
         "what the peer sends (0: read nothing at all)",
         Number(&DeviceConfig::stallAfter, 0, Big)},
        {"unplug-after-ms", "MS",
         "fault: unplug MS milliseconds after each plug-in: the --link goes, then the line "
         "closes, so that the peer sees a hang-up (SIGUSR1 unplugs at once)",
         Number(&DeviceConfig::unplugAfterMs, 0, Big)},
        {"unplug-after-bytes", "N", "fault: unplug after N bytes received since the plug-in",
         Number(&DeviceConfig::unplugAfterBytes, 0, Big)},
        {"replug-after-ms", "MS",
         "plug in again MS milliseconds after an unplug: a new pseudo-terminal, the --link "
         "pointed at it and its path printed on a line of its own (default: wait for SIGUSR2)",
         [](DevsimOptions& o, const std::string& v) -> std::string {
             return ParseInt(v, 0, Big, o.replugAfterMs)
                        ? ""
                        : "expects a whole number of milliseconds, not \"" + v + "\"";
         }},
        {"cycles", "N",
         "timed unplugs in all; after the last one the device stays plugged in; 0 repeats "
         "until stopped (default 1)",
         [](DevsimOptions& o, const std::string& v) -> std::string {
             return ParseInt(v, 0, Big, o.cycles) ? ""
                                                  : "expects a whole number, not \"" + v + "\"";
         }},
        {"delay", "MS", "fault: send every answer MS milliseconds late",
         Number(&DeviceConfig::answerDelayMs, 0, 3600000)},
        {"refuse-verify", nullptr, "fault: refuse every file at its verifying CR, intact or not",
         Flag(&DeviceConfig::refuseVerify)},
        {"verify-delay", "MS",
         "fault: hold back the answer to a file's verifying CR by MS milliseconds (answers keep "
         "their order)",
         Number(&DeviceConfig::verifyDelayMs, 0, 3600000)},
        {"ignore-verify", "N",
         "fault: leave the first N verifying CRs of every file unanswered; the file waits for "
         "the next one",
         Number(&DeviceConfig::ignoreVerify, 0, Big)},
        {"forget-refusal", nullptr,
         "fault: after a refused file answer the next lone CR with the prompt again (default: "
         "the error until the next header or mode command)",
         Flag(&DeviceConfig::forgetRefusal)},
        {"noise-after-data", "N",
         "fault: send N junk bytes, prompt characters among them, after the last byte of "
         "every file",
         Number(&DeviceConfig::noiseAfterData, 0, 1 << 30)},
        {"split-error", "MS",
         "fault: send every error answer in two pieces, MS milliseconds apart, split after "
         "the error string's first byte",
         Number(&DeviceConfig::splitErrorMs, 0, 60000)},
        {"unsolicited-error-ms", "MS",
         "fault: send the error answer of the current mode, unasked, MS milliseconds after the "
         "first byte received since the plug-in",
         Number(&DeviceConfig::unsolicitedErrorMs, 0, Big)},
        {"unsolicited-error-line", "N",
         "fault: send the error answer of the current mode, unasked, right after the answer to "
         "the N-th line received since the plug-in (file data is no line)",
         Number(&DeviceConfig::unsolicitedErrorLine, 1, Big)},
        {"refuse-command", "NAME[:COUNT]",
         "fault: answer the first COUNT receipts of command NAME (default 1) as an unknown "
         "command, then treat it normally; repeatable",
         [](DevsimOptions& o, const std::string& v) -> std::string {
             std::string decoded;
             if (!DevsimOptions::Unescape(v, decoded)) {
                 return "has a malformed escape in \"" + v + "\"";
             }
             RefusedCommand refusal{decoded, 1};
             if (const auto colon = decoded.rfind(':'); colon != std::string::npos) {
                 refusal.name = decoded.substr(0, colon);
                 if (!ParseInt(decoded.substr(colon + 1), 1, Big, refusal.count)) {
                     return "expects a count from 1 after the colon, not \"" + v + "\"";
                 }
             }
             if (refusal.name.empty()) {
                 return "needs a command name";
             }
             auto& list = o.device.refusedCommands;
             // Names compare without case, as the device compares commands.
             const auto upper = [](char c) { return std::toupper(static_cast<unsigned char>(c)); };
             std::erase_if(list, [&](const RefusedCommand& r) {
                 return std::ranges::equal(r.name, refusal.name, {}, upper, upper);
             });
             list.push_back(refusal);
             return {};
         }},
        {"seed", "N", "seed of the junk bytes (default 12345)",
         Number(&DeviceConfig::junkSeed, 0, 0xFFFFFFFFll)},
        // Where and how.
        {"transcript", "FILE", "write what was received and sent, with times, to FILE",
         Text(&DeviceConfig::transcriptPath, false)},
        {"device", "PATH", "serve the serial device PATH instead of a new pseudo-terminal",
         [](DevsimOptions& o, const std::string& v) -> std::string {
             o.devicePath = v;
             return v.empty() ? "must not be empty" : "";
         }},
        {"path-file", "FILE", "also write the line's path into FILE (removed at exit)",
         [](DevsimOptions& o, const std::string& v) -> std::string {
             o.pathFile = v;
             return v.empty() ? "must not be empty" : "";
         }},
        {"link", "PATH", "also make PATH a symbolic link to the line (removed at exit)",
         [](DevsimOptions& o, const std::string& v) -> std::string {
             o.linkPath = v;
             return v.empty() ? "must not be empty" : "";
         }},
    };
    return options;
}

} // namespace

bool DevsimOptions::Unescape(const std::string& text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(text[i]);
            continue;
        }
        if (++i == text.size()) {
            return false;
        }
        switch (text[i]) {
        case 'r':
            out.push_back('\r');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case 't':
            out.push_back('\t');
            break;
        case '\\':
            out.push_back('\\');
            break;
        case 'x': {
            if (i + 2 >= text.size()) {
                return false;
            }
            const std::string hex = text.substr(i + 1, 2);
            if (!std::isxdigit(static_cast<unsigned char>(hex[0])) ||
                !std::isxdigit(static_cast<unsigned char>(hex[1]))) {
                return false;
            }
            out.push_back(static_cast<char>(std::stoi(hex, nullptr, 16)));
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

void DevsimOptions::Declare(CommandLine& line) {
    for (const Option& option : Options()) {
        const std::string name = option.name;
        if (!option.apply) {
            continue;
        }
        const auto take = [this, &option](const std::string& value) {
            return option.apply(*this, value);
        };
        if (option.value == nullptr) {
            line.Switch(name, [take] { take({}); });
        } else {
            line.Value(name, take);
        }
    }
    line.Check([this]() -> std::string {
        if (device.errRepeat > 1 && device.errAfter < 0) {
            return "--err-repeat repeats the error of --err-after, which is missing";
        }
        if (device.uploadCommand == device.normalCommand) {
            return "--upload-command and --normal-command must differ";
        }
        const bool timedUnplug = device.unplugAfterMs >= 0 || device.unplugAfterBytes >= 0;
        if ((timedUnplug || replugAfterMs >= 0) && !devicePath.empty()) {
            return "--device cannot be unplugged: the unplug options need a pseudo-terminal";
        }
        if (timedUnplug && linkPath.empty()) {
            return "the unplug options need --link (the path that goes and comes back)";
        }
        return {};
    });
}

std::string DevsimOptions::Parse(const std::vector<std::string>& args) {
    CommandLine line("pellwick-devsim", "", HelpText);
    Declare(line);
    const CommandLine::Result result = line.Parse(args);
    help = result.outcome == CommandLine::Outcome::Help;
    version = result.outcome == CommandLine::Outcome::Version;
    return result.error;
}

std::string DevsimOptions::HelpText() {
    std::string text =
        "Usage: pellwick-devsim [OPTION]...\n"
        "Plays the remote device on a new pseudo-terminal (or on --device) and prints\n"
        "the path of the line on the first line of standard output. Runs until SIGTERM\n"
        "or SIGINT. SIGUSR1 unplugs the line (the --link goes, then the pseudo-terminal\n"
        "closes); SIGUSR2 plugs it in again on a new pseudo-terminal, points the link at\n"
        "it and prints its path on a line of its own.\n"
        "Text options accept the escapes \\r \\n \\t \\\\ and \\xHH.\n\n";
    for (const Option& option : Options()) {
        std::string head = std::string("  --") + option.name;
        if (option.value != nullptr) {
            head += std::string(" ") + option.value;
        }
        text += head;
        // The description is wrapped into a column that starts at 26 and ends before 80.
        std::size_t column = head.size();
        if (column >= 26) {
            text += "\n";
            column = 0;
        }
        text += std::string(26 - column, ' ');
        column = 26;
        const std::string help = option.help;
        std::size_t pos = 0;
        while (pos < help.size()) {
            auto end = help.find(' ', pos);
            if (end == std::string::npos) {
                end = help.size();
            }
            const std::size_t length = end - pos;
            if (column > 26 && column + 1 + length > 79) {
                text += "\n" + std::string(26, ' ');
                column = 26;
            } else if (column > 26) {
                text += ' ';
                ++column;
            }
            text.append(help, pos, length);
            column += length;
            pos = end + 1;
        }
        text += "\n";
    }
    text += "\nExit status: 0 when stopped by a signal or after the hang-up fault, 1 for a\n"
            "wrong command line, or when the line could not be opened or was lost or the\n"
            "--store folder cannot be made or written to.\n";
    return text;
}

} // namespace pellwick
