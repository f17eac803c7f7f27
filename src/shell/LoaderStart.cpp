#include "shell/LoaderStart.h"

#include "ini/PrivateProfile.h"
#include "upload/ProfileSettingsSource.h"

#include <exception>

namespace pellwick {

LoaderStart LoaderStart::Run(const std::string& startFolder, IMessageBoxes& boxes) {
    LoaderStart start;
    start.IniPath = startFolder + "/" + IniName;
    PrivateProfile ini(start.IniPath);
    ProfileSettingsSource source(ini);
    start.Settings = GeneralSettings::Read(source, startFolder);
    start.Settings.EnterDefaultPath(boxes);
    try {
        ini.WriteString("Global", "Driver Version", DriverVersion);
        start.VersionWritten = true;
    } catch (const std::exception& e) {
        boxes.Show(MsgKind::Error, e.what(), MbOk);
    }
    return start;
}

} // namespace pellwick
