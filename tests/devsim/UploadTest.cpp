// Files announced by a header, taken as raw bytes and verified by the next lone CR.
#include "DeviceFixture.h"
#include "support/WaitUntil.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace pellwick {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class UploadTest : public DeviceFixture {
protected:
    void StartStoring(DeviceConfig config = {}) {
        store_ = harness_.File("store");
        fs::create_directory(store_);
        config.storeDir = store_;
        ASSERT_NO_FATAL_FAILURE(StartUploading(config));
    }

    std::string store_;
};

TEST_F(UploadTest, EveryByteValueIsStoredByteForByte) {
    StartStoring();
    // All 256 values, and the bytes the line dialogue would otherwise act on.
    std::string data;
    for (int round = 0; round < 3; ++round) {
        for (int c = 0; c < 256; ++c) {
            data.push_back(static_cast<char>(c));
        }
    }
    data += "\rLF 1 1 0000 x\r\r";
    EXPECT_EQ(Upload("00020000", data), ">");
    EXPECT_EQ(ReadFile(store_ + "/00020000.bin"), data);

    const auto uploads = harness_.Server()->Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_TRUE(uploads[0].accepted);
    EXPECT_EQ(uploads[0].size, data.size());
    EXPECT_EQ(uploads[0].version, "1.02");
    // Ready for the next command at once.
    EXPECT_EQ(Ask("", ">"), ">");
}

TEST_F(UploadTest, EmptyFileIsStoredEmpty) {
    StartStoring();
    EXPECT_EQ(Upload("7", ""), ">");
    ASSERT_TRUE(fs::exists(store_ + "/7.bin"));
    EXPECT_EQ(fs::file_size(store_ + "/7.bin"), 0u);
}

TEST_F(UploadTest, ChecksumMismatchAnswersErrorAgainUntilTheNextHeader) {
    StartStoring();
    ASSERT_EQ(Upload("100", "good"), ">");
    ASSERT_TRUE(peer_.Write("LF 100 3 0000 v\rabc"));
    EXPECT_EQ(Ask("", ">"), "ERR\r\n>");
    // The uploader retries a failed verification once: the retry must not pass.
    EXPECT_EQ(Ask("", ">"), "ERR\r\n>");
    // The refused file does not replace the stored one.
    EXPECT_EQ(ReadFile(store_ + "/100.bin"), "good");
    EXPECT_EQ(Upload("100", "better"), ">");
    EXPECT_EQ(ReadFile(store_ + "/100.bin"), "better");
}

TEST_F(UploadTest, SizeMismatchIsAnError) {
    DeviceConfig config;
    config.dataTimeoutMs = 300;
    StartStoring(config);
    // More bytes than announced: the verifying CR does not come alone.
    ASSERT_TRUE(peer_.Write(Header("1", "abc") + "abcdef"));
    EXPECT_EQ(Ask("", ">"), "ERR\r\n>");
    EXPECT_FALSE(fs::exists(store_ + "/1.bin"));

    // Fewer bytes than announced: the file is abandoned once the line stays idle.
    ASSERT_TRUE(peer_.Write(Header("2", "abcdef") + "abc"));
    (void)test::WaitUntil([&] { return harness_.Server()->Uploads().size() >= 2; }, 10000);
    const auto uploads = harness_.Server()->Uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_FALSE(uploads[1].accepted);
    EXPECT_EQ(Ask("", ">"), "ERR\r\n>");
}

TEST_F(UploadTest, MalformedHeadersAreRefused) {
    DeviceConfig config;
    config.maxFileSize = 1000;
    StartStoring(config);
    const std::string tooLongAddress(DeviceConfig::maxAddress + 1, 'A');
    for (const std::string& header : std::vector<std::string>{
             "LF 00020000 12 0ABC",                 // no version field
             "LF  12 0ABC 1",                       // empty address
             "LF 0002 012 0ABC 1",                  // leading zero
             "LF 0002 +12 0ABC 1",                  // sign
             "LF 0002 12 0abc 1",                   // lower-case checksum
             "LF 0002 12 ABC 1",                    // three digits
             "LF 0002  12 0ABC 1",                  // two blanks
             "LF 0002 1001 0000 1",                 // larger than allowed
             "LF 0002 99999999999999999999 0000 1", // beyond any number
             "LF " + tooLongAddress + " 1 0000 1",
         }) {
        SCOPED_TRACE(header);
        EXPECT_EQ(Ask(header, ">"), "ERR\r\n>");
        EXPECT_EQ(Ask("", ">"), "ERR\r\n>");
    }
    for (const auto& upload : harness_.Server()->Uploads()) {
        EXPECT_FALSE(upload.accepted);
    }
    EXPECT_TRUE(fs::is_empty(store_));
}

TEST_F(UploadTest, AddressCannotNameAPathOutsideTheStoreFolder) {
    StartStoring();
    EXPECT_EQ(Upload("../../x/.hidden", "data"), ">");
    EXPECT_EQ(Upload("/etc/passwd", "data"), ">");
    EXPECT_EQ(ReadFile(store_ + "/______x__hidden.bin"), "data");
    EXPECT_EQ(ReadFile(store_ + "/_etc_passwd.bin"), "data");
    // Nothing appeared beside the store folder (only it and the harness's own files).
    for (const auto& entry : fs::directory_iterator(harness_.Folder())) {
        EXPECT_EQ(entry.path().filename(), "store");
    }
}

TEST_F(UploadTest, FileThatCannotBeStoredIsRefused) {
    DeviceConfig config;
    config.storeDir = harness_.File("missing-folder");
    ASSERT_NO_FATAL_FAILURE(StartUploading(config));
    EXPECT_EQ(Upload("5", "data"), "ERR\r\n>");
}

} // namespace
} // namespace pellwick
