// Command lines, prompts and mode switches of the simulated device.
#include "DeviceFixture.h"

namespace pellwick {
namespace {

using DialogueTest = DeviceFixture;

TEST_F(DialogueTest, NormalModeAnswersResultPromptAndError) {
    ASSERT_NO_FATAL_FAILURE(Start());
    Converse({
        {"VER\r", "VER=2.10\r\n#"},
        {"\r", "#"},
        {"NOSUCH\r", "?\r\n#"},
        // Commands ignore letter case and surrounding blanks.
        {" ver \r", "VER=2.10\r\n#"},
    });
    // An LF after the CR is not a line.
    ASSERT_TRUE(peer_.Write("VER\r\n\r"));
    EXPECT_EQ(peer_.ReadUntil("#"), "VER=2.10\r\n#");
    EXPECT_EQ(peer_.ReadUntil("#"), "#");
    // A header is no command in normal mode.
    EXPECT_EQ(Ask("LF 0 0 0000 1", "#"), "?\r\n#");
}

TEST_F(DialogueTest, ModeCommandsSwitchPromptAndErrorStrings) {
    ASSERT_NO_FATAL_FAILURE(Start());
    Converse({
        {"UL\r", ">"},
        {"\r", ">"},
        {"VER\r", "VER=2.10\r\n>"},
        // An error in upload mode leaves the device not ready until a mode command or a header.
        {"NOSUCH\r", "ERR\r\n>"},
        {"\r", "ERR\r\n>"},
        {"UL\r", ">"},
        {"\r", ">"},
        {"GO\r", "#"},
        {"\r", "#"},
    });
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
    ASSERT_NO_FATAL_FAILURE(Start(config));
    Converse({
        {"ID\r", "ID:42\r\nOK>"},
        {"RESET\r", "OK>"},
        {"UL\r", "NAK\r\nOK>"},
        {"LOAD\r", "U:"},
        {"X\r", "BAD\r\nU:"},
        {"RUN\r", "OK>"},
    });
}

TEST_F(DialogueTest, ErrorComesAloneWhenNoPromptShouldFollowIt) {
    DeviceConfig config;
    config.promptAfterError = false;
    ASSERT_NO_FATAL_FAILURE(Start(config));
    EXPECT_EQ(Ask("X", "?"), "?");
    // Nothing followed the error: the next thing on the line is the next answer.
    EXPECT_EQ(Ask("", "#"), "#");
}

TEST_F(DialogueTest, EchoRepeatsCommandLinesWhenSwitchedOn) {
    DeviceConfig config;
    config.echo = true;
    ASSERT_NO_FATAL_FAILURE(Start(config));
    EXPECT_EQ(Ask("VER", "#"), "VER\rVER=2.10\r\n#");
}

TEST_F(DialogueTest, OverlongLineIsRefusedWithoutCuttingItIntoCommands) {
    DeviceConfig config;
    config.maxLine = 8;
    ASSERT_NO_FATAL_FAILURE(Start(config));
    EXPECT_EQ(Ask("VERVERVERVERVERVER", "#"), "?\r\n#");
    EXPECT_EQ(Ask("VER", "#"), "VER=2.10\r\n#");
}

} // namespace
} // namespace pellwick
