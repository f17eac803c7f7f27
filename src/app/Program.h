// The program body: port map, the port's owner, the main window, the settings dialog, the
// terminal window (made on first use), the about box, and the message loop. Closing the main
// window ends the loop; the other windows go with it.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "app/TSplashScreen.h"
#include "serial/MessageBoxes.h"

namespace pellwick {

class PortOwner;
class TAboutBox;
class TFrmLoadr;
class TFrmS_comm;
class TFrmTerminal;

// The program's windows once they all exist.
struct ProgramWindows {
    TFrmLoadr* Main = nullptr;
    TFrmS_comm* Settings = nullptr;
    TAboutBox* About = nullptr;
    PortOwner* Owner = nullptr;
    // The terminal window, null until it was first opened.
    std::function<TFrmTerminal*()> Terminal;
};

struct ProgramOptions {
    // How long the main window's creation shows the splash screen.
    std::chrono::milliseconds SplashWait = TSplashScreen::kStartupWait;
    // The script of automatic starts in place of "Default Script"; empty: that one.
    std::string Script;
    // The message boxes; none: Qt's.
    IMessageBoxes* Boxes = nullptr;
    // Called once the windows exist and the main window is shown, before the message loop.
    std::function<void(const ProgramWindows&)> Started;
};

// Runs the program in the current directory on the running TPellwickApplication, whose error
// report it sets; returns the message loop's exit code once every window is gone.
int RunProgram(const ProgramOptions& options);

} // namespace pellwick
