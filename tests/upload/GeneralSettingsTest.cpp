#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/ScriptedBoxes.h"
#include "upload/GeneralSettings.h"

namespace pellwick {
namespace {

// Values as an INI layer would hand them over; a missing key yields the caller's default.
class MapSource : public IGeneralSettingsSource {
public:
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) override {
        const auto it = Values.find(section + "/" + key);
        return it == Values.end() ? defaultValue : it->second;
    }
    std::int32_t ReadInteger(const std::string& section, const std::string& key,
                             std::int32_t defaultValue) override {
        const auto it = Values.find(section + "/" + key);
        return it == Values.end() ? defaultValue : std::stoi(it->second);
    }
    std::map<std::string, std::string> Values;
};

TEST(GeneralSettingsTest, MissingKeysGiveTheDefaults) {
    MapSource source;
    const GeneralSettings settings = GeneralSettings::Read(source, "/start/dir");
    EXPECT_EQ(settings.DefaultScript, "loader.sld");
    EXPECT_EQ(settings.DefaultPath, "/start/dir");
    EXPECT_EQ(settings.Delay, 1000);
    EXPECT_FALSE(settings.ManualUpload);
}

TEST(GeneralSettingsTest, StoredValuesAreUsedAndOnlyManualInAnyCaseMeansManual) {
    MapSource source;
    source.Values = {{"Upload Settings/Default Script", "boot.sld"},
                     {"Upload Settings/Default Path", "/data"},
                     {"Upload Settings/Delay", "250"},
                     {"Upload Settings/Upload Method", "manual"}};
    const GeneralSettings settings = GeneralSettings::Read(source, "/start/dir");
    EXPECT_EQ(settings.DefaultScript, "boot.sld");
    EXPECT_EQ(settings.DefaultPath, "/data");
    EXPECT_EQ(settings.Delay, 250);
    EXPECT_TRUE(settings.ManualUpload);
    EXPECT_TRUE(GeneralSettings::IsManualMethod("MaNuAl"));
    EXPECT_FALSE(GeneralSettings::IsManualMethod("Manual mode"));
    EXPECT_FALSE(GeneralSettings::IsManualMethod(" MANUAL"));
    EXPECT_FALSE(GeneralSettings::IsManualMethod("AUTOMATIC"));
}

TEST(GeneralSettingsTest, UnusableDefaultPathKeepsTheDirectoryAndSaysSo) {
    const auto before = std::filesystem::current_path();
    test::ScriptedBoxes boxes{test::Unscripted::FailTest};
    boxes.Answers = {MbOk};
    GeneralSettings settings;
    settings.DefaultPath = "/no/such/directory/here";
    EXPECT_FALSE(settings.EnterDefaultPath(boxes));
    EXPECT_EQ(std::filesystem::current_path(), before);
    EXPECT_EQ(boxes.Shown, (test::Boxes{{MsgKind::Error,
                                         "Could not set directory specified in the loader.ini "
                                         "file!\rEdit the \"Default Path\" parameter to correct.\r"
                                         "The current program directory will be used.",
                                         MbOk}}));

    settings.DefaultPath = testing::TempDir();
    EXPECT_TRUE(settings.EnterDefaultPath(boxes));
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(testing::TempDir()));
    std::filesystem::current_path(before);
}

} // namespace
} // namespace pellwick
