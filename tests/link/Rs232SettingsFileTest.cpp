#include "link/Rs232SettingsFile.h"
#include "ini/EIniWriteError.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace pellwick {
namespace {

namespace fs = std::filesystem;

class Rs232SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(folder_.Path().empty()); }

    void Put(const std::string& content) const {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << content;
    }
    std::string Get() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void Load() {
        PrivateProfile ini(path_);
        Rs232SettingsFile::Load(ini, settings_, link_);
    }
    // Loads a file with the given [RS232Settings] lines and returns what it holds afterwards.
    std::string LoadRs232(const std::string& lines) {
        Put("[RS232Settings]\n" + lines);
        Load();
        return Get();
    }

    TempFolder folder_;
    const std::string dir_ = folder_.Path();
    const std::string path_ = folder_.File("loader.ini");
    Rs232Settings settings_;
    LinkSettings link_;
};

TEST_F(Rs232SettingsFileTest, NoFileGivesDefaultsAndWritesBackExactlyTheRepairedKeys) {
    // Start from values unlike the defaults, so that each default is really set by loading.
    settings_ = {9, 1200, 7, 2, 2, true, false, true, false, false, false, 921600};
    link_ = {"a", "b", "c", "d", "e", 1, 2};
    Load();
    EXPECT_EQ(settings_, Rs232Settings{});
    EXPECT_EQ(settings_.PortNumber, 1);
    EXPECT_EQ(settings_.BaudRate, 19200);
    EXPECT_FALSE(settings_.UseDtr);
    EXPECT_TRUE(settings_.UseRts);
    EXPECT_TRUE(settings_.RequireCts);
    EXPECT_TRUE(settings_.DtrOn);
    EXPECT_TRUE(settings_.RtsOn);
    EXPECT_EQ(link_, LinkSettings{});
    EXPECT_EQ(link_.UlErrorText, "ERR");
    EXPECT_EQ(link_.BufferSize, 4096);
    EXPECT_EQ(link_.BlockSize, 50);
    EXPECT_EQ(Get(), "[RS232Settings]\nComm Port=COM1\nData Bits=8\nParity=0\nStop Bit=1\n");

    // A second start finds nothing to repair.
    Load();
    EXPECT_EQ(Get(), "[RS232Settings]\nComm Port=COM1\nData Bits=8\nParity=0\nStop Bit=1\n");
}

TEST_F(Rs232SettingsFileTest, ValidFileIsReadAsItStandsAndNotRewritten) {
    const std::string file = "[Global]\r\nDriver Version=2.00\r\n"
                             "[rs232settings]\r\n"
                             "comm port=COM12\r\nBaud Rate=115200\r\nData Bits=7\r\nParity=2\r\n"
                             "Stop Bit=$2\r\nUse DTR=1\r\nUse RTS=0\r\nRequire DSR=5\r\n"
                             "Require CTS=0\r\nDTR State=0\r\nRTS State=0\r\n"
                             "[Trigger]\r\nPrompt=\" > \"\r\nError=Err!\r\nUL Prompt=ok\r\n"
                             "UL Error='FAIL'\r\nResult=:\r\n"
                             "[Upload Settings]\r\nBuffer Size=0x2000\r\nBlock Size=512\r\n";
    Put(file);
    Load();
    EXPECT_EQ(settings_,
              (Rs232Settings{12, 115200, 7, 2, 2, true, false, true, false, false, false}));
    EXPECT_EQ(link_, (LinkSettings{" > ", "Err!", "ok", "FAIL", ":", 8192, 512}));
    EXPECT_EQ(Get(), file);
}

TEST_F(Rs232SettingsFileTest, InvalidLineSettingsTakeDefaultsAndAreWrittenBack) {
    EXPECT_EQ(LoadRs232("Comm Port=COM2\nBaud Rate=19.2\nData Bits=9\nParity=3\nStop Bit=0\n"),
              "[RS232Settings]\nComm Port=COM2\nBaud Rate=19200\nData Bits=8\nParity=0\n"
              "Stop Bit=1\n");
    EXPECT_EQ(settings_.BaudRate, 19200);
    EXPECT_EQ(settings_.DataBitCount, 8);
    EXPECT_EQ(settings_.ParityCode, 0);
    EXPECT_EQ(settings_.StopBitCount, 1);

    // Baud rates are the six exact texts only.
    for (const std::string baud : {"19200 baud", "4800", "0x4B00", ""}) {
        EXPECT_EQ(LoadRs232("Comm Port=COM2\nBaud Rate=" + baud +
                            "\nData Bits=7\nParity=1\n"
                            "Stop Bit=2\n"),
                  "[RS232Settings]\nComm Port=COM2\nBaud Rate=19200\nData Bits=7\nParity=1\n"
                  "Stop Bit=2\n")
            << baud;
    }
    EXPECT_EQ(LoadRs232("Comm Port=COM2\nBaud Rate=\"57600\"\nData Bits=x\nParity=-1\n"
                        "Stop Bit=$1\n"),
              "[RS232Settings]\nComm Port=COM2\nBaud Rate=\"57600\"\nData Bits=8\nParity=0\n"
              "Stop Bit=$1\n");
    EXPECT_EQ(settings_.BaudRate, 57600);
    EXPECT_EQ(settings_.StopBitCount, 1);
}

