// The station's window on two button slots: the keys start a board and the row shows its
// verdict; the Lock switch stops every edit of the settings.
#include "station/window/StationWindow.h"
#include "link/PortOwner.h"
#include "support/DevsimHarness.h"
#include "support/PumpUntil.h"
#include "support/TempFolder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace pellwick {
namespace {

class StationWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        start_ = std::filesystem::current_path();
        std::string slotLines;
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(devices_[i].StartInProcess());
            slotLines += "Slot" + std::to_string(i + 1) + "=" + devices_[i].SlavePath() + "\n";
        }
        std::filesystem::current_path(folder_.Path());
        std::ofstream("a.bin") << "board";
        std::ofstream("flash.sld") << "_TC \"UL^M\"\n_LA 00020000\n_LF a.bin\n_LD\n";
        slotLines_ = slotLines;
        Build("");
    }
    // The station and its window anew, with these keys added to [Station].
    void Build(const std::string& stationKeys) {
        window_.reset();
        station_.reset();
        std::ofstream("station.ini")
            << "[Station]\nScript=flash.sld\nStart=button\n" + stationKeys + "[Slots]\n" +
                   slotLines_ +
                   "[Ports]\nScan=0\n[RS232Settings]\nUse RTS=0\nRequire CTS=0\n"
                   "[Upload Settings]\nDelay=0\n";
        std::vector<std::string> errors;
        StationConfig config = ReadStationConfig(errors);
        ASSERT_TRUE(errors.empty()) << errors.front();
        station_ = std::make_unique<Station>(std::move(config));
        ASSERT_EQ(station_->Start(), "");
        window_ = std::make_unique<StationWindow>(*station_);
        window_->show();
        ASSERT_TRUE(test::PumpUntil([&] { return station_->Slot(1).Owner().IsOpen(); }));
    }
    void TearDown() override {
        window_.reset();
        station_.reset();
        std::filesystem::current_path(start_);
    }

    template <typename W> W* InRow(int slot, const char* name) {
        auto* row = window_->findChild<QWidget*>(QStringLiteral("Slot%1").arg(slot));
        return row ? row->findChild<W*>(QString::fromLatin1(name)) : nullptr;
    }

    std::filesystem::path start_;
    std::string slotLines_;
    DevsimHarness devices_[2];
    TempFolder folder_;
    std::unique_ptr<Station> station_;
    std::unique_ptr<StationWindow> window_;
};

