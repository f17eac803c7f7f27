// station.log: one whole JSON line per board, appended, whatever bytes names and causes hold.
#include "station/StationRecord.h"
#include "support/TempFolder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>

namespace pellwick {
namespace {

BoardResult Board(int slot, bool passed) {
    BoardResult b;
    b.Slot = slot;
    b.Port = "COM3";
    b.Device = "/dev/serial/by-id/usb-\"odd\"\\name";
    b.AdapterSerial = "A1\xe9";
    b.Script = "flash.sld";
    b.Place = "1-1.4";
    b.BoardId = "MAC 00:11";
    b.Attempt = 2;
    b.StartTime = "2026-12-09T10:00:00.000+00:00";
    b.Passed = passed;
    b.End = passed ? RunEnd::Completed : RunEnd::Refused;
    b.Cause = passed ? "" : "The device answered \"ERR\"\r\nafter 10 bytes.";
    FileRecord f;
    f.Name = "a.bin";
    f.Address = "00020000";
    f.Size = 4;
    f.Checksum = 0x0ABC;
    f.Outcome = passed ? FileOutcome::Verified : FileOutcome::Refused;
    f.BytesSent = 4;
    f.Sha256 = "e3b0";
    b.Files = {f};
    return b;
}

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(StationRecordTest, ABoardIsOneLineOfJsonWithEveryField) {
    const std::string line = BoardLine(Board(3, false));
    EXPECT_EQ(line.find('\n'), std::string::npos);
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
    EXPECT_EQ(o["slot"].toInt(), 3);
    EXPECT_EQ(o["device"].toString(), "/dev/serial/by-id/usb-\"odd\"\\name");
    EXPECT_EQ(o["adapter_serial"].toString(), QString("A1") + QChar(0xFFFD));
    EXPECT_EQ(o["verdict"].toString(), "failed");
    EXPECT_EQ(o["run"].toString(), "refused");
    EXPECT_EQ(o["place"].toString(), "1-1.4");
    EXPECT_EQ(o["board_id"].toString(), "MAC 00:11");
    EXPECT_EQ(o["attempt"].toInt(), 2);
    EXPECT_EQ(o["cause"].toString(), "The device answered \"ERR\"\r\nafter 10 bytes.");
    const QJsonObject file = o["files"].toArray()[0].toObject();
    EXPECT_EQ(file["checksum"].toString(), "0ABC");
    EXPECT_EQ(file["outcome"].toString(), "refused");
    EXPECT_EQ(file["sha256"].toString(), "e3b0");
}

TEST(StationRecordTest, BoardsAreAppendedToWhatTheRecordHeld) {
    TempFolder folder;
    const std::string path = folder.File("station.log");
    std::ofstream(path) << "{\"earlier\":1}\n";
    {
        StationRecord record;
        ASSERT_EQ(record.Open(path, folder.Path()), "");
        EXPECT_EQ(record.Append(Board(1, true)), "");
        EXPECT_EQ(record.Append(Board(2, false)), "");
    }
    const auto lines = Lines(path);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "{\"earlier\":1}");
    EXPECT_EQ(lines[2], BoardLine(Board(2, false)));
    // With a JUnit folder, a file per board.
    int xml = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
        xml += entry.path().extension() == ".xml" ? 1 : 0;
    }
    EXPECT_EQ(xml, 2);
}

// A full disk: the part of a line it took is cut off again, and a record that already ends in
// one (from a station before) is cut back to its last whole line, so that the next board's
// line is whole and readable.
TEST(StationRecordTest, OnlyWholeLinesReachTheRecord) {
    TempFolder folder;
    const std::string path = folder.File("station.log");
    std::ofstream(path) << "{\"earlier\":1}\n{\"torn";
    StationRecord record;
    ASSERT_EQ(record.Open(path, ""), "");
    EXPECT_NE(record.Repaired().find("6 bytes"), std::string::npos) << record.Repaired();
    const auto whole = std::filesystem::file_size(path);
    EXPECT_EQ(whole, std::string("{\"earlier\":1}\n").size());

    // The file size limit makes the disk take only 10 bytes of the line.
    const auto ignored = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = whole + 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string error = record.Append(Board(1, true));
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, ignored);
    EXPECT_NE(error.find("only part of it"), std::string::npos) << error;
    EXPECT_EQ(std::filesystem::file_size(path), whole);

    EXPECT_EQ(record.Append(Board(2, true)), "");
    const auto lines = Lines(path);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], BoardLine(Board(2, true)));
}

TEST(StationRecordTest, ARecordThatIsNoRegularFileIsRefused) {
    TempFolder folder;
    ASSERT_EQ(mkfifo(folder.File("fifo").c_str(), 0600), 0);
    StationRecord fifo;
    EXPECT_NE(fifo.Open(folder.File("fifo"), ""), "");
    StationRecord junit;
    EXPECT_NE(junit.Open(folder.File("station.log"), folder.File("no-such-folder")), "");
}

} // namespace
} // namespace pellwick