TEST_F(Rs232SettingsFileTest, CommPortThatIsNoPortNumberBecomesCom1AndIsWrittenBack) {
    const std::string rest = "Baud Rate=9600\nData Bits=8\nParity=0\nStop Bit=1\n";
    for (const std::string bad :
         {"ERROR", "COMX", "/dev/ttyUSB0", "COM0", "COM256", "COM-3", "COM", "", "COM 7x"}) {
        settings_.PortNumber = 99;
        EXPECT_EQ(LoadRs232("Comm Port=" + bad + "\n" + rest),
                  "[RS232Settings]\nComm Port=COM1\n" + rest)
            << bad;
        EXPECT_EQ(settings_.PortNumber, 1) << bad;
    }
    // The number is whatever follows the first three characters, in the INI integer syntax.
    for (const auto& [value, number] : std::vector<std::pair<std::string, int>>{
             {"COM3", 3}, {"com60", 60}, {"COM$A", 10}, {"XYZ7", 7}, {"COM255", 255}}) {
        EXPECT_EQ(LoadRs232("Comm Port=" + value + "\n" + rest),
                  "[RS232Settings]\nComm Port=" + value + "\n" + rest);
        EXPECT_EQ(settings_.PortNumber, number) << value;
    }
}

TEST_F(Rs232SettingsFileTest, SizesAre16BitWithinLimitsAndNotWrittenBack) {
    const std::string base = "[RS232Settings]\nComm Port=COM1\nData Bits=8\nParity=0\nStop Bit=1\n"
                             "[Upload Settings]\n";
    struct Case {
        const char* lines;
        int buffer;
        int block;
    };
    for (const Case& c :
         {Case{"Buffer Size=100\n", 2078, 50}, Case{"Buffer Size=70000\n", 4464, 50},
          Case{"Buffer Size=65536\n", 2078, 50}, // low 16 bits are 0
          Case{"Buffer Size=-1\n", 65535, 50},
          Case{"Buffer Size=2078\nBlock Size=2078\n", 2078, 2078}, Case{"Block Size=0\n", 4096, 1},
          Case{"Block Size=9000\n", 4096, 4096},
          Case{"Buffer Size=8192\nBlock Size=9000\n", 8192, 8192},
          Case{"Block Size=65537\n", 4096, 1}, Case{"Block Size=junk\n", 4096, 50}}) {
        Put(base + c.lines);
        Load();
        EXPECT_EQ(link_.BufferSize, c.buffer) << c.lines;
        EXPECT_EQ(link_.BlockSize, c.block) << c.lines;
        EXPECT_EQ(Get(), base + c.lines);
    }
}

TEST_F(Rs232SettingsFileTest, SavedSettingsLoadBackUnchanged) {
    Put("; loader settings\n[RS232Settings]\nComm Port=COM1\nBaud Rate=9600\nData Bits=8\n"
        "Parity=0\nStop Bit=1\nDTR State=1\nRTS State=0\n[Trigger]\nPrompt=$\n");
    Load();
    EXPECT_TRUE(settings_.DtrOn);
    EXPECT_FALSE(settings_.RtsOn);

    PrivateProfile ini(path_);
    Rs232SettingsFile::Save(ini, settings_, "Direct to COM1");
    EXPECT_EQ(Get(), "; loader settings\n[RS232Settings]\nComm Port=COM1\nBaud Rate=9600\n"
                     "Data Bits=8\nParity=0\nStop Bit=1\nDTR State=1\nRTS State=0\n"
                     "Use DTR=0\nUse RTS=1\nRequire DSR=0\nRequire CTS=1\n[Trigger]\nPrompt=$\n");

    const Rs232Settings changed{3, 115200, 7, 1, 2, true, false, true, false, false, true, 921600};
    Rs232SettingsFile::Save(ini, changed, "Direct to COM3  /dev/ttyUSB0  FTDI FT232R");
    EXPECT_EQ(ini.ReadString("RS232Settings", "Comm Port", ""), "COM3");
    EXPECT_EQ(ini.ReadString("RS232Settings", "Baud Rate", ""), "115200");
    EXPECT_EQ(ini.ReadString("Line", "Baud Rate", ""), "921600");
    Rs232Settings reloaded;
    LinkSettings link;
    EXPECT_EQ(Rs232SettingsFile::Load(ini, reloaded, link), "");
    EXPECT_EQ(reloaded, changed);
    EXPECT_EQ(reloaded.PortBaud(), 921600);
    EXPECT_EQ(link.PromptText, "$");

    // Back to one of the six: [Line] loses its rate.
    Rs232SettingsFile::Save(ini, Rs232Settings{}, "Direct to COM1");
    EXPECT_EQ(ini.ReadString("Line", "Baud Rate", "<missing>"), "<missing>");
}

