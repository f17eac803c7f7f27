// Shared set-up of the pellwick-run tests: the simulator in this process on a pseudo-terminal,
// storing accepted files in its folder; that folder doubles as the runner's working directory,
// with loader.ini pointing COM1 at the simulator and short delays.
#pragma once

#include "e2e/RunnerProcess.h"
#include "e2e/UploadFiles.h"
#include "support/DevsimHarness.h"
#include "support/WaitUntil.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace pellwick::e2e {

// The runner's upload-error box as printed, up to the file's name.
inline std::string UploadErrorBox(const std::string& file) {
    return "[Error] Upload error encountered, script aborted! Reset remote system.\n    File: " +
           file;
}

class RunnerFixture : public ::testing::Test {
protected:
    static constexpr auto RunDeadline = std::chrono::seconds(60);

    // Starts the simulator (files kept in Folder()/store) and writes loader.ini.
    void StartDevice(DeviceConfig config = {}, const std::vector<IniEntry>& extra = {}) {
        StartDeviceIn(device_, config, extra);
    }

    const std::string& Folder() const { return device_.Folder(); }
    std::string File(const std::string& name) const { return device_.File(name); }
    DevsimHarness& Device() { return device_; }

    int RunScript(const std::string& script, const std::vector<std::string>& options = {}) {
        EXPECT_TRUE(WriteText(File("test.sld"), script));
        std::vector<std::string> args = options;
        args.push_back("test.sld");
        const int status = RunnerProcess::Run(Folder(), args, output_, RunDeadline);
        return status;
    }
    const std::string& Output() const { return output_; }

    // The operator's next step after a fault: a clean upload in the same folder against a
    // freshly started device succeeds.
    void ExpectCleanRunAgainstFreshDevice() {
        DevsimHarness fresh;
        StartDeviceIn(fresh, {}, {});
        std::filesystem::copy_file(fresh.File("loader.ini"), File("loader.ini"),
                                   std::filesystem::copy_options::overwrite_existing);
        const Bytes data = AllByteValues(3000);
        ASSERT_TRUE(WriteFile(File("after.bin"), data));
        EXPECT_EQ(RunScript("_SC \"UL^M\"\n_LA after\n_LV 2\n_LF after.bin\n_LD\n"), 0) << Output();
        EXPECT_EQ(ReadFile(fresh.File("store/after.bin")), data);
        EXPECT_EQ(fresh.Stop(), 0);
    }

    static void StartDeviceIn(DevsimHarness& device, DeviceConfig config,
                              const std::vector<IniEntry>& extra) {
        std::filesystem::create_directory(device.File("store"));
        config.storeDir = device.File("store");
        ASSERT_TRUE(device.StartInProcess(config)) << device.Error();
        std::vector<IniEntry> entries = {{"Upload Settings", "Delay", "50"}};
        entries.insert(entries.end(), extra.begin(), extra.end());
        ASSERT_FALSE(device.WriteLoaderIni(1, entries).empty());
    }

    // Waits until the device has received at least `count` bytes.
    bool WaitForDeviceBytes(std::uint64_t count, std::chrono::milliseconds timeout) {
        return test::WaitUntil([&] { return device_.Server()->BytesReceived() >= count; }, timeout);
    }

    // Waits until the device has stopped discarding the rest of a refused file.
    bool WaitForDeviceQuiet(std::chrono::milliseconds timeout) {
        return test::WaitUntil([&] { return !device_.Server()->Discarding(); }, timeout);
    }

private:
    DevsimHarness device_;
    std::string output_;
};

} // namespace pellwick::e2e
