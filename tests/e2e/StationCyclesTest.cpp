// pellwick-station --headless with four boards, each a pellwick-devsim behind a --link that
// the test pulls and puts back, round after round: a board that loads cleanly, one that refuses
// its file at the end, one that goes away in the middle of it, and one that refuses it while it
// comes in. What station.log says of each board is held to what its simulator received and
// stored.
#include "e2e/RunnerProcess.h"
#include "e2e/UploadFiles.h"
#include "support/DevsimHarness.h"
#include "support/TempFolder.h"
#include "support/WaitUntil.h"
#include "upload/Sha256.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace pellwick::e2e {
namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

struct Board {
    std::vector<std::string> faults;
    const char* run;     // how station.log must say its run ended
    const char* outcome; // and the first file's outcome
    const char* cause;   // the start of the cause it must give
    int headers;         // files the device must see announced per plug
};

// Slot 1 loads cleanly; slot 2's device refuses the file's checksum; slot 3's device goes away
// after 3000 bytes, in the middle of the first file; slot 4's device refuses the file while it
// comes in.
const Board Boards[] = {
    {{}, "completed", "verified", "", 2},
    {{"--corrupt-at", "10"},
     "refused",
     "refused",
     "The device answered \"ERR\" to the verifying CR.",
     1},
    {{"--unplug-after-bytes", "3000", "--cycles", "0"},
     "hung up",
     "hung up",
     "The device hung up after ",
     1},
    {{"--err-after", "100"}, "refused", "refused", "The device answered \"ERR\" after ", 1},
};
constexpr int SlotCount = 4;
constexpr int Rounds = 3;

class StationCycles : public ::testing::Test {
protected:
    void SetUp() override {
        a_ = AllByteValues(6000);
        b_ = AllByteValues(1500);
        std::reverse(b_.begin(), b_.end());
        std::string slotLines;
        for (int i = 0; i < SlotCount; ++i) {
            auto& device = devices_[i];
            const std::string link = folder_.File("tty" + std::to_string(i + 1));
            std::filesystem::create_directory(device.File("store"));
            std::vector<std::string> args = Boards[i].faults;
            args.insert(args.end(), {"--link", link, "--store", device.File("store"),
                                     "--transcript", device.File("transcript")});
            ASSERT_TRUE(device.StartProcess(args)) << device.Error();
            links_[i] = link;
            slotLines += "Slot" + std::to_string(i + 1) + "=" + link + "\n";
        }
        ASSERT_TRUE(WriteFile(folder_.File("a.bin"), a_));
        ASSERT_TRUE(WriteFile(folder_.File("b.bin"), b_));
        ASSERT_TRUE(WriteText(folder_.File("flash.sld"),
                              "_TC \"UL^M\"\n_LV 1.0\n_LA 00020000\n_LF a.bin\n_LD\n"
                              "_LA 00030000\n_LF b.bin\n_LD\n"));
        ASSERT_TRUE(WriteText(
            folder_.File("station.ini"),
            "[Station]\nScript=flash.sld\nStart=appear\n[Slots]\n" + slotLines +
                "[Ports]\nScan=0\n[RS232Settings]\nBaud Rate=115200\nUse RTS=0\nRequire CTS=0\n"
                "[Upload Settings]\nDelay=0\n"));
    }

    std::vector<QJsonObject> Records() {
        std::vector<QJsonObject> records;
        std::istringstream lines(ReadText(folder_.File("station.log")));
        for (std::string line; std::getline(lines, line);) {
            records.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
        }
        return records;
    }

    bool WaitForRecords(std::size_t count) {
        return test::WaitUntil(
            [&] { return Records().size() >= count; }, 30000,
            [&] { station_.WaitForOutput("\x01", std::chrono::milliseconds(20)); });
    }

    TempFolder folder_;
    DevsimHarness devices_[SlotCount];
    std::string links_[SlotCount];
    Bytes a_, b_;
    RunnerProcess station_;
};

