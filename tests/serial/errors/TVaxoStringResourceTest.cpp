#include "serial/errors/TVaxoStringResource.h"
#include "serial/errors/EVaxoStringResourceError.h"

#include "StringTableBlob.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pellwick {
namespace {

using test::BlobEntry;
using test::MakeStringTable;
using test::RegisteredTable;

std::string OpenFailure(const std::string& name) {
    try {
        TVaxoStringResource reader(name);
    } catch (const EVaxoStringResourceError& e) {
        return e.Message();
    }
    ADD_FAILURE() << "opening " << name << " did not raise";
    return {};
}

// Tables of every size from 0 to 9 entries with ids 10, 20, ...: every present id is found
// (first, last and middle included) and every gap, below and above the range, misses.
TEST(TVaxoStringResourceTest, BinarySearchFindsEveryIdAndMissesEveryGap) {
    for (std::uint32_t n = 0; n < 10; ++n) {
        std::vector<BlobEntry> entries;
        for (std::uint32_t i = 1; i <= n; ++i) {
            entries.push_back(
                {10 * i, u"text " + std::u16string(1, static_cast<char16_t>('0' + i))});
        }
        RegisteredTable table("TEST_SEARCH_" + std::to_string(n), MakeStringTable(entries));
        TVaxoStringResource reader(table.Name());
        EXPECT_EQ(reader.Count(), n);
        for (std::uint32_t i = 1; i <= n; ++i) {
            EXPECT_EQ(reader.GetText(10 * i), "text " + std::string(1, static_cast<char>('0' + i)))
                << "n=" << n << " id=" << 10 * i;
        }
        for (std::uint32_t miss = 0; miss <= 10 * n + 10; miss += 5) {
            if (miss % 10 == 0 && miss >= 10 && miss <= 10 * n) {
                continue;
            }
            EXPECT_EQ(reader.GetText(miss), "") << "n=" << n << " id=" << miss;
        }
        EXPECT_EQ(reader.GetText(0xFFFFFFFFu), "");
    }
}

TEST(TVaxoStringResourceTest, TextsBecomeSingleByteWithQuestionMarksAboveLatin1) {
    RegisteredTable table("TEST_CONVERSION", MakeStringTable({{1, u"caf\u00e9 \u00ff"},
                                                              {2, u"\u20ac5"},
                                                              {3, u"a\U0001F600b"},
                                                              {4, std::u16string(u"nul\0in", 6)},
                                                              {5, u""}}));
    TVaxoStringResource reader(table.Name());
    EXPECT_EQ(reader.GetText(1), "caf\xe9 \xff");
    EXPECT_EQ(reader.GetText(2), "?5");
    EXPECT_EQ(reader.GetText(3), "a?b") << "a surrogate pair is one character";
    EXPECT_EQ(reader.GetText(4), std::string("nul\0in", 6));
    EXPECT_EQ(reader.GetText(5), "");
}

// Each way a table fails to open raises with its reason.
TEST(TVaxoStringResourceTest, TablesThatCannotBeReadRaiseWithTheReason) {
    const std::string invalid = "Invalid DqString resource";
    auto countTooBig = MakeStringTable({{1, u"x"}});
    countTooBig[4] = 200; // the count promises more entries than the block holds
    auto textPastEnd = MakeStringTable({{1, u"x"}});
    textPastEnd[8 + 8] = 50; // the text length runs past the end of the block
    const struct {
        const char* name;
        std::optional<std::vector<unsigned char>> bytes; // none: nothing is registered
        std::string message;
    } rows[] = {
        {"NO_SUCH_TABLE", std::nullopt, "String resource not found: NO_SUCH_TABLE"},
        {"TEST_EMPTY_BLOCK", std::vector<unsigned char>{},
         "Unable to open string resource: TEST_EMPTY_BLOCK"},
        {"TEST_BAD_SIGNATURE", MakeStringTable({{1, u"x"}}, "STR1"), invalid},
        {"TEST_SHORT_HEADER", std::vector<unsigned char>{'S', 'T', 'R', '0', 1}, invalid},
        {"TEST_COUNT_TOO_BIG", countTooBig, invalid},
        {"TEST_TEXT_PAST_END", textPastEnd, invalid},
        // Unsorted ids would make the binary search miss present entries.
        {"TEST_UNSORTED", MakeStringTable({{5, u"b"}, {3, u"a"}}), invalid},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<RegisteredTable> table;
        if (row.bytes) {
            table.emplace(row.name, *row.bytes);
        }
        EXPECT_EQ(OpenFailure(row.name), row.message);
    }
}

TEST(TVaxoStringResourceTest, RaiseWhenMissingReportsTheId) {
    RegisteredTable table("TEST_RAISE_MISSING", MakeStringTable({{1, u"one"}}));
    TVaxoStringResource reader(table.Name(), true);
    EXPECT_EQ(reader.GetText(1), "one");
    try {
        reader.GetText(42);
        ADD_FAILURE() << "a missing id did not raise";
    } catch (const EVaxoStringResourceError& e) {
        EXPECT_STREQ(e.what(), "String not found: 42");
    }
}

// Reads a table source ("id<TAB>text" lines, # comments) as the build's generator does.
std::map<std::uint32_t, std::string> ReadSource(const std::string& path) {
    std::map<std::uint32_t, std::string> entries;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const auto tab = line.find('\t');
        entries[static_cast<std::uint32_t>(std::stoul(line.substr(0, tab)))] = line.substr(tab + 1);
    }
    return entries;
}

// The linked tables hold exactly what their readable sources say, id for id.
TEST(TVaxoStringResourceTest, LinkedTablesMatchTheirSources) {
    const std::pair<const TVaxoStringResource*, const char*> tables[] = {
        {&TVaxoStringResource::ErrorStrings(), PELLWICK_ERROR_STRINGS_SOURCE},
        {&TVaxoStringResource::SrMgrStrings(), PELLWICK_SRMGR_STRINGS_SOURCE},
    };
    for (const auto& [reader, path] : tables) {
        const auto source = ReadSource(path);
        ASSERT_FALSE(source.empty()) << path;
        EXPECT_EQ(reader->Count(), source.size()) << path;
        for (const auto& [id, text] : source) {
            EXPECT_EQ(reader->GetText(id), text) << path << " id " << id;
        }
    }
    EXPECT_EQ(TVaxoStringResource::SrMgrStrings().GetText(2), "Cannot lock resource");
    EXPECT_EQ(TVaxoStringResource::ErrorStrings().GetText(0), "OK");
}

} // namespace
} // namespace pellwick
