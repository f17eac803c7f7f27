#include "app/StartOptions.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace pellwick {

namespace fs = std::filesystem;

namespace {

bool IsScriptName(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".sld";
}

// The folder to enter for FOLDER or SCRIPT, and the script's absolute path; empty with a message
// in why when it is neither.
std::string FolderOf(const std::string& given, std::string& script, std::string& why) {
    std::error_code error;
    const fs::file_status status = fs::status(given, error);
    if (fs::is_directory(status)) {
        return given;
    }
    if (fs::exists(status) && IsScriptName(given)) {
        const fs::path absolute = fs::absolute(given, error);
        script = absolute.string();
        return absolute.parent_path().string();
    }
    if (fs::exists(status)) {
        why = "cannot start in " + given +
              ": it is neither a folder nor an upload script (.sld); name the folder that holds "
              "loader.ini, or a script";
    } else {
        why = "cannot start in " + given + ": " +
              (error ? error.message() : std::string("no such file or folder")) +
              "; name an existing folder or script";
    }
    return {};
}

} // namespace

void DeclareStartOptions(CommandLine& line, StartOptions& options) {
    line.Switch("data-folder", options.DataFolder);
    line.Operands([&options](const std::string& given) -> std::string {
        if (!options.Given.empty() || given.empty()) {
            return "more than one folder or script given";
        }
        options.Given = given;
        return {};
    });
}

std::string ParseStartOptions(const std::vector<std::string>& args, StartOptions& options) {
    CommandLine line("pellwick", "", StartHelp);
    DeclareStartOptions(line, options);
    return line.Parse(args).error;
}

std::string StartHelp() {
    return "Usage: pellwick [--data-folder] [FOLDER | SCRIPT.sld]\n"
           "\n"
           "Opens the main window of \"Quarrow, RS232 Pellwick\". The program works in the\n"
           "folder it starts in: it reads and writes loader.ini there, enters \"Default Path\"\n"
           "of loader.ini, and \"Start File Upload\" writes loader.log in that folder.\n"
           "\n"
           "  FOLDER          start in FOLDER instead of the current folder\n"
           "  SCRIPT.sld      start in the script's folder and run this script on \"Start File\n"
           "                  Upload\" in automatic mode, in place of \"Default Script\" of\n"
           "                  loader.ini (the file is not changed)\n"
           "  --data-folder   without FOLDER or SCRIPT, start in the user's data folder,\n"
           "                  $XDG_DATA_HOME/pellwick (~/.local/share/pellwick), made when\n"
           "                  missing: the desktop menu starts the program so\n"
           "  --help          show this text\n"
           "  --version       print the program's name and version\n"
           "\n"
           "Qt's own options (-platform, -style, ...) are accepted as well.\n"
           "\n"
           "Exit status: 0 when the main window was closed, 1 for a wrong command line or\n"
           "when there is no display, 2 when the start folder cannot be entered.\n";
}

bool DisplayNamed(const std::vector<std::string>& args) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return true;
        }
    }
    return std::any_of(args.begin(), args.end(), [](const std::string& a) {
        return a == "-platform" || a == "--platform" || a.rfind("-platform=", 0) == 0 ||
               a.rfind("--platform=", 0) == 0;
    });
}

std::string NoDisplayMessage() {
    return "cannot open the window: there is no display (DISPLAY and WAYLAND_DISPLAY are not "
           "set); start it on a desktop, or run a script without a window with pellwick-run";
}

std::string UserDataFolder() {
    // Relative values are to be ignored, by the base directory rules.
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/') {
        return std::string(dataHome) + "/pellwick";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/share/pellwick";
    }
    return {};
}

std::string EnterStartFolder(StartOptions& options) {
    std::string folder;
    if (!options.Given.empty()) {
        std::string why;
        folder = FolderOf(options.Given, options.Script, why);
        if (folder.empty()) {
            return why;
        }
    }
    std::error_code error;
    if (folder.empty() && options.DataFolder) {
        folder = UserDataFolder();
        if (folder.empty()) {
            return "--data-folder: neither XDG_DATA_HOME nor HOME names a folder; name the "
                   "folder to start in";
        }
        fs::create_directories(folder, error);
        if (error) {
            return "cannot make the data folder " + folder + ": " + error.message() +
                   "; name the folder to start in";
        }
    }
    if (folder.empty()) {
        return {};
    }
    fs::current_path(folder, error);
    if (error) {
        return "cannot start in " + folder + ": " + error.message() +
               "; name a folder you may enter";
    }
    return {};
}

} // namespace pellwick
