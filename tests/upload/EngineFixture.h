// A script engine wired to the fakes on a virtual clock, running in a fresh temporary directory
// (scripts, upload files and loader.log all live there).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "UploadFakes.h"
#include "support/VirtualClock.h"
#include "upload/ScriptEngine.h"

namespace pellwick::test {

class EngineFixture : public testing::Test {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::string pattern = testing::TempDir() + "pellwick_upload_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        std::filesystem::current_path(dir_);
        link.LinkStateValue.ActiveError = "ERR";
        engine.ApplySettings(GeneralSettings{});
    }

    void TearDown() override {
        engine.CloseLog();
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(dir_);
    }

    static void WriteFile(const std::string& name, const std::string& bytes) {
        std::ofstream(name, std::ios::binary | std::ios::trunc) << bytes;
    }

    static std::string ReadFile(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static void WriteScript(const std::vector<std::string>& lines,
                            const std::string& name = "loader.sld") {
        std::string text;
        for (const auto& line : lines) {
            text += line + "\r\n";
        }
        WriteFile(name, text);
    }

    // Fires the run's timers in their order on the virtual clock; a transfer handed to the link
    // ends, once the run waits for nothing else, the way the link ends it (timer re-enabled, or
    // SetULError when the device reported an error). Stops when nothing would wake the engine
    // any more; returns how many timers fired. Every pause the run takes goes into the link's
    // journal as "Sleep <ms>" and into Pauses.
    int Drive(int maxFired = 100000) {
        int fired = 0;
        while (fired < maxFired) {
            NotePause();
            if (link.TransferPending && engine.Waiting() == RunWait::None &&
                !engine.TimerActive()) {
                EndTransfer();
                continue;
            }
            if (!clock.FireNext()) {
                break;
            }
            ++fired;
        }
        EXPECT_LT(fired, maxFired) << "the run never came to rest";
        return fired;
    }

    // As Drive, until `done` holds.
    void DriveUntil(const std::function<bool()>& done, int maxFired = 100000) {
        for (int i = 0; i < maxFired && !done(); ++i) {
            NotePause();
            if (link.TransferPending && engine.Waiting() == RunWait::None &&
                !engine.TimerActive()) {
                EndTransfer();
                continue;
            }
            ASSERT_TRUE(clock.FireNext()) << "the run stopped before the condition held";
        }
        ASSERT_TRUE(done());
    }

    // Fires timers until `done` holds (one must be due meanwhile).
    void TickUntil(const std::function<bool()>& done, int maxFired = 100000) {
        for (int i = 0; i < maxFired && !done(); ++i) {
            NotePause();
            ASSERT_TRUE(clock.FireNext()) << "the run stopped before the condition held";
        }
        ASSERT_TRUE(done());
    }

    void NotePause() {
        if (engine.Waiting() != RunWait::Pause) {
            pauseNoted_ = false;
            return;
        }
        if (!pauseNoted_) {
            pauseNoted_ = true;
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                clock.NextDue().value_or(clock.Now()) - clock.Now())
                                .count();
            Pauses.push_back(static_cast<std::int32_t>(ms));
            link.Calls.push_back("Sleep " + std::to_string(ms));
        }
    }

    void EndTransfer() {
        link.TransferPending = false;
        link.LinkStateValue.BlockCursor = link.TransferEnd; // every byte handed over
        if (TransferEndsWithDeviceError) {
            engine.SetULError();
        } else {
            engine.EnableScriptTimer();
        }
    }

    // The run is over and the window shows its idle controls.
    void ExpectIdle() {
        EXPECT_FALSE(engine.Running());
        EXPECT_FALSE(engine.TimerActive());
        EXPECT_FALSE(window.ProgressVisible);
        EXPECT_TRUE(window.IdleControls);
    }

    FakeLink link;
    FakeWindow window;
    ScriptedBoxes boxes{Unscripted::FailTest};
    VirtualClock clock;
    ScriptEngine engine{link, window, boxes, clock};
    bool TransferEndsWithDeviceError = false;
    std::vector<std::int32_t> Pauses;

private:
    bool pauseNoted_ = false;
    std::filesystem::path previous_;
    std::filesystem::path dir_;
};

} // namespace pellwick::test
