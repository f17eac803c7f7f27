#include "upload/GeneralSettings.h"

#include <unistd.h>

#include "upload/ScriptText.h"

namespace pellwick {

GeneralSettings GeneralSettings::FromValues(const std::string& defaultScript,
                                            const std::string& defaultPath, std::int32_t delay,
                                            const std::string& uploadMethod) {
    GeneralSettings settings;
    settings.DefaultScript = defaultScript;
    settings.DefaultPath = defaultPath;
    settings.Delay = delay;
    settings.ManualUpload = IsManualMethod(uploadMethod);
    return settings;
}

GeneralSettings GeneralSettings::Read(IGeneralSettingsSource& source,
                                      const std::string& currentDirectory) {
    const GeneralSettings defaults;
    return FromValues(source.ReadString(Section, DefaultScriptKey, defaults.DefaultScript),
                      source.ReadString(Section, DefaultPathKey, currentDirectory),
                      source.ReadInteger(Section, DelayKey, defaults.Delay),
                      source.ReadString(Section, UploadMethodKey, "AUTOMATIC"));
}

bool GeneralSettings::IsManualMethod(const std::string& uploadMethod) {
    return ScriptText::UpperCase(uploadMethod) == "MANUAL";
}

bool GeneralSettings::EnterDefaultPath(IMessageBoxes& boxes) const {
    if (!DefaultPath.empty() && ::chdir(DefaultPath.c_str()) == 0) {
        return true;
    }
    boxes.Show(MsgKind::Error,
               "Could not set directory specified in the loader.ini file!\r"
               "Edit the \"Default Path\" parameter to correct.\r"
               "The current program directory will be used.",
               MbOk);
    return false;
}

} // namespace pellwick
