// Command lines, prompts and mode switches of the simulated device.
#include "DeviceFixture.h"

namespace pellwick {
namespace {

using DialogueTest = DeviceFixture;

TEST_F(DialogueTest, NormalModeAnswersResultPromptAndError) {
    Start();
    EXPECT_EQ(Ask("VER", "#"), "VER=2.10\r\n#");
    EXPECT_EQ(Ask("", "#"), "#");
    EXPECT_EQ(Ask("NOSUCH", "#"), "?\r\n#");
    // Commands ignore letter case and surrounding blanks; an LF after the CR is not a line.
    EXPECT_EQ(Ask(" ver ", "#"), "VER=2.10\r\n#");
    ASSERT_TRUE(peer_.Write("VER\r\n\r"));
    EXPECT_EQ(peer_.ReadUntil("#"), "VER=2.10\r\n#");
    EXPECT_EQ(peer_.ReadUntil("#"), "#");
    // A header is no command in normal mode.
    EXPECT_EQ(Ask("LF 0 0 0000 1", "#"), "?\r\n#");
}

TEST_F(DialogueTest, ModeCommandsSwitchPromptAndErrorStrings) {
    Start();
    EXPECT_EQ(Ask("UL", ">"), ">");
    EXPECT_EQ(Ask("", ">"), ">");
    EXPECT_EQ(Ask("VER", ">"), "VER=2.10\r\n>");
    // An error in upload mode leaves the device not ready until a mode command or a header.
    EXPECT_EQ(Ask("NOSUCH", ">"), "ERR\r\n>");
    EXPECT_EQ(Ask("", ">"), "ERR\r\n>");
    EXPECT_EQ(Ask("UL", ">"), ">");
    EXPECT_EQ(Ask("", ">"), ">");
    EXPECT_EQ(Ask("GO", "#"), "#");
    EXPECT_EQ(Ask("", "#"), "#");
    EXPECT_FALSE(harness_.Server()->UploadMode());
}

TEST_F(DialogueTest, ConfiguredStringsAndCommandsAreSpoken) {
    DeviceConfig config;
    config.prompt = "OK>";
    config.error = "NAK";
    config.uploadPrompt = "U:";
    config.uploadError = "BAD";
    config.resultMarker = ":";
    config.commands.push_back({"ID", "42", true});
    config.commands.push_back({"RESET", "", false});
    config.uploadCommand = "LOAD";
    config.normalCommand = "RUN";
    Start(config);
    EXPECT_EQ(Ask("ID", "OK>"), "ID:42\r\nOK>");
    EXPECT_EQ(Ask("RESET", "OK>"), "OK>");
    EXPECT_EQ(Ask("UL", "OK>"), "NAK\r\nOK>");
    EXPECT_EQ(Ask("LOAD", "U:"), "U:");
    EXPECT_EQ(Ask("X", "U:"), "BAD\r\nU:");
    EXPECT_EQ(Ask("RUN", "OK>"), "OK>");
}

TEST_F(DialogueTest, ErrorComesAloneWhenNoPromptShouldFollowIt) {
    DeviceConfig config;
    config.promptAfterError = false;
    Start(config);
    EXPECT_EQ(Ask("X", "?"), "?");
    // Nothing followed the error: the next thing on the line is the next answer.
    EXPECT_EQ(Ask("", "#"), "#");
}

TEST_F(DialogueTest, EchoRepeatsCommandLinesWhenSwitchedOn) {
    DeviceConfig config;
    config.echo = true;
    Start(config);
    EXPECT_EQ(Ask("VER", "#"), "VER\rVER=2.10\r\n#");
}

TEST_F(DialogueTest, OverlongLineIsRefusedWithoutCuttingItIntoCommands) {
    DeviceConfig config;
    config.maxLine = 8;
    Start(config);
    EXPECT_EQ(Ask("VERVERVERVERVERVER", "#"), "?\r\n#");
    EXPECT_EQ(Ask("VER", "#"), "VER=2.10\r\n#");
}

} // namespace
} // namespace pellwick
