// A station that does nothing but record boards, for the test that kills it: in the folder
// given, it begins board K-(n+1) and then finishes K-n, as overlapping slots do, and prints
// one line per finished board, until it is killed.
#include "RecordTestSupport.h"
#include "station/BoardDatabase.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: board_db_writer FOLDER\n");
        return 1;
    }
    pellwick::BoardDatabase db;
    if (const std::string error = db.Open("", argv[1], "killed", "bench"); !error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    auto board = [](int n) {
        return pellwick::test::TwoFileBoard(1 + n % 16, "K-" + std::to_string(n), n % 3 != 0);
    };
    std::int64_t running = 0;
    if (const std::string error = db.Begin(board(0), running); !error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    for (int n = 0; n < 1000000; ++n) {
        std::int64_t next = 0;
        int attempt = 0;
        std::string error = db.Begin(board(n + 1), next);
        if (error.empty()) {
            error = db.Finish(running, board(n), attempt);
        }
        if (!error.empty()) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::printf("K-%d\n", n);
        std::fflush(stdout);
        running = next;
    }
    return 0;
}