TEST_F(Rs232SettingsFileTest, LineRateIsUsedWhenValidAndOtherwiseNotedAndLeftAlone) {
    struct Row {
        const char* value;
        std::uint32_t rate;
        bool noted;
    };
    for (const Row& row : {Row{"921600", 921600, false}, Row{"250000", 250000, false},
                           Row{"50", 50, false}, Row{"4000000", 4000000, false}, Row{"", 0, false},
                           Row{"49", 0, true}, Row{"4000001", 0, true}, Row{"fast", 0, true},
                           Row{"0x1000", 0, true}, Row{"-9600", 0, true}}) {
        const std::string file = "[RS232Settings]\nComm Port=COM1\nBaud Rate=9600\nData Bits=8\n"
                                 "Parity=0\nStop Bit=1\n[Line]\nBaud Rate=" +
                                 std::string(row.value) + "\n";
        Put(file);
        PrivateProfile ini(path_);
        const std::string note = Rs232SettingsFile::Load(ini, settings_, link_);
        EXPECT_EQ(settings_.LineRate, row.rate) << row.value;
        EXPECT_EQ(settings_.PortBaud(), row.rate != 0 ? static_cast<std::int32_t>(row.rate) : 9600)
            << row.value;
        EXPECT_EQ(!note.empty(), row.noted) << row.value;
        if (row.noted) {
            EXPECT_NE(note.find(std::string("\"") + row.value + "\" of section [Line]"),
                      std::string::npos)
                << note;
            EXPECT_NE(note.find("opens at 9600 baud"), std::string::npos) << note;
        }
        EXPECT_EQ(Get(), file) << "nothing is repaired";
    }
}

TEST_F(Rs232SettingsFileTest, SaveWithoutADirectPortEntryKeepsThePortNumber) {
    PrivateProfile ini(path_);
    Rs232Settings settings;
    settings.PortNumber = 4;
    for (const std::string entry : {"", "Modem on COM2", "Direct to COMX", "Direct"}) {
        Rs232SettingsFile::Save(ini, settings, entry);
        EXPECT_EQ(ini.ReadString("RS232Settings", "Comm Port", ""), "COM4") << entry;
    }
    // Only the RS232Settings section is written.
    EXPECT_EQ(Get().find("[Trigger]"), std::string::npos);
    EXPECT_EQ(Get().find("[Upload Settings]"), std::string::npos);
}

TEST_F(Rs232SettingsFileTest, PortListEntriesAndTheirNumbers) {
    EXPECT_EQ(Rs232SettingsFile::EntryText(12), "Direct to COM12");
    EXPECT_EQ(Rs232SettingsFile::PortNumberOfEntry("Direct to COM12"), 12);
    EXPECT_EQ(Rs232SettingsFile::PortNumberOfEntry(Rs232SettingsFile::EntryText(1)), 1);
    EXPECT_EQ(Rs232SettingsFile::PortNumberOfEntry("Direct to COM7  /dev/ttyUSB0  (missing)"), 7);
    for (const char* entry : {"COM12", "Direct to COM", "Direct to COMX", "Direct to COM0",
                              "direct to COM3", "Via Direct to COM3"})
        EXPECT_FALSE(Rs232SettingsFile::PortNumberOfEntry(entry)) << entry;
}

TEST_F(Rs232SettingsFileTest, FailedWriteBackThrowsAndLeavesLaterFieldsAlone) {
    // A folder where the file should be: nothing can be read and the repair cannot be written.
    fs::create_directory(path_);
    settings_.DataBitCount = 7;
    PrivateProfile ini(path_);
    try {
        Rs232SettingsFile::Load(ini, settings_, link_);
        FAIL() << "no exception";
    } catch (const EIniWriteError& e) {
        EXPECT_STREQ(e.what(), ("Unable to write to " + path_).c_str());
    }
    EXPECT_EQ(settings_.PortNumber, 1);
    EXPECT_EQ(settings_.DataBitCount, 7);

    EXPECT_THROW(Rs232SettingsFile::Save(ini, Rs232Settings{}, "Direct to COM1"), EIniWriteError);
}

} // namespace
} // namespace pellwick
