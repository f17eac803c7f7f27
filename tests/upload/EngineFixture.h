// A script engine wired to the fakes, running in a fresh temporary directory (scripts, upload
// files and loader.log all live there).
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
        window.Journal = &link.Calls;
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

    // Ticks while the timer is on; a transfer handed to the link ends the way the link ends it
    // (timer re-enabled, or SetULError when the device reported an error). Stops when nothing
    // would wake the engine any more.
    int Drive(int maxTicks = 10000) {
        int ticks = 0;
        while (ticks < maxTicks) {
            if (window.Timer) {
                engine.ScriptTimerTimer();
                ++ticks;
            } else if (link.TransferPending) {
                EndTransfer();
            } else {
                break;
            }
        }
        EXPECT_LT(ticks, maxTicks) << "the run never came to rest";
        return ticks;
    }

    // Ticks until `done` holds (the timer must stay on meanwhile).
    void TickUntil(const std::function<bool()>& done, int maxTicks = 10000) {
        for (int i = 0; i < maxTicks && !done(); ++i) {
            ASSERT_TRUE(window.Timer) << "the run stopped before the condition held";
            engine.ScriptTimerTimer();
        }
        ASSERT_TRUE(done());
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
        EXPECT_FALSE(window.Timer);
        EXPECT_FALSE(window.ProgressVisible);
        EXPECT_TRUE(window.IdleControls);
    }

    FakeLink link;
    FakeWindow window;
    ScriptedBoxes boxes{Unscripted::FailTest};
    ScriptEngine engine{link, window, boxes};
    bool TransferEndsWithDeviceError = false;

private:
    std::filesystem::path previous_;
    std::filesystem::path dir_;
};

} // namespace pellwick::test
