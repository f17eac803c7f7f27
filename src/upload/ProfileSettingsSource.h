// The general settings read from a loader.ini through the INI layer, for the main window and
// the headless runner alike. Header only: its users link the INI layer themselves.
#pragma once

#include "ini/PrivateProfile.h"
#include "upload/GeneralSettings.h"

namespace pellwick {

class ProfileSettingsSource : public IGeneralSettingsSource {
public:
    explicit ProfileSettingsSource(const PrivateProfile& profile) : profile_(profile) {}
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) override {
        return profile_.ReadString(section, key, defaultValue);
    }
    std::int32_t ReadInteger(const std::string& section, const std::string& key,
                             std::int32_t defaultValue) override {
        return profile_.ReadInteger(section, key, defaultValue);
    }

private:
    const PrivateProfile& profile_;
};

} // namespace pellwick
