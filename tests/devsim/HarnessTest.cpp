// The test harness's loader.ini, which later end-to-end tests hand to the program.
#include "support/DevsimHarness.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace pellwick {
namespace {

TEST(HarnessTest, LoaderIniPointsTheChosenPortAtTheSimulatorAndTakesOverrides) {
    DevsimHarness harness;
    ASSERT_TRUE(harness.StartInProcess()) << harness.Error();
    const std::string path = harness.WriteLoaderIni(3, {{"RS232Settings", "Require CTS", "1"},
                                                        {"Upload Settings", "Delay", "100"},
                                                        {"Ports", "COM4", "/dev/null"}});
    ASSERT_EQ(path, harness.Folder() + "/loader.ini");
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "[RS232Settings]\n"
                          "Comm Port=COM3\n"
                          "Use DTR=0\n"
                          "Use RTS=0\n"
                          "Require DSR=0\n"
                          "Require CTS=1\n"
                          "[Ports]\n"
                          "Scan=0\n"
                          "COM3=" +
                              harness.SlavePath() +
                              "\n"
                              "COM4=/dev/null\n"
                              "[Upload Settings]\n"
                              "Delay=100\n");
    EXPECT_EQ(harness.Stop(), 0);
    EXPECT_EQ(harness.Stop(), -1);
}

} // namespace
} // namespace pellwick