TEST_F(StationCycles, EveryBoardOnceWithItsVerdictAndCause) {
    ASSERT_TRUE(station_.Start(folder_.Path(), {"--headless"}, PELLWICK_STATION_EXE))
        << station_.Error();
    for (int round = 1; round <= Rounds; ++round) {
        ASSERT_TRUE(WaitForRecords(static_cast<std::size_t>(SlotCount * round)))
            << "round " << round << ":\n"
            << station_.Output();
        // What the clean board's device stored is the files, byte for byte; removed, so that
        // the next plug must store them anew.
        EXPECT_EQ(ReadFile(devices_[0].File("store/00020000.bin")), a_) << "round " << round;
        EXPECT_EQ(ReadFile(devices_[0].File("store/00030000.bin")), b_) << "round " << round;
        std::filesystem::remove(devices_[0].File("store/00020000.bin"));
        std::filesystem::remove(devices_[0].File("store/00030000.bin"));
        if (round == Rounds) {
            break;
        }
        for (int i = 0; i < SlotCount; ++i) {
            kill(devices_[i].Pid(), SIGUSR1);
        }
        for (int i = 0; i < SlotCount; ++i) {
            ASSERT_TRUE(test::WaitUntil([&] { return !Exists(links_[i]); })) << "slot " << i + 1;
        }
        for (int i = 0; i < SlotCount; ++i) {
            kill(devices_[i].Pid(), SIGUSR2);
        }
    }
    // Boards left in their fixtures are not loaded again.
    station_.WaitForOutput("\x01", std::chrono::milliseconds(1500));
    ASSERT_TRUE(station_.Signal(SIGINT));
    EXPECT_EQ(station_.Wait(std::chrono::seconds(30)), 3) << station_.Output();

    const std::vector<QJsonObject> records = Records();
    ASSERT_EQ(records.size(), static_cast<std::size_t>(SlotCount * Rounds)) << station_.Output();
    // The runs share the folder: none of them may empty a loader.log there for the others.
    EXPECT_FALSE(Exists(folder_.File("loader.log")));
    int perSlot[SlotCount] = {};
    for (const QJsonObject& record : records) {
        const int slot = record["slot"].toInt();
        ASSERT_TRUE(slot >= 1 && slot <= SlotCount);
        const Board& board = Boards[slot - 1];
        ++perSlot[slot - 1];
        EXPECT_EQ(record["run"].toString().toStdString(), board.run) << slot;
        EXPECT_EQ(record["verdict"].toString(), slot == 1 ? "passed" : "failed");
        EXPECT_EQ(record["cause"].toString().toStdString().rfind(board.cause, 0), 0u)
            << slot << ": " << record["cause"].toString().toStdString();
        const QJsonArray files = record["files"].toArray();
        ASSERT_EQ(files.size(), 2);
        EXPECT_EQ(files[0].toObject()["outcome"].toString().toStdString(), board.outcome) << slot;
    }
    for (int i = 0; i < SlotCount; ++i) {
        // One board per plug, and each plug's files announced once: none loaded twice.
        const std::string transcript = ReadText(devices_[i].File("transcript"));
        const int plugs = Count(transcript, "* device ready");
        EXPECT_EQ(perSlot[i], Rounds) << "slot " << i + 1;
        EXPECT_EQ(plugs, Rounds) << "slot " << i + 1;
        EXPECT_EQ(Count(transcript, "* header:"), Boards[i].headers * plugs)
            << "slot " << i + 1 << ", what its device saw:\n"
            << transcript;
    }
}

