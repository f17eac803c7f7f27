// A board's run of the station on a scripted link and a virtual clock: a row follows the run's
// phase, and a start that the run refuses ends that board failed with its own cause and its own
// files, never with what the board before it did.
#include "station/BoardRun.h"

#include "support/TempFolder.h"
#include "support/VirtualClock.h"
#include "upload/Sha256.h"
#include "upload/UploadFakes.h"
#include "upload/run/UploadRun.h"

#include <QCoreApplication>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace pellwick {
namespace {

class BoardRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path().string();
        std::filesystem::current_path(folder_.Path());
        std::ofstream("a.bin") << std::string(100, 'x');
        std::ofstream("b.bin") << std::string(50, 'y');
        station_.Delay = 0;
        station_.Script = "flash.sld";
        link_.LinkStateValue.ActiveError = "ERR";
    }
    // The board run of a slot whose station loads this script.
    void Make(const std::string& script) {
        std::ofstream("flash.sld") << script;
        board_ = std::make_unique<BoardRun>(station_, slot_, link_, boxes_, &clock_);
        QObject::connect(board_.get(), &BoardRun::Finished,
                         [this](const BoardResult& result) { results_.push_back(result); });
    }
    void TearDown() override { std::filesystem::current_path(previous_); }

    // Runs the board to its end; between steps, `between` may change the world around it.
    void RunToEnd(const std::function<void()>& between = {}) {
        for (int i = 0; i < 100000 && board_->Running(); ++i) {
            if (between) {
                between();
            }
            if (link_.TransferPending && board_->Run().Engine().Waiting() == RunWait::None &&
                !board_->Run().TimerActive()) {
                link_.TransferPending = false;
                link_.LinkStateValue.BlockCursor = link_.TransferEnd;
                link_.Host->EnableScriptTimer();
            } else if (!clock_.FireNext()) {
                QCoreApplication::processEvents(); // the run's end reaches the board queued
            }
        }
    }

    TempFolder folder_;
    std::string previous_;
    StationConfig station_;
    SlotConfig slot_{1, "tty1", 1, folder_.File("tty1"), StartMode::Button, {}};
    test::FakeLink link_;
    SlotBoxes boxes_;
    test::VirtualClock clock_;
    std::unique_ptr<BoardRun> board_;
    std::vector<BoardResult> results_;
};

TEST_F(BoardRunTest, AStartOnALineThatHungUpFailsThatBoardNotWithTheBoardBefore) {
    Make("_LF a.bin\r\n_LA 1\r\n_LV 1\r\n_LD\r\n");
    // What a row shows follows the run's phase: the file while it loads and while it is verified.
    std::vector<std::pair<bool, std::string>> shown;
    QObject::connect(board_.get(), &BoardRun::Changed, [&] {
        if (shown.empty() || shown.back() != std::pair(board_->Verifying(), board_->File())) {
            shown.emplace_back(board_->Verifying(), board_->File());
        }
    });
    AdapterInfo first;
    first.serial = "A1";
    board_->Start(first);
    RunToEnd();
    ASSERT_EQ(results_.size(), 1u);
    EXPECT_TRUE(results_[0].Passed);
    EXPECT_EQ(shown, (std::vector<std::pair<bool, std::string>>{
                         {false, "a.bin"}, {true, "a.bin"}, {false, ""}}));

    link_.HungUp = true; // the next board's line hangs up before its start turn
    AdapterInfo second;
    second.serial = "B2";
    board_->Start(second);
    ASSERT_EQ(results_.size(), 2u);
    const BoardResult& refused = results_[1];
    EXPECT_FALSE(refused.Passed);
    EXPECT_EQ(refused.End, RunEnd::NotStarted);
    EXPECT_EQ(refused.Cause, "The board's line hung up before the run could start.");
    EXPECT_EQ(refused.AdapterSerial, "B2");
    ASSERT_EQ(refused.Files.size(), 1u);
    EXPECT_EQ(refused.Files[0].Outcome, FileOutcome::NotSent);
    EXPECT_EQ(link_.Transfers.size(), 1u) << "nothing went out for the second board";
}

// The board's id is its answer to the id line, and the record holds what was sent. When the
// device behind the slot's path is another one before the second file, that file does not go
// out and the board fails with that cause.
TEST_F(BoardRunTest, TheAdapterIsReadAgainBeforeEachFile) {
    station_.IdLine = 1;
    Make("_TC \"ID^M\"\r\n_LF a.bin\r\n_LA 1\r\n_LV 1\r\n_LD\r\n_LF b.bin\r\n_LA 2\r\n_LD\r\n");
    link_.Answers = {"SN-77"};
    std::ofstream(folder_.File("ptsA"));
    std::ofstream(folder_.File("ptsB"));
    std::filesystem::create_symlink("ptsA", slot_.DevicePath);
    board_->Start(ReadAdapterInfo(slot_.DevicePath));
    RunToEnd([&] {
        if (link_.Transfers.size() == 1 && std::filesystem::exists(folder_.File("ptsA"))) {
            std::filesystem::remove(folder_.File("ptsA"));
            std::filesystem::create_symlink("ptsB", folder_.File("tty1.new"));
            std::filesystem::rename(folder_.File("tty1.new"), slot_.DevicePath);
        }
    });
    ASSERT_EQ(results_.size(), 1u);
    const BoardResult& board = results_[0];
    EXPECT_FALSE(board.Passed);
    EXPECT_EQ(board.BoardId, "SN-77");
    EXPECT_EQ(board.Cause.rfind("The adapter behind tty1 is not the one the board started on", 0),
              0u)
        << board.Cause;
    EXPECT_EQ(link_.Transfers.size(), 1u);
    ASSERT_EQ(board.Files.size(), 2u);
    EXPECT_EQ(board.Files[0].Outcome, FileOutcome::Verified);
    EXPECT_EQ(board.Files[0].Sha256, Sha256::HexOf(std::string(100, 'x').data(), 100));
    EXPECT_EQ(board.Files[1].Outcome, FileOutcome::NotSent);
}

} // namespace
} // namespace pellwick
