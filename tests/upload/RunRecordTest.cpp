// The report's entries for files a run never sent: listed from the script with what the file
// on disk holds.
#include "upload/RunRecord.h"

#include "support/TempFolder.h"
#include "upload/ScriptText.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace pellwick {
namespace {

TEST(RunRecordTest, UnsentFilesCarryTheirRealSizeAndChecksumOrSayWhyNot) {
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    // Above the script size limit, with a sum only its last bytes make.
    const std::uint64_t bigSize = ScriptText::MaxScriptBytes + 3;
    {
        std::ofstream big(folder.File("big.bin"), std::ios::binary);
        big.seekp(static_cast<std::streamoff>(bigSize - 3));
        big.write("\x01\x02\xFF", 3);
    }
    ASSERT_EQ(::mkfifo(folder.File("fifo.bin").c_str(), 0600), 0);
    const auto lines = ScriptText::SplitLines("_LA 100\n_LV 1\n_LF " + folder.File("big.bin") +
                                              "\n_LD\n_LF " + folder.File("fifo.bin") +
                                              "\n_LD\n_LF " + folder.File("gone.bin") + "\n_LD\n");
    const std::vector<FileRecord> files = ListScriptFiles(lines, RunRecord{}, DateFormats{});
    ASSERT_EQ(3u, files.size());
    EXPECT_EQ(bigSize, files[0].Size);
    EXPECT_EQ(0x0102u, files[0].Checksum);
    EXPECT_TRUE(files[0].Readable);
    for (std::size_t i : {1u, 2u}) {
        SCOPED_TRACE(files[i].Name);
        EXPECT_EQ(FileOutcome::NotSent, files[i].Outcome);
        EXPECT_FALSE(files[i].Readable);
        EXPECT_EQ(0u, files[i].Size);
        EXPECT_NE("", files[i].Cause);
    }
}

} // namespace
} // namespace pellwick
