// Two stations of a line writing into one PostgreSQL database at the same moment: no board
// lost or doubled, attempt numbers of a board both stations load stay distinct, and the
// summary of the real program over both matches the count the test keeps itself.
#include "RecordTestSupport.h"
#include "station/BoardDatabase.h"

#include <QDateTime>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <thread>

namespace pellwick {
namespace {

constexpr int Boards = 200;
constexpr int Slots = 4;

// Board i of a station: every tenth is a board both stations load (and both fail); every
// other fifth fails; the rest pass.
std::string LabelOf(char station, int i) {
    return i % 10 == 0 ? "S-" + std::to_string(i)
                       : std::string(1, station) + "-" + std::to_string(i);
}
bool Passes(int i) {
    return i % 5 != 0;
}
int SlotOf(int i) {
    return 1 + i % Slots;
}

struct Timing {
    std::string error;
    std::vector<double> finishMs;
};

void RunStationBoards(const std::string& address, const std::string& folder, char station,
                      Timing& timing) {
    BoardDatabase db;
    timing.error = db.Open(address, folder, std::string("line-") + station, "bench");
    const std::string now = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toStdString();
    for (int i = 0; i < Boards && timing.error.empty(); ++i) {
        BoardResult b = test::TwoFileBoard(SlotOf(i), LabelOf(station, i), Passes(i), now, now);
        std::int64_t id = 0;
        int attempt = 0;
        timing.error = db.Begin(b, id);
        const auto start = std::chrono::steady_clock::now();
        if (timing.error.empty()) {
            timing.error = db.Finish(id, b, attempt);
        }
        timing.finishMs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
}

std::string Report(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    char text[128];
    std::snprintf(text, sizeof text, "median %.2f ms, 95th %.2f ms, max %.2f ms", ms[ms.size() / 2],
                  ms[ms.size() * 95 / 100], ms.back());
    return text;
}

TEST(SharedDatabaseTest, TwoStationsAtOnceLoseAndDoubleNothing) {
    PostgresServer& server = test::SharedPostgres();
    if (!server.Installed()) {
        GTEST_SKIP() << server.Why();
    }
    ASSERT_TRUE(server.Running()) << server.Why();
    const std::string address = test::FreshPostgresDatabase();
    ASSERT_FALSE(address.empty());
    TempFolder folder;

    Timing a, b;
    std::thread stationA(RunStationBoards, address, folder.Path(), 'A', std::ref(a));
    std::thread stationB(RunStationBoards, address, folder.Path(), 'B', std::ref(b));
    stationA.join();
    stationB.join();
    ASSERT_EQ(a.error, "");
    ASSERT_EQ(b.error, "");
    std::printf("Finish on PostgreSQL, two stations at once: %s\n",
                Report([&] {
                    std::vector<double> all = a.finishMs;
                    all.insert(all.end(), b.finishMs.begin(), b.finishMs.end());
                    return all;
                }())
                    .c_str());

    test::CheckConnection check(address);
    EXPECT_EQ(check.Count("SELECT COUNT(*) FROM attempts"), 2 * Boards);
    EXPECT_EQ(check.Count("SELECT COUNT(*) FROM (SELECT DISTINCT station, label, attempt"
                          " FROM attempts) d"),
              2 * Boards);
    EXPECT_EQ(check.Count("SELECT COUNT(*) FROM attempt_files"), 4 * Boards);
    EXPECT_EQ(check.Count("SELECT COUNT(*) FROM unfinished"), 0);
    // Each shared board has attempts 1 and 2, one from each station.
    EXPECT_EQ(check.Count("SELECT COUNT(*) FROM attempts WHERE label LIKE 'S-%'"
                          " GROUP BY label HAVING MIN(attempt) <> 1 OR MAX(attempt) <> 2"
                          " OR COUNT(DISTINCT station) <> 2"),
              -1);

    // The count the summary must give: per slot of each board's first attempt.
    std::map<int, std::pair<int, int>> perSlot; // boards, passed (first = final here)
    for (const char station : {'A', 'B'}) {
        for (int i = 0; i < Boards; ++i) {
            if (station == 'B' && i % 10 == 0) {
                continue; // the shared board counts once
            }
            ++perSlot[SlotOf(i)].first;
            perSlot[SlotOf(i)].second += Passes(i) ? 1 : 0;
        }
    }
    int boards = 0, passed = 0;
    for (const auto& [slot, count] : perSlot) {
        boards += count.first;
        passed += count.second;
    }
    test::WriteStationIni(folder.Path(), address);
    std::string output;
    ASSERT_EQ(test::RunStation({"--summary", folder.Path()}, output), 0) << output;
    char line[128];
    std::snprintf(line, sizeof line,
                  "First-pass yield: %.1f %% (%d of %d)\nFinal yield: %.1f %% (%d of %d)\n",
                  100.0 * passed / boards, passed, boards, 100.0 * passed / boards, passed, boards);
    EXPECT_NE(output.find(line), std::string::npos) << output;
    std::map<int, std::pair<int, int>> shown;
    std::istringstream rows(output.substr(output.find("Slot")));
    for (std::string row; std::getline(rows, row);) {
        int slot = 0, count = 0, first = 0, firstOf = 0, final = 0, finalOf = 0;
        if (std::sscanf(row.c_str(), "%d %d %*f %% (%d of %d) %*f %% (%d of %d)", &slot, &count,
                        &first, &firstOf, &final, &finalOf) == 6) {
            EXPECT_EQ(first, final);
            EXPECT_EQ(firstOf, count);
            shown[slot] = {count, first};
        }
    }
    EXPECT_EQ(shown, perSlot) << output;
}

} // namespace
} // namespace pellwick
