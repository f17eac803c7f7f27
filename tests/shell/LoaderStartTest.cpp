// The loader.ini start the window and the runner share.

#include "shell/LoaderStart.h"
#include "support/ScriptedBoxes.h"
#include "support/TempFolder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace pellwick {
namespace {

using test::Boxes;
using test::ScriptedBoxes;
using test::Unscripted;

class LoaderStartTest : public ::testing::Test {
protected:
    ~LoaderStartTest() override {
        std::error_code error;
        std::filesystem::current_path(previous_, error);
    }

    void Write(const std::string& name, const std::string& content) const {
        std::ofstream(folder_.File(name), std::ios::binary) << content;
    }
    std::string Read(const std::string& name) const {
        std::ostringstream text;
        text << std::ifstream(folder_.File(name), std::ios::binary).rdbuf();
        return text.str();
    }

    const std::filesystem::path previous_ = std::filesystem::current_path();
    TempFolder folder_;
    ScriptedBoxes boxes_{Unscripted::FailTest};
};

TEST_F(LoaderStartTest, ReadsTheStartFolderEntersDefaultPathAndThenWritesTheVersion) {
    const std::string scripts = folder_.File("scripts");
    std::filesystem::create_directory(scripts);
    Write("loader.ini", "[Upload Settings]\nDefault Path=" + scripts + "\nDelay=7\n");
    const LoaderStart start = LoaderStart::Run(folder_.Path(), boxes_);
    EXPECT_TRUE(boxes_.Shown.empty());
    EXPECT_TRUE(start.VersionWritten);
    EXPECT_EQ(start.Settings.Delay, 7);
    EXPECT_EQ(std::filesystem::current_path().string(), scripts);
    // The file is the start folder's, written after the folder changed.
    EXPECT_EQ(start.IniPath, folder_.File("loader.ini"));
    EXPECT_NE(Read("loader.ini").find("[Global]\nDriver Version=2.00\n"), std::string::npos);
}

TEST_F(LoaderStartTest, FailedWriteIsShownAndReturnedNotRaised) {
    // A folder in the file's place cannot be written even by root.
    std::filesystem::create_directory(folder_.File("loader.ini"));
    boxes_.Answers = {MbOk};
    const LoaderStart start = LoaderStart::Run(folder_.Path(), boxes_);
    EXPECT_FALSE(start.VersionWritten);
    EXPECT_EQ(boxes_.Shown,
              (Boxes{{MsgKind::Error, "Unable to write to " + folder_.File("loader.ini"), MbOk}}));
}

} // namespace
} // namespace pellwick