TEST_F(StationWindowTest, KeysSelectAndStartABoardWhoseVerdictStays) {
    QTest::keyClick(window_.get(), Qt::Key_2);
    // A key alone waits to be sure it is no scanner's.
    ASSERT_TRUE(test::PumpUntil([&] { return window_->SelectedSlot() == 1; }));
    QTest::keyClick(window_.get(), Qt::Key_Return);
    QTest::qWait(100);
    EXPECT_TRUE(devices_[1].Server()->Uploads().empty()) << "Enter alone started the board";
    QTest::keyClick(window_.get(), Qt::Key_Return, Qt::ControlModifier);
    auto* verdict = InRow<QLabel>(2, "Verdict");
    ASSERT_TRUE(verdict);
    ASSERT_TRUE(test::PumpUntil([&] { return verdict->text() == "PASS"; }));
    EXPECT_EQ(devices_[1].Server()->Uploads().size(), 1u);
    EXPECT_TRUE(devices_[0].Server()->Uploads().empty());
    EXPECT_EQ(station_->Totals().Passed, 1);
    // A button slot has no way to see its board go: the verdict stays, and the same board is
    // loaded again only when the operator says so.
    QTest::qWait(200);
    EXPECT_EQ(verdict->text(), "PASS");
    QTest::keyClick(window_.get(), Qt::Key_Return, Qt::ControlModifier);
    auto* again = window_->findChild<QMessageBox*>(QStringLiteral("AgainQuestion"));
    ASSERT_TRUE(again);
    again->button(QMessageBox::No)->click();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    QTest::qWait(100);
    EXPECT_EQ(devices_[1].Server()->Uploads().size(), 1u);
    // A new label means a new board.
    QTest::keyClicks(window_.get(), QStringLiteral("SN-2"));
    QTest::keyClick(window_.get(), Qt::Key_Return);
    QTest::keyClick(window_.get(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(station_->Slot(1).Running() ||
                station_->Totals().Passed + station_->Totals().Failed == 2);
}

// With Require Label a board starts only once its label is scanned.
TEST_F(StationWindowTest, ARequiredLabelComesBeforeTheBoard) {
    Build("Require Label=1\n");
    QTest::keyClick(window_.get(), Qt::Key_Return, Qt::ControlModifier);
    QTest::qWait(100);
    EXPECT_TRUE(devices_[0].Server()->Uploads().empty());
    EXPECT_NE(InRow<QLabel>(1, "Cause")->text().indexOf("label"), -1);
    QTest::keyClicks(window_.get(), QStringLiteral("SN-1"));
    QTest::keyClick(window_.get(), Qt::Key_Return);
    QTest::keyClick(window_.get(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(test::PumpUntil([&] { return station_->Totals().Passed == 1; }));
}

TEST_F(StationWindowTest, LockStopsEveryEditOfTheSettings) {
    auto* inService = InRow<QCheckBox>(1, "InService");
    auto* mode = InRow<QComboBox>(1, "StartMode");
    ASSERT_TRUE(inService && mode);
    QTest::keyClick(window_.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_FALSE(station_->Slot(0).InService());
    QTest::keyClick(window_.get(), Qt::Key_O, Qt::ControlModifier);
    QTest::keyClick(window_.get(), Qt::Key_L, Qt::ControlModifier);
    ASSERT_TRUE(window_->Locked());
    EXPECT_FALSE(inService->isEnabled());
    EXPECT_FALSE(mode->isEnabled());
    QTest::keyClick(window_.get(), Qt::Key_O, Qt::ControlModifier);
    QTest::keyClick(window_.get(), Qt::Key_M, Qt::ControlModifier);
    EXPECT_TRUE(station_->Slot(0).InService());
    EXPECT_EQ(station_->Slot(0).Mode(), StartMode::Button);
}

// A barcode scanner types like a keyboard, fast and ending in Enter: its lines (digits, o and m
// among them) start, stop and change no slot, and the last label lands on the selected slot,
// in its row and in the record of its next board.
TEST_F(StationWindowTest, AScannersLinesAreLabelsNeverKeys) {
    for (const char* scan : {"SN2024-0413M", "LOT7om"}) {
        QTest::keyClicks(window_.get(), QString::fromLatin1(scan));
        QTest::keyClick(window_.get(), Qt::Key_Return);
    }
    QTest::qWait(200);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(devices_[i].Server()->Uploads().empty()) << "slot " << i + 1;
        EXPECT_TRUE(station_->Slot(i).InService()) << "slot " << i + 1;
        EXPECT_EQ(station_->Slot(i).Mode(), StartMode::Button) << "slot " << i + 1;
    }
    EXPECT_EQ(window_->SelectedSlot(), 0);
    EXPECT_EQ(station_->Slot(0).View().Label, "LOT7om");
    EXPECT_TRUE(station_->Slot(1).View().Label.empty());
    EXPECT_NE(InRow<QLabel>(1, "Port")->text().indexOf("LOT7om"), -1);

    QTest::keyClick(window_.get(), Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(test::PumpUntil([&] { return station_->Totals().Passed == 1; }));
    std::ifstream log("station.log");
    const std::string line((std::istreambuf_iterator<char>(log)), {});
    EXPECT_NE(line.find("\"label\":\"LOT7om\""), std::string::npos) << line;
}

// Quit while a board loads: the question waits for the operator while the board goes on; once
// it is answered Yes the window closes as soon as no board runs, even when the last one ended
// while the question was shown.
TEST_F(StationWindowTest, QuitAnsweredYesClosesOnceTheBoardsAreDone) {
    ASSERT_TRUE(station_->Slot(0).StartBoard());
    window_->close();
    auto* question = window_->findChild<QMessageBox*>(QStringLiteral("QuitQuestion"));
    ASSERT_TRUE(question);
    ASSERT_TRUE(test::PumpUntil([&] { return station_->Idle(); }));
    EXPECT_TRUE(window_->isVisible());
    question->button(QMessageBox::Yes)->click();
    EXPECT_TRUE(test::PumpUntil([&] { return !window_->isVisible(); }));
    EXPECT_EQ(station_->Totals().Passed, 1);
}

} // namespace
} // namespace pellwick
