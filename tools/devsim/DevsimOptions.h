// The simulator's options: long ones only, "--name value" or "--name=value".
#pragma once

#include "devsim/DeviceConfig.h"
#include "shell/CommandLine.h"

#include <string>
#include <vector>

namespace pellwick {

struct DevsimOptions {
    DeviceConfig device;
    std::string devicePath; // serve this device instead of a new pseudo-terminal
    std::string pathFile;   // write the line's path into this file
    std::string linkPath;   // make this symbolic link point at the line's path
    // After an unplug: plug in again (a new pseudo-terminal, the link pointed at it) this long
    // later; -1 waits for SIGUSR2. cycles: timed unplugs in all, 0 without end.
    std::int64_t replugAfterMs = -1;
    std::int64_t cycles = 1;
    bool help = false;
    bool version = false;

    // Puts the options on the command line, each filling this object.
    void Declare(CommandLine& line);
    // Parses the arguments after the program name. Returns an empty string on success,
    // otherwise what is wrong.
    std::string Parse(const std::vector<std::string>& args);

    static std::string HelpText();
    // Decodes \r \n \t \\ and \xHH in a string option; false on a malformed escape.
    static bool Unescape(const std::string& text, std::string& out);
};

} // namespace pellwick
