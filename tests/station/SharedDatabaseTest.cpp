// Two stations of a line writing into one PostgreSQL database at once: no board lost or
// doubled, distinct attempt numbers for a board both load, and the summary of the real
// program over both matching the count the test keeps itself.
#include "RecordTestSupport.h"
#include "support/TempFolder.h"

#include <QDateTime>
#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>
#include <thread>

namespace pellwick {
namespace {

constexpr int Boards = 200;

// Board i of a station: every tenth is one both stations load (and fail); every other fifth
// fails; the rest pass. Four slots.
std::string LabelOf(char station, int i) {
    return (i % 10 == 0 ? std::string("S") : std::string(1, station)) + "-" + std::to_string(i);
}
bool Passes(int i) {
    return i % 5 != 0;
}
int SlotOf(int i) {
    return 1 + i % 4;
}

// One station on a thread of its own, as the station's GUI thread: the time of each Finish.
void RunStationBoards(const std::string& address, char station, std::string& error,
                      std::vector<double>& finishMs) {
    TempFolder folder;
    BoardDatabase db;
    error = db.Open(address, folder.Path(), std::string("line-") + station, "bench");
    const std::string now = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toStdString();
    for (int i = 0; i < Boards && error.empty(); ++i) {
        const BoardResult b =
            test::TwoFileBoard(SlotOf(i), LabelOf(station, i), Passes(i), now, now);
        std::int64_t id = 0;
        int attempt = 0;
        error = db.Begin(b, id);
        const auto start = std::chrono::steady_clock::now();
        error += db.Finish(id, b, attempt);
        finishMs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
}

TEST(SharedDatabaseTest, TwoStationsAtOnceLoseAndDoubleNothing) {
    const PostgresServer& server = test::SharedPostgres();
    if (!server.Installed()) {
        GTEST_SKIP() << server.Why();
    }
    ASSERT_TRUE(server.Running()) << server.Why();
    const std::string address = test::FreshPostgresDatabase();
    ASSERT_NE(address, "");

    std::string errorA, errorB;
    std::vector<double> msA, msB;
    std::thread a(RunStationBoards, address, 'A', std::ref(errorA), std::ref(msA));
    std::thread b(RunStationBoards, address, 'B', std::ref(errorB), std::ref(msB));
    a.join();
    b.join();
    ASSERT_EQ(errorA + errorB, "");
    msA.insert(msA.end(), msB.begin(), msB.end());
    std::sort(msA.begin(), msA.end());
    std::printf("Finish on PostgreSQL, two stations at once: median %.2f ms, max %.2f ms\n",
                msA[msA.size() / 2], msA.back());

    test::CheckConnection check(address);
    EXPECT_EQ(check.Count("SELECT COUNT(*) FROM attempts"), 2 * Boards);
    EXPECT_EQ(check.Count("SELECT COUNT(*) FROM"
                          " (SELECT DISTINCT station, label, attempt FROM attempts) d"),
              2 * Boards);
    EXPECT_EQ(check.Count("SELECT COUNT(*) FROM attempt_files"), 4 * Boards);
    EXPECT_EQ(check.Value("SELECT label FROM attempts WHERE label LIKE 'S-%' GROUP BY label"
                          " HAVING MIN(attempt) <> 1 OR MAX(attempt) <> 2"
                          " OR COUNT(DISTINCT station) <> 2"),
              "no row");

    // What the summary must say, per slot: boards, and those that passed (first = final here).
    std::map<int, std::pair<int, int>> expected;
    int boards = 0, passed = 0;
    for (const char station : {'A', 'B'}) {
        for (int i = 0; i < Boards; ++i) {
            if (station == 'A' || i % 10 != 0) { // a shared board counts once
                ++expected[SlotOf(i)].first;
                expected[SlotOf(i)].second += Passes(i) ? 1 : 0;
                ++boards;
                passed += Passes(i) ? 1 : 0;
            }
        }
    }
    TempFolder folder;
    test::WriteStationIni(folder.Path(), address);
    std::string output;
    ASSERT_EQ(test::RunStation({"--summary", folder.Path()}, output), 0) << output;
    char line[128];
    const double yield = 100.0 * passed / boards;
    std::snprintf(line, sizeof line, "First-pass yield: %.1f %% (%d of %d)\nFinal yield: %.1f",
                  yield, passed, boards, yield);
    EXPECT_NE(output.find(line), std::string::npos) << output;
    std::map<int, std::pair<int, int>> shown;
    std::istringstream rows(output);
    for (std::string row; std::getline(rows, row);) {
        int slot = 0, count = 0, first = 0, firstOf = 0, final = 0, finalOf = 0;
        if (std::sscanf(row.c_str(), "%d %d %*f %% (%d of %d) %*f %% (%d of %d)", &slot, &count,
                        &first, &firstOf, &final, &finalOf) == 6 &&
            firstOf == count && finalOf == count && first == final) {
            shown[slot] = {count, first};
        }
    }
    EXPECT_EQ(shown, expected) << output;
}

} // namespace
} // namespace pellwick
