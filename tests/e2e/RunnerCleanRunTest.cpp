// pellwick-run against the device simulator: a clean script with commands and three uploads.
#include "e2e/RunnerFixture.h"

#include <algorithm>
#include <ctime>
#include <regex>

namespace pellwick::e2e {
namespace {

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const auto end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

// "MM/DD/YY HH:MM:SS" (the C locale's formats) for every second from `from` to `to`.
std::vector<std::string> StampsBetween(std::time_t from, std::time_t to) {
    std::vector<std::string> stamps;
    for (std::time_t t = from; t <= to; ++t) {
        std::tm local{};
        localtime_r(&t, &local);
        char text[64];
        std::strftime(text, sizeof text, "%m/%d/%y %H:%M:%S", &local);
        stamps.push_back(text);
    }
    return stamps;
}

using RunnerCleanRunTest = RunnerFixture;

TEST_F(RunnerCleanRunTest, ScriptWithCommandsAndThreeUploadsStoresExactCopiesAndLogsEachUpload) {
    StartDevice();
    const Bytes small = {'a', 'b', '\r', '\n', 'L', 'F', ' ', 0, 0xFF, '>', 'E', 'R', 'R', '\r'};
    const Bytes big = AllByteValues(1 << 20);
    ASSERT_TRUE(WriteFile(File("empty.bin"), {}));
    ASSERT_TRUE(WriteFile(File("small.bin"), small));
    ASSERT_TRUE(WriteFile(File("big.bin"), big));
    ASSERT_TRUE(SetLocalModificationTime(File("empty.bin"), 2026, 12, 24, 9, 30, 0));
    ASSERT_TRUE(SetLocalModificationTime(File("small.bin"), 2001, 3, 7, 14, 5, 9));
    ASSERT_TRUE(SetLocalModificationTime(File("big.bin"), 2001, 3, 7, 0, 0, 0)); // midnight

    const std::time_t before = std::time(nullptr);
    const int status = RunScript("; three files to three addresses\n"
                                 "_TC \"UL^M\"\n"
                                 "_TC \"VER^M\"\n"
                                 "_SC \"UL^M\"\n"
                                 "_DM \"Loading^Mthree files\"\n"
                                 "_DY 5\n"
                                 "_LP 0\n"
                                 "_LA 00010000\n"
                                 "_LV 1.00\n"
                                 "_LF empty.bin\n"
                                 "_LD\n"
                                 "_LA 00020000\n"
                                 "_LV DATE\n"
                                 "_LF small.bin\n"
                                 "_LD\n"
                                 "_LA 00030000\n"
                                 "_LV date\n"
                                 "_LF big.bin\n"
                                 "_LD\n");
    const std::time_t after = std::time(nullptr);
    ASSERT_EQ(status, 0) << Output();
    EXPECT_EQ(Output().find("[Error]"), std::string::npos) << Output();
    // Script messages are shown and answered without stopping the run; progress is reported.
    EXPECT_NE(Output().find("[Information] Loading\n    three files\n    -> OK\n"),
              std::string::npos)
        << Output();
    // The gauge counts what the line can have carried: on this pseudo-terminal, whose peer
    // reads faster than the configured rate, that is less than the device has.
    EXPECT_TRUE(std::regex_search(Output(), std::regex("big\\.bin [0-9]+ %"))) << Output();

    EXPECT_EQ(ReadFile(File("store/00010000.bin")), Bytes{});
    EXPECT_EQ(ReadFile(File("store/00020000.bin")), small);
    EXPECT_EQ(ReadFile(File("store/00030000.bin")), big);
    // The device saw the date rules applied to the header's version field.
    const auto uploads = Device().Server()->Uploads();
    ASSERT_EQ(uploads.size(), 3u);
    EXPECT_EQ(uploads[0].version, "1.00");
    EXPECT_EQ(uploads[1].version, "03/07/01_14:05:09");
    EXPECT_EQ(uploads[2].version, "_03/07/01");
    for (const auto& upload : uploads) {
        EXPECT_TRUE(upload.accepted) << upload.address << ": " << upload.reason;
    }

    const std::string log = ReadText(File("loader.log"));
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
    std::vector<std::string> lines = SplitCrLf(log.substr(0, log.size() - 2));
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "bare line break in " << line;
    }
    ASSERT_EQ(lines.size(), 3u + 3u * 6u) << log;
    EXPECT_EQ(lines[0], "Quarrow, RS232 Pellwick upload log");
    const auto stamps = StampsBetween(before, after);
    EXPECT_NE(std::find(stamps.begin(), stamps.end(), lines[1]), stamps.end())
        << "date line " << lines[1];
    lines.erase(lines.begin(), lines.begin() + 2);
    const std::vector<std::string> expected = {
        "",
        "File Name: empty.bin",
        "  File Size: 0",
        "  File Checksum: 0000",
        "  File Version: 1.00; 12/24/26_09:30:00",
        "  Load Address: 00010000",
        "",
        "File Name: small.bin",
        "  File Size: 14",
        "  File Checksum: " + Checksum16(small),
        "  File Version: DATE; 03/07/01_14:05:09",
        "  Load Address: 00020000",
        "",
        "File Name: big.bin",
        "  File Size: 1048576",
        "  File Checksum: " + Checksum16(big),
        "  File Version: date; _03/07/01",
        "  Load Address: 00030000",
        "",
    };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(Device().Stop(), 0);
}

} // namespace
} // namespace pellwick::e2e
