// A board's run of the station on a scripted link and a virtual clock: a row follows the run's
// phase, and a start that the run refuses ends that board failed with its own cause and its own
// files, never with what the board before it did.
#include "station/BoardRun.h"

#include "support/TempFolder.h"
#include "support/VirtualClock.h"
#include "upload/UploadFakes.h"
#include "upload/run/UploadRun.h"

#include <QCoreApplication>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace pellwick {
namespace {

TEST(BoardRunTest, AStartOnALineThatHungUpFailsThatBoardNotWithTheBoardBefore) {
    TempFolder folder;
    const std::string previous = std::filesystem::current_path().string();
    std::filesystem::current_path(folder.Path());
    std::ofstream("a.bin") << std::string(100, 'x');
    std::ofstream("flash.sld") << "_LF a.bin\r\n_LA 1\r\n_LV 1\r\n_LD\r\n";
    StationConfig station;
    station.Script = "flash.sld";
    station.Delay = 0;
    const SlotConfig slot{1, "tty1", 1, "/dev/tty1", StartMode::Button, {}};
    test::FakeLink link;
    link.LinkStateValue.ActiveError = "ERR";
    SlotBoxes boxes;
    test::VirtualClock clock;
    BoardRun board(station, slot, link, boxes, &clock);
    std::vector<BoardResult> results;
    QObject::connect(&board, &BoardRun::Finished,
                     [&](const BoardResult& result) { results.push_back(result); });

    // What a row shows follows the run's phase: the file while it loads and while it is verified.
    std::vector<std::pair<bool, std::string>> shown;
    QObject::connect(&board, &BoardRun::Changed, [&] {
        if (shown.empty() || shown.back() != std::pair(board.Verifying(), board.File())) {
            shown.emplace_back(board.Verifying(), board.File());
        }
    });
    board.Start("A1");
    for (int i = 0; i < 100000 && board.Running(); ++i) {
        if (link.TransferPending && board.Run().Engine().Waiting() == RunWait::None &&
            !board.Run().TimerActive()) {
            link.TransferPending = false;
            link.LinkStateValue.BlockCursor = link.TransferEnd;
            link.Host->EnableScriptTimer();
        } else if (!clock.FireNext()) {
            QCoreApplication::processEvents(); // the run's end reaches the board queued
        }
    }
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].Passed);
    EXPECT_EQ(shown, (std::vector<std::pair<bool, std::string>>{
                         {false, "a.bin"}, {true, "a.bin"}, {false, ""}}));

    link.HungUp = true; // the next board's line hangs up before its start turn
    board.Start("B2");
    ASSERT_EQ(results.size(), 2u);
    const BoardResult& second = results[1];
    EXPECT_FALSE(second.Passed);
    EXPECT_EQ(second.End, RunEnd::NotStarted);
    EXPECT_EQ(second.Cause, "The board's line hung up before the run could start.");
    EXPECT_EQ(second.AdapterSerial, "B2");
    ASSERT_EQ(second.Files.size(), 1u);
    EXPECT_EQ(second.Files[0].Outcome, FileOutcome::NotSent);
    EXPECT_EQ(link.Transfers.size(), 1u) << "nothing went out for the second board";
    std::filesystem::current_path(previous);
}

} // namespace
} // namespace pellwick