// Ctrl-C while a board loads: once lets it finish, twice cancels it; either way the station
// then ends with its record whole and the exit status of its boards.
TEST(StationInterrupt, OnceLetsTheBoardFinishTwiceCancelsIt) {
    const struct {
        int interrupts;
        int status;
        const char* run;
    } cases[] = {{1, 0, "completed"}, {2, 3, "cancelled"}};
    for (const auto& c : cases) {
        TempFolder folder;
        DevsimHarness device;
        const std::string link = folder.File("tty1");
        ASSERT_TRUE(device.StartProcess({"--baud", "115200", "--verify-delay", "1500", "--link",
                                         link, "--transcript", device.File("transcript")}))
            << device.Error();
        ASSERT_TRUE(WriteFile(folder.File("a.bin"), AllByteValues(4000)));
        ASSERT_TRUE(WriteText(folder.File("flash.sld"),
                              "_TC \"UL^M\"\n_LV 1.0\n_LA 00020000\n_LF a.bin\n_LD\n"));
        ASSERT_TRUE(WriteText(folder.File("station.ini"),
                              "[Station]\nScript=flash.sld\n[Slots]\nSlot1=" + link +
                                  "\n[Ports]\nScan=0\n[RS232Settings]\nBaud Rate=115200\n"
                                  "Use RTS=0\nRequire CTS=0\n[Upload Settings]\nDelay=0\n"));
        RunnerProcess station;
        ASSERT_TRUE(station.Start(folder.Path(), {"--headless"}, PELLWICK_STATION_EXE))
            << station.Error();
        ASSERT_TRUE(test::WaitUntil(
            [&] {
                return ReadText(device.File("transcript")).find("* header:") != std::string::npos;
            },
            test::kWaitMs, [&] { station.WaitForOutput("\x01", std::chrono::milliseconds(20)); }))
            << station.Output() << ReadText(device.File("transcript"));
        ASSERT_TRUE(station.Signal(SIGINT));
        if (c.interrupts == 2) {
            ASSERT_TRUE(station.WaitForOutput("no new boards", std::chrono::seconds(10)));
            ASSERT_TRUE(station.Signal(SIGINT));
        }
        EXPECT_EQ(station.Wait(std::chrono::seconds(30)), c.status) << station.Output();
        const std::string log = ReadText(folder.File("station.log"));
        EXPECT_EQ(Count(log, "\n"), 1) << log;
        EXPECT_NE(log.find(std::string("\"run\":\"") + c.run + "\""), std::string::npos)
            << c.interrupts << ": " << log;
    }
}

