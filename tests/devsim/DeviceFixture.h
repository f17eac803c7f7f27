// A simulated device served in this process on a real pseudo-terminal, and the program's end
// of the line opened in raw mode.
#pragma once

#include "support/DevsimHarness.h"
#include "support/LinePeer.h"

#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

namespace pellwick {

class DeviceFixture : public ::testing::Test {
protected:
    void Start(const DeviceConfig& config = {}) {
        ASSERT_TRUE(harness_.StartInProcess(config)) << harness_.Error();
        ASSERT_TRUE(peer_.Open(harness_.SlavePath())) << harness_.SlavePath();
    }

    // Starts the device and switches it to upload mode.
    void StartUploading(const DeviceConfig& config) {
        ASSERT_NO_FATAL_FAILURE(Start(config));
        ASSERT_EQ(Ask("UL", ">"), ">");
    }

    // Sends a line (CR appended) and returns the answer up to and including `until`.
    std::string Ask(std::string_view line, std::string_view until) {
        EXPECT_TRUE(peer_.Write(std::string(line) + "\r"));
        return peer_.ReadUntil(until);
    }

    // Sends a file (its header, its bytes, the verifying CR) and returns the answer up to the
    // upload prompt.
    std::string Upload(std::string_view address, std::string_view data) {
        EXPECT_TRUE(peer_.Write(Header(address, data) + std::string(data)));
        return Ask("", ">");
    }

    // One exchange of a dialogue: bytes sent (as they are, may be empty) and the answer expected,
    // read up to its last byte.
    struct Step {
        std::string send;
        std::string answer;
    };

    void Converse(const std::vector<Step>& steps) {
        for (const Step& step : steps) {
            SCOPED_TRACE(step.send);
            ASSERT_TRUE(peer_.Write(step.send));
            EXPECT_EQ(peer_.ReadUntil(std::string_view(step.answer).substr(step.answer.size() - 1)),
                      step.answer);
        }
    }

    static std::string Header(std::string_view address, std::string_view data,
                              std::string_view version = "1.02") {
        char sum[8];
        std::snprintf(sum, sizeof sum, "%04X",
                      static_cast<unsigned>(DeviceProtocol::Checksum(data)));
        return "LF " + std::string(address) + " " + std::to_string(data.size()) + " " + sum + " " +
               std::string(version) + "\r";
    }

    DevsimHarness harness_;
    LinePeer peer_;
};

} // namespace pellwick
