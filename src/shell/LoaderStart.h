// The start of a program that works in a loader.ini folder, the window and the runner alike:
// the general settings of the folder's loader.ini, "Default Path" entered, and [Global]
// "Driver Version" written. Needs no window: what goes wrong is shown on the message boxes.
#pragma once

#include "serial/MessageBoxes.h"
#include "upload/GeneralSettings.h"

#include <string>

namespace pellwick {

struct LoaderStart {
    static constexpr const char* IniName = "loader.ini";
    static constexpr const char* DriverVersion = "2.00";

    std::string IniPath; // startFolder + "/loader.ini", taken before "Default Path" is entered
    GeneralSettings Settings;
    bool VersionWritten = false; // false: the file could not be written, and that was shown

    // Reads the settings, enters their "Default Path" (a failure is shown and the folder kept)
    // and then writes the version; a failed write is shown with its message and is not
    // raised, so that each program decides how far its start goes on.
    static LoaderStart Run(const std::string& startFolder, IMessageBoxes& boxes);
};

} // namespace pellwick
