// The production lead's questions against a small SQLite record whose answers are counted by
// hand: yields by slot, cause and hour, --since, one board's history, the CSV export, and the
// program's options around them.
#include "station/RecordQueries.h"
#include "RecordTestSupport.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"

#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace pellwick {

void PrintTo(const YieldLine& l, std::ostream* os) {
    *os << "{" << l.Group << ": " << l.Boards << ", " << l.FirstPassed << ", " << l.FinalPassed
        << "}";
}

namespace {

using test::TwoFileBoard;

const char* const CauseX = "The device answered \"ERR\", then hung up.";
const char* const CauseY = "Cause, \"Y\"";

// 2026-12-11T10:00:00Z
constexpr std::int64_t Ten = 1796983200;

class RecordQueriesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new TempFolder;
        test::WriteStationIni(folder_->Path(), "");
        struct Row {
            std::string label, id;
            int slot;
            bool passed;
            const char* cause;
            const char* end; // UTC time of day
        };
        // Boards: A passes; B fails (X) then passes; C fails (Y) twice; D passes; one board
        // without label or id fails (X); E, known by its id, fails (X) then passes.
        const Row rows[] = {
            {"A", "", 1, true, "", "08:10"},      {"B", "", 1, false, CauseX, "08:20"},
            {"C", "", 2, false, CauseY, "08:30"}, {"B", "", 2, true, "", "09:05"},
            {"C", "", 2, false, CauseY, "09:10"}, {"D", "", 2, true, "", "09:20"},
            {"", "", 1, false, CauseX, "09:30"},  {"", "E", 2, false, CauseX, "09:40"},
            {"", "E", 1, true, "", "09:50"},
        };
        BoardDatabase db;
        ASSERT_EQ(db.Open("", folder_->Path(), "line-1", "bench"), "");
        for (const Row& r : rows) {
            const std::string end = std::string("2026-12-11T") + r.end + ":00.000+00:00";
            BoardResult b = TwoFileBoard(r.slot, r.label, r.passed, end, end);
            b.BoardId = r.id;
            b.Cause = r.cause;
            test::Record(db, b);
        }
    }
    static void TearDownTestSuite() { delete folder_; }

    static std::vector<Attempt> Read(std::optional<std::int64_t> since = std::nullopt) {
        RecordReader reader;
        std::vector<Attempt> attempts;
        EXPECT_EQ(reader.Open("", folder_->Path()), "");
        EXPECT_EQ(reader.Attempts(since, attempts), "");
        return attempts;
    }

    static TempFolder* folder_;
};

TempFolder* RecordQueriesTest::folder_ = nullptr;

TEST_F(RecordQueriesTest, YieldsCountEachBoardInTheGroupOfItsFirstAttempt) {
    ScopedEnv zone("TZ", "UTC");
    tzset();
    struct Case {
        SummaryGroup by;
        std::optional<std::int64_t> since;
        YieldLine all;
        std::vector<YieldLine> groups;
        int lastHour;
    };
    const Case cases[] = {
        {SummaryGroup::Slot, std::nullopt, {"", 6, 2, 4}, {{"1", 3, 1, 2}, {"2", 3, 1, 2}}, 6},
        {SummaryGroup::Cause,
         std::nullopt,
         {"", 6, 2, 4},
         {{CauseX, 3, 0, 2}, {"(passed)", 2, 2, 2}, {CauseY, 1, 0, 0}},
         6},
        {SummaryGroup::Hour,
         std::nullopt,
         {"", 6, 2, 4},
         {{"2026-12-11T08:00", 3, 1, 2}, {"2026-12-11T09:00", 3, 1, 2}},
         6},
        // From 09:00 B's first attempt in the window is its pass.
        {SummaryGroup::Slot, Ten - 3600, {"", 5, 2, 3}, {{"1", 1, 0, 0}, {"2", 4, 2, 3}}, 6},
    };
    for (const Case& c : cases) {
        const Summary s = Summarize(Read(c.since), c.by, Ten);
        EXPECT_EQ(s.All, c.all);
        EXPECT_EQ(s.Groups, c.groups);
        EXPECT_EQ(s.LastHour, c.lastHour);
    }
    EXPECT_EQ(Summarize(Read(), SummaryGroup::Slot, Ten + 1800).LastHour, 2);
}

