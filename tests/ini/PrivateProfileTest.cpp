#include "ini/PrivateProfile.h"
#include "ini/EIniWriteError.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace pellwick {
namespace {

namespace fs = std::filesystem;

// A key and what reading it must give.
template <class T> struct Expected {
    const char* key;
    T value;
};

// Reads every row's key of section, with def as the default, and checks its value.
void ExpectStrings(PrivateProfile& ini, const char* section, const char* def,
                   std::initializer_list<Expected<std::string>> rows) {
    for (const auto& [key, value] : rows)
        EXPECT_EQ(ini.ReadString(section, key, def), value) << key;
}

void ExpectIntegers(PrivateProfile& ini, const char* section, int def,
                    std::initializer_list<Expected<int>> rows) {
    for (const auto& [key, value] : rows)
        EXPECT_EQ(ini.ReadInteger(section, key, def), value) << key;
}

class PrivateProfileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(folder_.Path().empty()); }

    void Put(const std::string& content) const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << content;
    }
    std::string Get() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    TempFolder folder_;
    const std::string dir_ = folder_.Path();
    const std::string path_ = folder_.File("loader.ini");
};

TEST_F(PrivateProfileTest, NamesCompareWithoutCaseAndFirstSectionAndKeyWin) {
    Put("[RS232Settings]\n"
        "Comm Port=COM3\n"
        "comm port=COM9\n"
        "[rs232settings]\n"
        "Baud Rate=9600\n"
        "[ Trigger ]\n"
        "  Prompt  = #\n");
    PrivateProfile ini(path_);
    EXPECT_EQ(ini.ReadString("rs232SETTINGS", "COMM PORT", "x"), "COM3");
    // Only the first section of a name is searched.
    EXPECT_EQ(ini.ReadString("RS232Settings", "Baud Rate", "none"), "none");
    EXPECT_EQ(ini.ReadString("trigger", "prompt", "x"), "#");
}

TEST_F(PrivateProfileTest, ValuesAreTrimmedAndLoseOnePairOfMatchingQuotes) {
    Put("[S]\r\n"
        "Blank=   padded value \t \r\n"
        "Double=\" keep inner blanks \"\r\n"
        "Single='x'\r\n"
        "Twice=\"\"two\"\"\r\n"
        "Mismatched=\"abc'\r\n"
        "Lone=\"\r\n"
        "Inner=a\"b\"c\r\n"
        "Empty=\r\n"
        "Equals=a=b\r\n");
    PrivateProfile ini(path_);
    ExpectStrings(ini, "S", "d",
                  {{"Blank", "padded value"},
                   {"Double", " keep inner blanks "},
                   {"Single", "x"},
                   {"Twice", "\"two\""},
                   {"Mismatched", "\"abc'"},
                   {"Lone", "\""},
                   {"Inner", "a\"b\"c"},
                   // A present but empty value is a value, not a missing key.
                   {"Empty", ""},
                   {"Equals", "a=b"},
                   {"Missing", "d"}});
}

TEST_F(PrivateProfileTest, CommentsAndLinesWithoutEqualsAreNotKeys) {
    Put("\xEF\xBB\xBF[S]\n"
        "; Key=commented\n"
        "   ;Other=commented\n"
        "just text\n"
        "=no key\n"
        "Key=real\n");
    PrivateProfile ini(path_);
    ExpectStrings(ini, "S", "d", {{"Key", "real"}, {"Other", "d"}, {"; Key", "d"}});
    const auto keys = ini.ReadSection("S");
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].first, "Key");
}

TEST_F(PrivateProfileTest, LongValuesAreCutTo2047Characters) {
    const std::string longValue(3000, 'v');
    Put("[S]\nLong=" + longValue + "\nExact=" + std::string(2047, 'e') + "\n");
    PrivateProfile ini(path_);
    EXPECT_EQ(ini.ReadString("S", "Long", ""), std::string(2047, 'v'));
    EXPECT_EQ(ini.ReadString("S", "Exact", ""), std::string(2047, 'e'));
}

