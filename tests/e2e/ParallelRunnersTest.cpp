// Several boards at once: four pellwick-run processes, each in its own folder with its own
// simulator, port, log and report, run side by side without disturbing each other.
#include "e2e/RunReportCheck.h"
#include "e2e/RunnerFixture.h"

#include <array>

namespace pellwick::e2e {
namespace {

using ParallelRunnersTest = RunnerFixture;

TEST_F(ParallelRunnersTest, FourRunnersAgainstFourDevicesEachVerifyTheirOwnFilesAndReport) {
    constexpr std::size_t Boards = 4;
    std::array<DevsimHarness, Boards> devices;
    std::array<RunnerProcess, Boards> runners;
    std::array<Bytes, Boards> data;
    for (std::size_t i = 0; i < Boards; ++i) {
        StartDeviceIn(devices[i], {}, {});
        // Different sizes and contents, so that a file landing on the wrong board shows.
        data[i] = AllByteValues(30000 + 1000 * i);
        data[i][0] = static_cast<std::uint8_t>(i);
        ASSERT_TRUE(WriteFile(devices[i].File("board.bin"), data[i]));
        ASSERT_TRUE(WriteText(devices[i].File("test.sld"),
                              "_SC \"UL^M\"\n_LA 00070000\n_LV 1\n_LF board.bin\n_LD\n"
                              "_LA 00080000\n_LF board.bin\n_LD\n"));
    }
    for (std::size_t i = 0; i < Boards; ++i) {
        ASSERT_TRUE(runners[i].Start(devices[i].Folder(), {"--report", "run.json", "test.sld"}))
            << runners[i].Error();
    }
    for (std::size_t i = 0; i < Boards; ++i) {
        SCOPED_TRACE("board " + std::to_string(i));
        EXPECT_EQ(runners[i].Wait(RunDeadline), 0) << runners[i].Output();
        EXPECT_EQ(ReadFile(devices[i].File("store/00070000.bin")), data[i]);
        EXPECT_EQ(ReadFile(devices[i].File("store/00080000.bin")), data[i]);
        const QJsonObject report = ReadCheckedReport(devices[i].File("run.json"));
        EXPECT_EQ(devices[i].SlavePath(), report["port"]["device"].toString().toStdString());
        EXPECT_EQ((std::vector<std::string>{"verified", "verified"}), Outcomes(report));
        EXPECT_EQ(static_cast<int>(data[i].size()), report["files"][0]["size"].toInt());
        // Each log tells of its own board's uploads only.
        const std::string log = ReadText(devices[i].File("loader.log"));
        EXPECT_NE(log.find("File Size: " + std::to_string(data[i].size()) + "\r\n"),
                  std::string::npos)
            << log;
        EXPECT_EQ(devices[i].Stop(), 0);
    }
}

} // namespace
} // namespace pellwick::e2e
