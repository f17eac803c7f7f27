// The faults the simulated device injects on request.
#include "DeviceFixture.h"
#include "support/WaitUntil.h"

#include <functional>
#include <thread>

namespace pellwick {
namespace {

using Clock = std::chrono::steady_clock;
using FaultTest = DeviceFixture;
using test::WaitUntil;

TEST_F(FaultTest, SilentDeviceTakesInputButAnswersNothing) {
    DeviceConfig config;
    config.silent = true;
    ASSERT_NO_FATAL_FAILURE(Start(config));
    ASSERT_TRUE(peer_.Write("UL\r\r"));
    ASSERT_TRUE(WaitUntil([&] { return harness_.Server()->UploadMode(); }));
    EXPECT_EQ(peer_.ReadFor(std::chrono::milliseconds(200)), "");
}

TEST_F(FaultTest, ErrorAfterNBytesStopsTheFileAndDiscardsItsRest) {
    DeviceConfig config;
    config.errAfter = 100;
    config.resyncMs = 100;
    ASSERT_NO_FATAL_FAILURE(StartUploading(config));
    const std::string data(300, '\r'); // would be 300 empty lines if not discarded
    ASSERT_TRUE(peer_.Write(Header("1", data) + data));
    EXPECT_EQ(peer_.ReadUntil(">"), "ERR\r\n>");
    ASSERT_TRUE(WaitUntil([&] { return harness_.Server()->Uploads().size() == 1; }));
    EXPECT_FALSE(harness_.Server()->Uploads()[0].accepted);
    // Once the line has been quiet the device reads commands again, still not ready.
    ASSERT_TRUE(WaitUntil([&] { return !harness_.Server()->Discarding(); }));
    EXPECT_EQ(Ask("", ">"), "ERR\r\n>");
    // The error comes for every file; smaller files pass.
    EXPECT_EQ(Upload("2", "small"), ">");
}

TEST_F(FaultTest, CorruptedByteFailsTheChecksum) {
    DeviceConfig config;
    config.corruptAt = 2;
    ASSERT_NO_FATAL_FAILURE(StartUploading(config));
    EXPECT_EQ(Upload("1", "abcd"), "ERR\r\n>");
    const auto upload = harness_.Server()->Uploads().at(0);
    EXPECT_EQ(upload.receivedChecksum,
              DeviceProtocol::Checksum(std::string("ab") + static_cast<char>(~'c') + "d"));
}

TEST_F(FaultTest, DroppedByteMakesTheVerifyingCrPartOfTheFile) {
    DeviceConfig config;
    config.dropAt = 0;
    ASSERT_NO_FATAL_FAILURE(StartUploading(config));
    ASSERT_TRUE(peer_.Write(Header("1", "abcd") + "abcd"));
    // The first CR completes the file and gets no answer; the second verifies it, and it is
    // wrong.
    ASSERT_TRUE(peer_.Write("\r"));
    EXPECT_EQ(Ask("", ">"), "ERR\r\n>");
    const auto upload = harness_.Server()->Uploads().at(0);
    EXPECT_EQ(upload.receivedChecksum, DeviceProtocol::Checksum("bcd\r"));
}

TEST_F(FaultTest, GarbageAndFloodPrecedeAnswersWithoutFakingThem) {
    DeviceConfig config;
    config.garbage = 16;
    config.flood = 20000;
    ASSERT_NO_FATAL_FAILURE(Start(config));
    const std::string first = Ask("VER", "VER=2.10\r\n#");
    ASSERT_EQ(first.size(), 20000u + 16u + 11u);
    const std::string junk = first.substr(0, 20016);
    EXPECT_EQ(junk.find_first_of("#?>ERer="), std::string::npos);
    // The flood comes once, the garbage every time.
    const std::string second = Ask("VER", "VER=2.10\r\n#");
    EXPECT_EQ(second.size(), 16u + 11u);
}

TEST_F(FaultTest, HangupClosesTheLineAfterNBytes) {
    DeviceConfig config;
    config.hangupAfter = 6;
    ASSERT_NO_FATAL_FAILURE(Start(config));
    ASSERT_EQ(Ask("VER", "#"), "VER=2.10\r\n#");
    ASSERT_TRUE(peer_.Write("VER\r"));
    EXPECT_TRUE(peer_.WaitHangup());
    EXPECT_EQ(harness_.Server()->BytesReceived(), 6u);
}

TEST_F(FaultTest, DelayedAnswersComeLateAndInOrder) {
    DeviceConfig config;
    config.answerDelayMs = 300;
    ASSERT_NO_FATAL_FAILURE(Start(config));
    const auto start = Clock::now();
    ASSERT_TRUE(peer_.Write("VER\rX\r\r"));
    EXPECT_EQ(peer_.ReadUntil("#"), "VER=2.10\r\n#");
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ(peer_.ReadUntil("#"), "?\r\n#");
    EXPECT_EQ(peer_.ReadUntil("#"), "#");
}

TEST_F(FaultTest, RefusalAtVerificationOfAnIntactFileCanBeForgottenByTheNextCr) {
    DeviceConfig config;
    config.refuseVerify = true;
    config.forgetRefusal = true;
    ASSERT_NO_FATAL_FAILURE(StartUploading(config));
    EXPECT_EQ(Upload("1", "abcd"), "ERR\r\n>");
    EXPECT_EQ(Ask("", ">"), ">");
    ASSERT_TRUE(WaitUntil([&] { return harness_.Server()->Uploads().size() == 1; }));
    EXPECT_FALSE(harness_.Server()->Uploads()[0].accepted);
}

TEST_F(FaultTest, NoiseAfterTheDataHoldsPromptsButNoErrorByteAndASplitErrorComesInTwo) {
    DeviceConfig config;
    config.noiseAfterData = 2000;
    config.corruptAt = 0;
    config.splitErrorMs = 300;
    ASSERT_NO_FATAL_FAILURE(StartUploading(config));
    ASSERT_TRUE(peer_.Write(Header("1", "abcd") + "abcd"));
    const std::string noise = peer_.ReadFor(std::chrono::milliseconds(500));
    ASSERT_EQ(noise.size(), 2000u);
    EXPECT_NE(noise.find('>'), std::string::npos);
    EXPECT_NE(noise.find('#'), std::string::npos);
    EXPECT_EQ(noise.find_first_of("ERer?"), std::string::npos);
    ASSERT_TRUE(peer_.Write("\r"));
    // The refusal: its first byte, a pause, the rest.
    EXPECT_EQ(peer_.ReadFor(std::chrono::milliseconds(150)), "E");
    EXPECT_EQ(peer_.ReadUntil(">"), "RR\r\n>");
}

TEST_F(FaultTest, LateVerificationAnswerLeavesTheOtherAnswersOnTime) {
    constexpr auto late = std::chrono::milliseconds(1000);
    DeviceConfig config;
    config.verifyDelayMs = late.count();
    ASSERT_NO_FATAL_FAILURE(Start(config));
    const auto timed = [&](std::string_view line) {
        const auto start = Clock::now();
        EXPECT_EQ(Ask(line, ">"), ">");
        return Clock::now() - start;
    };
    EXPECT_LT(timed("UL"), late);
    ASSERT_TRUE(peer_.Write(Header("1", "abcd") + "abcd"));
    EXPECT_GE(timed(""), late);
    // The file is settled: the next lone CR is no verification.
    EXPECT_LT(timed(""), late);
}

TEST_F(FaultTest, UnansweredVerifyingCrsLeaveEachFileForALaterOne) {
    DeviceConfig config;
    config.ignoreVerify = 2;
    ASSERT_NO_FATAL_FAILURE(StartUploading(config));
    // An intact file, then one whose announced checksum is wrong: the unanswered CRs neither
    // become data nor change the verdict.
    for (const auto& [file, verdict] :
         {std::pair{Header("1", "abcd") + "abcd", ">"},
          std::pair{std::string("LF 2 4 0000 v\rabcd"), "ERR\r\n>"}}) {
        ASSERT_TRUE(peer_.Write(file + "\r\r"));
        EXPECT_EQ(peer_.ReadFor(std::chrono::milliseconds(300)), "");
        EXPECT_EQ(Ask("", ">"), verdict);
    }
    const auto uploads = harness_.Server()->Uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_TRUE(uploads[0].accepted);
    EXPECT_FALSE(uploads[1].accepted);
}

TEST_F(FaultTest, ErrorAfterNBytesComesKTimesApart) {
    constexpr auto apart = std::chrono::milliseconds(200);
    DeviceConfig config;
    config.errAfter = 4;
    config.errRepeat = 3;
    config.errRepeatMs = apart.count();
    config.resyncMs = 100;
    ASSERT_NO_FATAL_FAILURE(StartUploading(config));
    const std::string data(64, 'x');
    ASSERT_TRUE(peer_.Write(Header("1", data) + data));
    ASSERT_EQ(peer_.ReadUntil(">"), "ERR\r\n>");
    const auto first = Clock::now();
    EXPECT_EQ(peer_.ReadUntil(">"), "ERR\r\n>");
    EXPECT_EQ(peer_.ReadUntil(">"), "ERR\r\n>");
    // The first answer is seen a moment after it left (the reader may be scheduled late, as it
    // is under ThreadSanitizer), the last one at once: a few milliseconds of the span are lost.
    EXPECT_GE(Clock::now() - first, 2 * apart - std::chrono::milliseconds(20));
    EXPECT_EQ(peer_.ReadFor(2 * apart), "");
}

TEST_F(FaultTest, UnsolicitedErrorComesOnceInTheCurrentModeAndChangesNothing) {
    DeviceConfig config;
    config.unsolicitedErrorMs = 300;
    ASSERT_NO_FATAL_FAILURE(Start(config));
    const auto start = Clock::now();
    Converse({{"VER\r", "VER=2.10\r\n#"}, {"", "?\r\n#"}, {"\r", "#"}});
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ(peer_.ReadFor(std::chrono::milliseconds(400)), "");
    // After the second line, here a header: the file that begins still arrives and passes.
    harness_.Stop();
    config = {};
    config.unsolicitedErrorLine = 2;
    ASSERT_NO_FATAL_FAILURE(Start(config));
    Converse({{"UL\r", ">"}, {Header("1", "abcd"), "ERR\r\n>"}, {"abcd\r", ">"}, {"\r", ">"}});
    EXPECT_EQ(peer_.ReadFor(std::chrono::milliseconds(400)), "");
    EXPECT_TRUE(harness_.Server()->Uploads().at(0).accepted);
}

TEST_F(FaultTest, RefusedCommandIsAnsweredAsUnknownCountTimesThenAccepted) {
    struct Case {
        RefusedCommand refusal;
        std::vector<Step> dialogue;
    };
    const Case cases[] = {
        {{"VER", 2},
         {{"VER\r", "?\r\n#"},
          {"VER\r", "?\r\n#"},
          {"VER\r", "VER=2.10\r\n#"},
          {"VER\r", "VER=2.10\r\n#"}}},
        // Names compare without case; a mode command can be refused too.
        {{"ul", 1}, {{"UL\r", "?\r\n#"}, {"\r", "#"}, {"UL\r", ">"}}},
        // In upload mode a refusal leaves the device not ready, as an unknown command does.
        {{"GO", 1}, {{"UL\r", ">"}, {"GO\r", "ERR\r\n>"}, {"\r", "ERR\r\n>"}, {"GO\r", "#"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refusal.name);
        harness_.Stop();
        DeviceConfig config;
        config.refusedCommands = {c.refusal};
        ASSERT_NO_FATAL_FAILURE(Start(config));
        Converse(c.dialogue);
    }
}

} // namespace
} // namespace pellwick