TEST_F(PrivateProfileTest, MissingOrUnreadableFileGivesDefaults) {
    PrivateProfile missing(path_);
    EXPECT_EQ(missing.ReadString("S", "K", "def"), "def");
    EXPECT_EQ(missing.ReadInteger("S", "K", 42), 42);
    EXPECT_TRUE(missing.ReadBool("S", "K", true));
    EXPECT_TRUE(missing.ReadSection("S").empty());

    // A folder where the file should be cannot be read as a file.
    PrivateProfile folder(dir_);
    EXPECT_EQ(folder.ReadString("S", "K", "def"), "def");
}

TEST_F(PrivateProfileTest, IntegersAreDecimalOrHexadecimalElseTheDefault) {
    Put("[N]\n"
        "Dec=1234\nNeg=-17\nPlus=+5\nHex=0x1F\nHexUpper=0X1f\nDollar=$1F\nQuoted=\"12\"\n"
        "AllBits=$FFFFFFFF\nMax=2147483647\nMin=-2147483648\n"
        "Trailing=12abc\nFraction=1.5\nBareHex=0x\nBareDollar=$\nBadHex=0x1G\n"
        "SignedHex=-0x10\nTooBig=2147483648\nTooBigHex=0x100000000\nInnerBlank=1 2\n"
        "Sign=-\nEmpty=\n");
    PrivateProfile ini(path_);
    ExpectIntegers(ini, "N", 0,
                   {{"Dec", 1234},
                    {"Neg", -17},
                    {"Plus", 5},
                    {"Hex", 31},
                    {"HexUpper", 31},
                    {"Dollar", 31},
                    {"Quoted", 12},
                    {"AllBits", -1},
                    {"Max", 2147483647},
                    {"Min", -2147483647 - 1}});
    for (const char* key : {"Trailing", "Fraction", "BareHex", "BareDollar", "BadHex", "SignedHex",
                            "TooBig", "TooBigHex", "InnerBlank", "Sign", "Empty", "Missing"})
        EXPECT_EQ(ini.ReadInteger("N", key, -99), -99) << key;
}

TEST_F(PrivateProfileTest, FlagsAreIntegersWithNonZeroMeaningTrue) {
    Put("[F]\nOne=1\nZero=0\nSeven=7\nHex=$10\nWord=yes\n");
    PrivateProfile ini(path_);
    EXPECT_TRUE(ini.ReadBool("F", "One", false));
    EXPECT_FALSE(ini.ReadBool("F", "Zero", true));
    EXPECT_TRUE(ini.ReadBool("F", "Seven", false));
    EXPECT_TRUE(ini.ReadBool("F", "Hex", false));
    EXPECT_FALSE(ini.ReadBool("F", "Word", false));
    EXPECT_TRUE(ini.ReadBool("F", "Word", true));

    ini.WriteBool("F", "One", false);
    ini.WriteBool("F", "New", true);
    EXPECT_EQ(ini.ReadString("F", "One", ""), "0");
    EXPECT_EQ(ini.ReadString("F", "New", ""), "1");
    ini.WriteInteger("F", "Count", -300);
    EXPECT_EQ(ini.ReadInteger("F", "Count", 0), -300);
}

TEST_F(PrivateProfileTest, RewritingAKeyChangesOnlyThatLine) {
    const std::string before = "; settings of the loader\r\n"
                               "\r\n"
                               "[Global]\r\n"
                               "Driver Version=1.00\r\n"
                               "\r\n"
                               "[RS232Settings]\r\n"
                               "   comm port =  COM7   \r\n"
                               "; trailing comment\r\n"
                               "Baud Rate=9600\r\n";
    Put(before);
    PrivateProfile ini(path_);
    ini.WriteString("RS232SETTINGS", "Comm Port", "COM1");
    std::string expected = before;
    expected.replace(expected.find("   comm port =  COM7   "), 23, "comm port=COM1");
    EXPECT_EQ(Get(), expected);
}

TEST_F(PrivateProfileTest, NewKeyGoesAfterTheLastKeyOfItsSectionWithTheFilesLineEnd) {
    Put("[A]\r\nOne=1\r\n\r\n; about B\r\n[B]\r\nTwo=2\r\n");
    PrivateProfile ini(path_);
    ini.WriteString("a", "Three", "3");
    EXPECT_EQ(Get(), "[A]\r\nOne=1\r\nThree=3\r\n\r\n; about B\r\n[B]\r\nTwo=2\r\n");

    Put("[Empty]\n[B]\nTwo=2");
    ini.WriteString("Empty", "K", "v");
    ini.WriteString("B", "Last", "x");
    EXPECT_EQ(Get(), "[Empty]\nK=v\n[B]\nTwo=2\nLast=x\n");
}

