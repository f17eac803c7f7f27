// station.ini: what a station reads from it, and every mistake reported before anything starts.
#include "station/StationConfig.h"
#include "support/TempFolder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace pellwick {
namespace {

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class StationConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        start_ = std::filesystem::current_path();
        std::filesystem::current_path(folder_.Path());
        Write("flash.sld", "_LF a.bin\n_LD\n");
        Write("a.bin", "data");
        Write("tty1", "");
        Write("tty2", "");
    }
    void TearDown() override { std::filesystem::current_path(start_); }

    // Reads a station.ini of the given text, with every device but ttyGONE present.
    StationConfig Read(const std::string& ini, std::vector<std::string>& errors) {
        Write("station.ini", ini);
        return ReadStationConfig(
            errors, [](const std::string& path) { return path.find("GONE") == std::string::npos; });
    }

    TempFolder folder_;
    std::filesystem::path start_;
};

TEST_F(StationConfigTest, SlotsTakeTheirPortsStartsAndLine) {
    std::vector<std::string> errors;
    const std::string tty2 = folder_.File("tty2");
    const StationConfig config = Read("[Station]\nScript=flash.sld\nStart=probe\nProbe=AT^M\n"
                                      "[Slots]\nSlot1=COM3\nSlot2=" +
                                          tty2 +
                                          "\nStart2=appear\nSlot3=rfc2217://[::1]:3001\n"
                                          "[Ports]\nScan=0\nCOM3=" +
                                          folder_.File("tty1") +
                                          "\n"
                                          "[RS232Settings]\nBaud Rate=921600\nUse RTS=0\n",
                                      errors);
    ASSERT_TRUE(errors.empty()) << errors.front();
    ASSERT_EQ(config.Slots.size(), 3u);
    EXPECT_EQ(config.Slots[0].ComNumber, 3);
    EXPECT_EQ(config.Slots[0].Start, StartMode::Probe);
    EXPECT_EQ(config.Slots[1].Start, StartMode::Appear);
    // A device path gets a number of the map, free and from the top.
    EXPECT_EQ(config.Slots[1].ComNumber, 255);
    EXPECT_EQ(config.Ports->PathOf(255), tty2);
    EXPECT_EQ(config.Probe, "AT\r");
    // A port on the network is taken as it is, with a number of the map.
    EXPECT_EQ(config.Slots[2].DevicePath, "rfc2217://[::1]:3001");
    EXPECT_EQ(config.Ports->PathOf(config.Slots[2].ComNumber), "rfc2217://[::1]:3001");
    EXPECT_EQ(config.Line.BaudRate, 921600);
    EXPECT_FALSE(config.Line.UseRts);
    // Without a name the station is known by its computer's.
    EXPECT_EQ(config.Name, config.Host);
    EXPECT_FALSE(config.Host.empty());
}