// Ctrl-C twice while a board waits in a 60 s pause before its data, or on a line that takes
// nothing more: the board is cancelled then and there, not after the pause or the line's end.
TEST(StationInterrupt, TheCancelEndsALongPauseOrAHeldLineAtOnce) {
    const struct {
        const char* name;
        std::vector<std::string> faults;
        const char* delay;
        const char* waitFor; // in the device's transcript
    } cases[] = {
        {"a 60 s pause", {}, "60000", "* header:"},
        {"a held line", {"--stall-after", "2000"}, "0", "stalled"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        DevsimHarness device;
        const std::string link = folder.File("tty1");
        std::vector<std::string> args = c.faults;
        args.insert(args.end(), {"--link", link, "--transcript", device.File("transcript")});
        ASSERT_TRUE(device.StartProcess(args)) << device.Error();
        ASSERT_TRUE(WriteFile(folder.File("a.bin"), AllByteValues(512 * 1024)));
        ASSERT_TRUE(WriteText(folder.File("flash.sld"),
                              "_TC \"UL^M\"\n_LV 1.0\n_LA 00020000\n_LF a.bin\n_LD\n"));
        ASSERT_TRUE(WriteText(folder.File("station.ini"),
                              "[Station]\nScript=flash.sld\n[Slots]\nSlot1=" + link +
                                  "\n[Ports]\nScan=0\n[RS232Settings]\nUse RTS=0\nRequire CTS=0\n"
                                  "[Upload Settings]\nDelay=" +
                                  c.delay + "\n"));
        RunnerProcess station;
        ASSERT_TRUE(station.Start(folder.Path(), {"--headless"}, PELLWICK_STATION_EXE))
            << station.Error();
        ASSERT_TRUE(test::WaitUntil(
            [&] {
                return ReadText(device.File("transcript")).find(c.waitFor) != std::string::npos;
            },
            test::kWaitMs, [&] { station.WaitForOutput("\x01", std::chrono::milliseconds(20)); }))
            << station.Output() << ReadText(device.File("transcript"));
        ASSERT_TRUE(station.Signal(SIGINT));
        ASSERT_TRUE(station.WaitForOutput("no new boards", std::chrono::seconds(10)));
        const auto cancelled = std::chrono::steady_clock::now();
        ASSERT_TRUE(station.Signal(SIGINT));
        EXPECT_EQ(station.Wait(std::chrono::seconds(30)), 3) << station.Output();
        EXPECT_LE(std::chrono::steady_clock::now() - cancelled, std::chrono::milliseconds(500));
        const std::string log = ReadText(folder.File("station.log"));
        EXPECT_NE(log.find("\"run\":\"cancelled\""), std::string::npos) << log;
    }
}

// The station killed (kill -9) while its second board is being loaded, then started again: the
// database opens, the board that passed is there once with its id, station, operator and the
// hash of what it was sent; the one under way is recorded as interrupted; and the queries read
// both back.
TEST(StationDatabase, AKilledStationLeavesItsRecordWholeAndTheBoardUnderWayInterrupted) {
    TempFolder folder;
    DevsimHarness device;
    const std::string link = folder.File("tty1");
    ASSERT_TRUE(device.StartProcess({"--verify-delay", "1500", "--command", "SN=B0413", "--link",
                                     link, "--transcript", device.File("transcript")}))
        << device.Error();
    const Bytes image = AllByteValues(2000);
    ASSERT_TRUE(WriteFile(folder.File("a.bin"), image));
    ASSERT_TRUE(WriteText(folder.File("flash.sld"),
                          "_TC \"UL^M\"\n_TC \"SN^M\"\n_LV 1.0\n_LA 00020000\n_LF a.bin\n_LD\n"));
    ASSERT_TRUE(WriteText(folder.File("station.ini"),
                          "[Station]\nScript=flash.sld\nName=line-3\nOperator=ana\n[Board]\n"
                          "Id Line=2\n[Slots]\nSlot1=" +
                              link +
                              "\n[Ports]\nScan=0\n[RS232Settings]\nUse RTS=0\nRequire CTS=0\n"
                              "[Upload Settings]\nDelay=0\n"));
    const auto headers = [&] { return Count(ReadText(device.File("transcript")), "* header:"); };
    {
        RunnerProcess station;
        ASSERT_TRUE(station.Start(folder.Path(), {"--headless"}, PELLWICK_STATION_EXE))
            << station.Error();
        const auto pump = [&] { station.WaitForOutput("\x01", std::chrono::milliseconds(20)); };
        ASSERT_TRUE(
            test::WaitUntil([&] { return Count(ReadText(folder.File("station.log")), "\n") == 1; },
                            test::kWaitMs, pump))
            << station.Output();
        kill(device.Pid(), SIGUSR1);
        ASSERT_TRUE(test::WaitUntil([&] { return !Exists(link); }));
        kill(device.Pid(), SIGUSR2);
        // The second board is in its file's verification when the station dies.
        ASSERT_TRUE(test::WaitUntil([&] { return headers() == 2; }, test::kWaitMs, pump))
            << station.Output();
        ASSERT_TRUE(station.Signal(SIGKILL));
        station.Wait(std::chrono::seconds(10));
    }
    {
        RunnerProcess station;
        ASSERT_TRUE(station.Start(folder.Path(), {"--headless"}, PELLWICK_STATION_EXE))
            << station.Error();
        EXPECT_TRUE(station.WaitForOutput("as interrupted", std::chrono::seconds(10)))
            << station.Output();
        ASSERT_TRUE(station.Signal(SIGINT));
        station.Wait(std::chrono::seconds(30));
    }
    const auto query = [&](const std::vector<std::string>& args, std::string& output) {
        RunnerProcess program;
        if (!program.Start(folder.Path(), args, PELLWICK_STATION_EXE)) {
            return -1;
        }
        const int status = program.Wait(std::chrono::seconds(30));
        output = program.Output();
        return status;
    };
    std::string csv;
    ASSERT_EQ(query({"--export", "csv"}, csv), 0) << csv;
    // The header and one line per attempt: the passed board and the interrupted one.
    ASSERT_EQ(Count(csv, "\r\n"), 3) << csv;
    EXPECT_EQ(Count(csv, ",passed,"), 1) << csv;
    EXPECT_EQ(Count(csv, ",interrupted,"), 1) << csv;
    EXPECT_EQ(Count(csv, "B0413"), 1) << csv; // the id came with the board that finished
    EXPECT_NE(csv.find("line-3"), std::string::npos) << csv;
    EXPECT_NE(csv.find("ana"), std::string::npos) << csv;
    std::string history;
    ASSERT_EQ(query({"--history", "B0413"}, history), 0) << history;
    EXPECT_NE(history.find(Sha256::HexOf(image.data(), image.size())), std::string::npos)
        << history;
}

} // namespace
} // namespace pellwick::e2e
