#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/LocalTime.h"
#include "upload/DateText.h"
#include "upload/Sha256.h"
#include "upload/UploadHeader.h"
#include "upload/UploadLog.h"

namespace pellwick {
namespace {

std::tm LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm t = test::LocalCalendarTime(year, month, day, hour, minute, second);
    std::time_t stamp = std::mktime(&t); // fills in the weekday and normalises
    ::localtime_r(&stamp, &t);
    return t;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(UploadHeaderTest, ChecksumIsTheByteSumModulo65536InFourUpperCaseHexDigits) {
    EXPECT_EQ(UploadHeader::ChecksumHex(UploadHeader::Checksum({1, 2, 255})), "0102");
    EXPECT_EQ(UploadHeader::ChecksumHex(UploadHeader::Checksum({})), "0000");
    // 274 bytes of 255 and one of 130: 70000 in all.
    std::vector<std::uint8_t> bytes(274, 255);
    bytes.push_back(130);
    EXPECT_EQ(UploadHeader::ChecksumHex(UploadHeader::Checksum(bytes)), "1170");
    EXPECT_EQ(UploadHeader::ChecksumHex(0xABCD), "ABCD");
}

TEST(UploadHeaderTest, HeaderIsBlankSeparatedAndEndsInCarriageReturnOnly) {
    EXPECT_EQ(UploadHeader::Build("00020000", 1234, 0x0ABC, "1.02"),
              "LF 00020000 1234 0ABC 1.02\r");
    EXPECT_EQ(UploadHeader::Build("", 0, 0, ""), "LF  0 0000 \r");
}

TEST(UploadHeaderTest, OnlyTheWordDateInAnyCaseStandsForTheDateText) {
    EXPECT_TRUE(UploadHeader::IsDateVersion("DATE"));
    EXPECT_TRUE(UploadHeader::IsDateVersion("date"));
    EXPECT_TRUE(UploadHeader::IsDateVersion("Date"));
    EXPECT_FALSE(UploadHeader::IsDateVersion("DATE1"));
    EXPECT_FALSE(UploadHeader::IsDateVersion(" DATE"));
}

TEST(DateTextTest, TwelveAndTwentyFourHourFormatsBecomeOneWord) {
    const std::tm afternoon = LocalTime(2001, 3, 7, 14, 5, 9);
    const DateFormats twelve{"%-m/%-d/%Y", "%-I:%M:%S %p"};
    const DateFormats twentyFour{"%-m/%-d/%Y", "%H:%M:%S"};
    EXPECT_EQ(DateText::Format(afternoon, twelve), "3/7/2001_2:05:09PM");
    EXPECT_EQ(DateText::Format(afternoon, twentyFour), "3/7/2001_14:05:09");
    EXPECT_EQ(DateText::Format(afternoon, DateFormats{}), "03/07/01_14:05:09");
    // The first blank becomes "_"; every later blank, and any control code, goes: the text is
    // one header field whatever the formats.
    EXPECT_EQ(DateText::Format(afternoon, DateFormats{"%d %m %Y", "%H:%M"}), "07_03200114:05");
    EXPECT_EQ(DateText::Format(afternoon, DateFormats{"%e.%m.%Y%n", "%H\t%M"}), "_7.03.20011405");
}

TEST(DateTextTest, ExactMidnightLeavesOutTheTimeAndPutsTheUnderscoreInFront) {
    const DateFormats twelve{"%-m/%-d/%Y", "%-I:%M:%S %p"};
    EXPECT_EQ(DateText::Format(LocalTime(2001, 3, 7, 0, 0, 0), twelve), "_3/7/2001");
    EXPECT_EQ(DateText::Format(LocalTime(2001, 3, 7, 0, 0, 0), {"%m/%d%t", ""}), "_03/07");
    EXPECT_EQ(DateText::Format(LocalTime(2001, 3, 7, 0, 0, 1), twelve), "3/7/2001_12:00:01AM");
}

TEST(DateTextTest, FileTimeIsTakenInLocalTimeAndAnUnreadableFileGivesTheFallback) {
    const std::string path = testing::TempDir() + "date_text_probe.bin";
    std::ofstream(path) << "x";
    std::tm when = LocalTime(2001, 3, 7, 14, 5, 9);
    const std::time_t stamp = std::mktime(&when);
    const struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_EQ(DateText::ForFile(path, DateFormats{}, "DATE"), "03/07/01_14:05:09");
    std::remove(path.c_str());
    EXPECT_EQ(DateText::ForFile(path, DateFormats{}, "DATE"), "DATE");
}

TEST(UploadLogTest, LogHoldsBannerDateLineAndSixLinesPerUploadWithCrLf) {
    const std::string path = testing::TempDir() + "upload_log_probe.log";
    UploadLog log;
    ASSERT_TRUE(log.Start(path, LocalTime(2001, 3, 7, 14, 5, 9), DateFormats{}));
    ASSERT_TRUE(log.WriteUpload({"a.bin", 3, "0102", "DATE", "03/07/01_14:05:09", "0002"}));
    EXPECT_EQ(ReadAll(path), "Quarrow, RS232 Pellwick upload log\r\n03/07/01 14:05:09\r\n\r\n"
                             "File Name: a.bin\r\n  File Size: 3\r\n  File Checksum: 0102\r\n"
                             "  File Version: DATE; 03/07/01_14:05:09\r\n"
                             "  Load Address: 0002\r\n\r\n");
    // A new start empties the file.
    ASSERT_TRUE(log.Start(path, LocalTime(2001, 3, 8, 9, 0, 0), DateFormats{}));
    EXPECT_EQ(ReadAll(path), "Quarrow, RS232 Pellwick upload log\r\n03/08/01 09:00:00\r\n\r\n");
    log.Close();
    std::remove(path.c_str());
}

TEST(UploadLogTest, UncreatableLogStaysClosedAndRefusesEntries) {
    UploadLog log;
    EXPECT_FALSE(log.Start(testing::TempDir() + "no/such/dir/loader.log",
                           LocalTime(2001, 3, 7, 14, 5, 9), DateFormats{}));
    EXPECT_FALSE(log.IsOpen());
    EXPECT_FALSE(log.WriteUpload({}));
}

// The published test vectors, including the lengths around a block's last padding byte and a
// message fed in pieces that straddle blocks.
TEST(Sha256Test, KnownDigests) {
    const struct {
        std::string message;
        const char* hex;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Sha256::HexOf(c.message.data(), c.message.size()), c.hex)
            << c.message.size() << " bytes";
        Sha256 pieces;
        for (std::size_t at = 0; at < c.message.size(); at += 37) {
            pieces.Add(c.message.data() + at, std::min<std::size_t>(37, c.message.size() - at));
        }
        EXPECT_EQ(pieces.Hex(), c.hex) << c.message.size() << " bytes in pieces";
    }
}

} // namespace
} // namespace pellwick
