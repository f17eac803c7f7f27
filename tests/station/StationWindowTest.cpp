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
        std::ofstream("station.ini")
            << "[Station]\nScript=flash.sld\nStart=button\n[Slots]\n" + slotLines +
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
    DevsimHarness devices_[2];
    TempFolder folder_;
    std::unique_ptr<Station> station_;
    std::unique_ptr<StationWindow> window_;
};

TEST_F(StationWindowTest, KeysSelectAndStartABoardWhoseVerdictStays) {
    QTest::keyClick(window_.get(), Qt::Key_2);
    QTest::keyClick(window_.get(), Qt::Key_Return);
    auto* verdict = InRow<QLabel>(2, "Verdict");
    ASSERT_TRUE(verdict);
    ASSERT_TRUE(test::PumpUntil([&] { return verdict->text() == "PASS"; }));
    EXPECT_EQ(devices_[1].Server()->Uploads().size(), 1u);
    EXPECT_TRUE(devices_[0].Server()->Uploads().empty());
    EXPECT_EQ(station_->Totals().Passed, 1);
    // A button slot has no way to see its board go: the verdict stays.
    QTest::qWait(200);
    EXPECT_EQ(verdict->text(), "PASS");
}

TEST_F(StationWindowTest, LockStopsEveryEditOfTheSettings) {
    auto* inService = InRow<QCheckBox>(1, "InService");
    auto* mode = InRow<QComboBox>(1, "StartMode");
    ASSERT_TRUE(inService && mode);
    QTest::keyClick(window_.get(), Qt::Key_O);
    EXPECT_FALSE(station_->Slot(0).InService());
    QTest::keyClick(window_.get(), Qt::Key_O);
    QTest::keyClick(window_.get(), Qt::Key_L, Qt::ControlModifier);
    ASSERT_TRUE(window_->Locked());
    EXPECT_FALSE(inService->isEnabled());
    EXPECT_FALSE(mode->isEnabled());
    QTest::keyClick(window_.get(), Qt::Key_O);
    QTest::keyClick(window_.get(), Qt::Key_M);
    EXPECT_TRUE(station_->Slot(0).InService());
    EXPECT_EQ(station_->Slot(0).Mode(), StartMode::Button);
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