TEST_F(StationConfigTest, EveryMistakeIsNamedBeforeAnythingStarts) {
    const std::string tty1 = folder_.File("tty1");
    const std::string ok = "[Ports]\nScan=0\nCOM3=" + tty1 + "\n";
    const struct {
        const char* name;
        std::string ini;
        const char* error; // a part of the one error expected
    } cases[] = {
        {"slot key twice", "[Slots]\nSlot1=COM3\nslot1=/dev/x\n" + ok,
         "[Slots] slot1: named twice"},
        {"one port in two slots", "[Slots]\nSlot1=COM3\nSlot2=" + tty1 + "\n" + ok,
         "names the same port as Slot1"},
        {"port not in the map", "[Slots]\nSlot1=COM4\n" + ok, "COM4 is not in the port map"},
        {"fixed adapter missing", "[Slots]\nSlot1=/dev/ttyGONE\nStart1=button\n" + ok,
         "/dev/ttyGONE does not exist"},
        {"neither COM nor path", "[Slots]\nSlot1=ttyUSB0\n" + ok, "neither COMn nor a device path"},
        {"network port that does not parse", "[Slots]\nSlot1=tcp://host\nStart1=button\n" + ok,
         "\"tcp://host\": "},
        {"network port that cannot appear", "[Slots]\nSlot1=tcp://host:1\nStart1=appear\n" + ok,
         "not by \"appear\""},
        {"no slot", ok, "at least one slot"},

        {"bad baud rate", "[Slots]\nSlot1=COM3\n[RS232Settings]\nBaud Rate=19.2\n" + ok,
         "[RS232Settings] Baud Rate: \"19.2\" is not a rate from 50 to 4000000 baud"},
        {"unknown start", "[Slots]\nSlot1=COM3\nStart1=soon\n" + ok, "\"soon\" is not"},
        {"script unreadable", "[Station]\nScript=none.sld\n[Slots]\nSlot1=COM3\n" + ok,
         "\"none.sld\" cannot be read"},
        {"unknown key", "[Station]\nScrpit=flash.sld\nScript=flash.sld\n[Slots]\nSlot1=COM3\n" + ok,
         "[Station] Scrpit: unknown key"},

        {"start without slot", "[Slots]\nSlot1=COM3\nStart2=probe\n" + ok, "there is no Slot2"},
        {"place without slot", "[Slots]\nSlot1=COM3\nPlace2=1-1.4\n" + ok, "there is no Slot2"},
        {"id line that asks nothing", "[Slots]\nSlot1=COM3\n[Board]\nId Line=2\n" + ok,
         "[Board] Id Line: line 2 of flash.sld is not a _TC command"},
        {"database that is not postgresql",
         "[Slots]\nSlot1=COM3\n[Record]\nDatabase=mysql://x\n" + ok,
         "[Record] Database: \"mysql://x\" is not a postgresql:// address"},
        {"block above buffer", "[Slots]\nSlot1=COM3\n[Upload Settings]\nBlock Size=5000\n" + ok,
         "Block Size: \"5000\""},
        {"trigger too long",
         "[Slots]\nSlot1=COM3\n[Trigger]\nUL Prompt=0123456789012345678901\n" + ok,
         "longer than the 21 characters"},
        {"misspelt key of a line section",
         "[Slots]\nSlot1=COM3\n[Upload Settings]\nDealy=5000\n" + ok,
         "[Upload Settings] Dealy: unknown key (Buffer Size, Block Size, Delay)"},
        {"misspelt key of the port map", "[Slots]\nSlot1=COM3\n" + ok + "Scna=1\n",
         "[Ports] Scna: unknown key"},
        {"misspelt section", "[Slots]\nSlot1=COM3\n[RS232Setings]\nBaud Rate=9600\n" + ok,
         "[RS232Setings]: unknown section"},
        {"section twice", "[Slots]\nSlot1=COM3\n" + ok + "[Slots]\nSlot2=COM3\n",
         "[Slots]: named twice"},
        {"comm port of loader.ini", "[Slots]\nSlot1=COM3\n[RS232Settings]\nComm Port=COM1\n" + ok,
         "names its ports in [Slots]"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> errors;
        // Cases without a [Station] of their own run the script that is there.
        const bool own = c.ini.find("[Station]") != std::string::npos;
        Read((own ? "" : "[Station]\nScript=flash.sld\n") + c.ini, errors);
        ASSERT_EQ(errors.size(), 1u) << c.name << (errors.empty() ? "" : ": " + errors.front());
        EXPECT_NE(errors.front().find(c.error), std::string::npos)
            << c.name << ": " << errors.front();
    }
}

TEST_F(StationConfigTest, AScriptFileThatCannotBeReadIsAnError) {
    Write("flash.sld", "_LF a.bin\n_LD\n_LF missing.bin\n_LD\n");
    std::vector<std::string> errors;
    Read("[Slots]\nSlot1=" + folder_.File("tty1") + "\n[Station]\nScript=flash.sld\n", errors);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors.front().find("line 4 of flash.sld uploads \"missing.bin\""), std::string::npos)
        << errors.front();
}

} // namespace
} // namespace pellwick