TEST_F(PrivateProfileTest, NewSectionIsAppendedAtTheEnd) {
    Put("[A]\r\nOne=1");
    PrivateProfile ini(path_);
    ini.WriteString("RS232Settings", "Comm Port", "COM1");
    EXPECT_EQ(Get(), "[A]\r\nOne=1\r\n\r\n[RS232Settings]\r\nComm Port=COM1\r\n");
    EXPECT_EQ(ini.ReadString("A", "One", ""), "1");
}

TEST_F(PrivateProfileTest, DeletingAKeyRemovesItsLinesInTheFirstSectionOnly) {
    Put("[Line]\r\nBaud Rate=921600\r\nKeep=1\r\nbaud rate=1\r\n[Other]\r\nBaud Rate=7\r\n"
        "[Line]\r\nBaud Rate=2\r\n");
    PrivateProfile ini(path_);
    ini.DeleteKey("LINE", "Baud Rate");
    EXPECT_EQ(Get(), "[Line]\r\nKeep=1\r\n[Other]\r\nBaud Rate=7\r\n[Line]\r\nBaud Rate=2\r\n");

    // Nothing to delete: the file is not even replaced, and a missing one is not made.
    const auto inode = [this] {
        struct stat st {};
        ::stat(path_.c_str(), &st);
        return st.st_ino;
    };
    const auto before = inode();
    ini.DeleteKey("Line", "Missing");
    ini.DeleteKey("Missing", "Baud Rate");
    EXPECT_EQ(inode(), before);
    fs::remove(path_);
    ini.DeleteKey("Line", "Baud Rate");
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(PrivateProfileTest, NewFileUsesLineFeeds) {
    PrivateProfile ini(path_);
    ini.WriteString("Global", "Driver Version", "2.00");
    ini.WriteString("Global", "Other", "x");
    EXPECT_EQ(Get(), "[Global]\nDriver Version=2.00\nOther=x\n");
}

TEST_F(PrivateProfileTest, WrittenValuesReadBackUnchanged) {
    PrivateProfile ini(path_);
    for (const std::string value : {" lead", "trail\t", "\"quoted\"", "'single'", "", "a=b", "\"",
                                    "; not a comment", "[not a section]"}) {
        ini.WriteString("S", "K", value);
        EXPECT_EQ(ini.ReadString("S", "K", "default"), value) << value;
    }
}

TEST_F(PrivateProfileTest, NamesAndValuesThatWouldBreakTheFileAreRefused) {
    Put("[S]\nK=v\n");
    PrivateProfile ini(path_);
    EXPECT_THROW(ini.WriteString("S", "K", "two\nlines"), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("S", "K", "cr\r"), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("S", "A=B", "v"), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("S", " ", "v"), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("S]x", "K", "v"), std::invalid_argument);
    EXPECT_EQ(Get(), "[S]\nK=v\n");
}

TEST_F(PrivateProfileTest, FailedWriteThrowsUnableToWriteWithThePath) {
    // Tests run as root, where folder permissions do not stop writes: a missing folder, a
    // folder of the proc file system and a path that is a folder fail for every user.
    const std::string missingFolder = dir_ + "/no-such-folder/loader.ini";
    const std::string procFile = "/proc/pellwick-loader.ini";
    fs::create_directory(dir_ + "/is-a-folder");
    const std::string folderPath = dir_ + "/is-a-folder";
    for (const std::string& path : {missingFolder, procFile, folderPath}) {
        PrivateProfile ini(path);
        try {
            ini.WriteString("Global", "Driver Version", "2.00");
            ADD_FAILURE() << "no exception for " << path;
        } catch (const EIniWriteError& e) {
            EXPECT_STREQ(e.what(), ("Unable to write to " + path).c_str());
            EXPECT_EQ(e.Path(), path);
        }
    }
    EXPECT_FALSE(fs::exists(dir_ + "/no-such-folder"));
    // No temporary file is left behind next to the folder that could not be replaced.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

// Runs the write as an ordinary user: folder permissions do not stop root. The child reports
// through its exit status, which the parent turns into the result.
bool WritesAsOrdinaryUser(const std::string& path, const std::string& value) {
    const auto write = [&] {
        try {
            PrivateProfile(path).WriteString("S", "K", value);
            return true;
        } catch (const EIniWriteError&) {
            return false;
        }
    };
    if (::geteuid() != 0)
        return write();
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
        ::_exit(dropped ? (write() ? 0 : 1) : 2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 2) << "could not drop privileges";
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(PrivateProfileTest, ReadOnlyFolderRewritesAWritableFileInPlace) {
    Put("[S]\nK=v\nOther=long enough to be cut when the file shrinks\n");
    const std::string locked = dir_ + "/locked.ini";
    std::ofstream(locked) << "[S]\nK=v\n";
    fs::permissions(path_, fs::perms::all);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    if (::geteuid() != 0)
        fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);

    EXPECT_TRUE(WritesAsOrdinaryUser(path_, "w"));
    EXPECT_FALSE(WritesAsOrdinaryUser(locked, "w"));
    fs::permissions(dir_, fs::perms::owner_all);
    EXPECT_EQ(Get(), "[S]\nK=w\nOther=long enough to be cut when the file shrinks\n");
    PrivateProfile(path_).WriteString("S", "Other", "x");
    EXPECT_EQ(Get(), "[S]\nK=w\nOther=x\n");
    std::ifstream in(locked);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "[S]\nK=v\n");
}

TEST_F(PrivateProfileTest, CrLfAndLoneCrAllEndLines) {
    for (const std::string eol : {"\r", "\n", "\r\n"}) {
        Put("[Ports]" + eol + "Scan=0" + eol + "[S]" + eol + "K=[[" + eol);
        PrivateProfile ini(path_);
        EXPECT_EQ(ini.ReadInteger("Ports", "Scan", 1), 0) << int(eol.size());
        EXPECT_EQ(ini.ReadString("S", "K", ""), "[[") << int(eol.size());
        ini.WriteString("S", "New", "x");
        EXPECT_EQ(Get(),
                  "[Ports]" + eol + "Scan=0" + eol + "[S]" + eol + "K=[[" + eol + "New=x" + eol);
        EXPECT_EQ(ini.ReadString("S", "K", ""), "[[");
    }
    // A CR without its LF at the very end of the file, after a file of LF lines.
    Put("[S]\nK=[[\r");
    PrivateProfile ini(path_);
    ini.WriteString("T", "A", "1");
    EXPECT_EQ(ini.ReadString("S", "K", ""), "[[");
}

TEST_F(PrivateProfileTest, RewriteKeepsPermissionsAndSymbolicLinks) {
    Put("[S]\nK=v\n");
    ::chmod(path_.c_str(), 0640);
    const std::string link = dir_ + "/link.ini";
    fs::create_symlink(path_, link);
    PrivateProfile ini(link);
    ini.WriteString("S", "K", "w");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Get(), "[S]\nK=w\n");
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(PrivateProfileTest, ReadSectionListsKeysInFileOrderOnce) {
    Put("[Ports]\nCOM3=/dev/ttyUSB0\nScan=0\ncom3=/dev/other\nCOM12=\" /dev/x \"\n[Next]\nA=1\n");
    PrivateProfile ini(path_);
    const auto keys = ini.ReadSection("PORTS");
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0], (std::pair<std::string, std::string>{"COM3", "/dev/ttyUSB0"}));
    EXPECT_EQ(keys[1], (std::pair<std::string, std::string>{"Scan", "0"}));
    EXPECT_EQ(keys[2], (std::pair<std::string, std::string>{"COM12", " /dev/x "}));
    EXPECT_TRUE(ini.ReadSection("Absent").empty());
}

TEST_F(PrivateProfileTest, ConcurrentWritesOfDifferentKeysAreAllKept) {
    PrivateProfile ini(path_);
    constexpr int perThread = 25;
    auto writer = [&](const std::string& prefix) {
        for (int i = 0; i < perThread; ++i)
            ini.WriteInteger("S", prefix + std::to_string(i), i);
    };
    std::thread a(writer, "A");
    std::thread b(writer, "B");
    a.join();
    b.join();
    EXPECT_EQ(ini.ReadSection("S").size(), 2u * perThread);
    EXPECT_EQ(ini.ReadInteger("S", "A24", -1), 24);
    EXPECT_EQ(ini.ReadInteger("S", "B24", -1), 24);
}

} // namespace
} // namespace pellwick