TEST_F(RecordQueriesTest, SinceTakesIsoDatesAndTimesOnly) {
    ScopedEnv zone("TZ", "UTC");
    tzset();
    const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
        {"2026-12-11", Ten - 10 * 3600},    {"2026-12-11T10:00", Ten},
        {"2026-12-11T10:00:30", Ten + 30},  {"2026-12-11T10:00Z", Ten},
        {"2026-12-11T11:30+01:30", Ten},    {"2026-12-11 10:00", std::nullopt},
        {"2026-13-01", std::nullopt},       {"2026-02-30", std::nullopt},
        {"2026-12-11T25:00", std::nullopt}, {"2026-12-11T10", std::nullopt},
        {"yesterday", std::nullopt},        {"", std::nullopt},
    };
    for (const auto& [text, epoch] : cases) {
        EXPECT_EQ(ParseSinceTime(text), epoch) << text;
    }
}

TEST_F(RecordQueriesTest, HistoryListsEveryAttemptOfALabelOrIdInOrder) {
    RecordReader reader;
    ASSERT_EQ(reader.Open("", folder_->Path()), "");
    std::vector<Attempt> attempts;
    ASSERT_EQ(reader.History("E", attempts), "");
    ASSERT_EQ(attempts.size(), 2u);
    EXPECT_EQ(attempts[0].Verdict, "failed");
    EXPECT_EQ(attempts[1].Verdict, "passed");
    const std::string text = HistoryText("E", attempts);
    const std::string inOrder[] = {"attempt 1",
                                   "2026-12-11T09:40:00.000+00:00",
                                   "slot 2, place 1-1.2",
                                   "failed: " + std::string(CauseX),
                                   "boot.bin  verified",
                                   "attempt 2",
                                   "slot 1",
                                   "passed"};
    std::size_t at = 0;
    for (const std::string& part : inOrder) {
        at = text.find(part, at);
        ASSERT_NE(at, std::string::npos) << part << " in\n" << text;
    }
    ASSERT_EQ(reader.History("nothing", attempts), "");
    EXPECT_TRUE(attempts.empty());
}

TEST_F(RecordQueriesTest, CsvQuotesCommasQuotesAndHasOneLinePerAttempt) {
    const std::string csv = CsvText(Read());
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t end; (end = csv.find("\r\n", from)) != std::string::npos; from = end + 2) {
        lines.push_back(csv.substr(from, end - from));
    }
    EXPECT_EQ(from, csv.size());
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0].rfind("start_time,end_time,station,", 0), 0u);
    EXPECT_NE(lines[3].find(",\"Cause, \"\"Y\"\"\","), std::string::npos) << lines[3];
    EXPECT_NE(lines[3].find(",\"boot.bin (verified); app, \"\"main\"\".bin (refused)\""),
              std::string::npos)
        << lines[3];
}

// The program's side: the options, their statuses, and no slot started.
TEST_F(RecordQueriesTest, TheProgramAnswersFromStationIniAndSaysWhatFails) {
    TempFolder empty;
    TempFolder noDatabase;
    test::WriteStationIni(noDatabase.Path(), "");
    const std::string csv = folder_->File("out.csv");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string says;
    };
    const Case cases[] = {
        {{"--summary", folder_->Path()}, 0, "First-pass yield: 33.3 % (2 of 6)\n"},
        {{"--summary", "--by", "hour", "--since", "2026-12-11T09:00Z", folder_->Path()},
         0,
         "2026-12-11T09:00       5  40.0 % (2 of 5)"},
        {{"--history", "C", folder_->Path()}, 0, "Board C: 2 attempts"},
        {{"--export", "csv", "--output", csv, folder_->Path()}, 0, ""},
        {{"--summary", "--since", "noon", folder_->Path()}, 1, "\"noon\" is no date"},
        {{"--summary", "--by", "operator"}, 1, "none of slot, cause and hour"},
        {{"--summary", "--history", "C"}, 1, "one at a time"},
        {{"--summary", "--headless"}, 1, "the queries do not"},
        {{"--summary", empty.Path()}, 2, "station.ini does not exist"},
        {{"--summary", noDatabase.Path()}, 4, "no board has been recorded in this folder yet"},
    };
    for (const Case& c : cases) {
        std::string output;
        EXPECT_EQ(test::RunStation(c.args, output), c.status) << c.args[0] << "\n" << output;
        EXPECT_NE(output.find(c.says), std::string::npos) << output;
    }
    std::ifstream in(csv, std::ios::binary);
    std::stringstream written;
    written << in.rdbuf();
    EXPECT_EQ(written.str(), CsvText(Read()));
}

} // namespace
} // namespace pellwick
