// pellwick's command line: the folder to start in, or an upload script whose folder that is,
// the per-user folder for a start from the desktop menu, and --help and --version. Without
// arguments the program starts in the current folder.
#pragma once

#include "shell/CommandLine.h"

#include <string>
#include <vector>

namespace pellwick {

struct StartOptions {
    // FOLDER or SCRIPT as given; empty: the current folder.
    std::string Given;
    // Set by EnterStartFolder when a script was given: its absolute path, the script of
    // automatic starts in place of "Default Script" (loader.ini is not changed).
    std::string Script;
    // --data-folder: without FOLDER, start in the user's data folder (made when missing).
    bool DataFolder = false;
};

// Puts the window program's options on its command line, each filling options.
void DeclareStartOptions(CommandLine& line, StartOptions& options);
// Parses the arguments after the program name. Empty on success, else what is wrong.
std::string ParseStartOptions(const std::vector<std::string>& args, StartOptions& options);

std::string StartHelp();

// True when Qt has a display to open windows on: DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM
// is set, or the arguments name a platform. Without one Qt aborts before it lets the program
// read its arguments.
bool DisplayNamed(const std::vector<std::string>& args);

// The message for a start without a display.
std::string NoDisplayMessage();

// $XDG_DATA_HOME/pellwick, or ~/.local/share/pellwick; empty when neither is known.
std::string UserDataFolder();

// Makes the folder the options name the current directory (making the data folder first), as
// `cd FOLDER` before the start would. Empty on success, else a message that says what failed
// and what to do.
std::string EnterStartFolder(StartOptions& options);

} // namespace pellwick
