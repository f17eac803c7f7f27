// The general settings of loader.ini's "Upload Settings" section as the main window and the
// headless runner use them. Whoever owns the INI layer reads the keys through
// IGeneralSettingsSource (with the defaults given here); the rules on the values live here.
#pragma once

#include <cstdint>
#include <string>

#include "serial/MessageBoxes.h"

namespace pellwick {

// One key of one section, with the value to use when it is missing. Integers follow the INI
// layer's syntax.
class IGeneralSettingsSource {
public:
    virtual ~IGeneralSettingsSource() = default;
    virtual std::string ReadString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue) = 0;
    virtual std::int32_t ReadInteger(const std::string& section, const std::string& key,
                                     std::int32_t defaultValue) = 0;
};

struct GeneralSettings {
    static constexpr const char* Section = "Upload Settings";
    static constexpr const char* DefaultScriptKey = "Default Script";
    static constexpr const char* DefaultPathKey = "Default Path";
    static constexpr const char* DelayKey = "Delay";
    static constexpr const char* UploadMethodKey = "Upload Method";

    std::string DefaultScript = "loader.sld";
    std::string DefaultPath;   // the current directory at start when the key is missing
    std::int32_t Delay = 1000; // ms between the upload header and the data
    bool ManualUpload = false; // start in manual mode (the operator picks the script)

    // Applies the rules to values already read: manual mode iff the upper-case method is
    // exactly "MANUAL".
    static GeneralSettings FromValues(const std::string& defaultScript,
                                      const std::string& defaultPath, std::int32_t delay,
                                      const std::string& uploadMethod);

    // Reads the four keys with their defaults; currentDirectory is the "Default Path" default.
    static GeneralSettings Read(IGeneralSettingsSource& source,
                                const std::string& currentDirectory);

    static bool IsManualMethod(const std::string& uploadMethod);

    // Makes DefaultPath the current directory. On failure shows the error box and leaves the
    // current directory as it was.
    bool EnterDefaultPath(IMessageBoxes& boxes) const;
};

} // namespace pellwick
