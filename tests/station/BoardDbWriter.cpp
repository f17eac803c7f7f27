// A station that only records boards, for the test that kills it: in the folder given it
// begins board K-(n+1), then finishes K-n, as overlapping slots do, and prints each finished
// board's label, until it is killed.
#include "RecordTestSupport.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    pellwick::BoardDatabase db;
    std::string error = argc == 2 ? db.Open("", argv[1], "killed", "bench") : "usage: FOLDER";
    auto board = [](int n) {
        return pellwick::test::TwoFileBoard(1 + n % 16, "K-" + std::to_string(n), n % 3 != 0);
    };
    std::int64_t running = 0;
    if (error.empty()) {
        error = db.Begin(board(0), running);
    }
    for (int n = 0; error.empty() && n < 1000000; ++n) {
        std::int64_t next = 0;
        int attempt = 0;
        error = db.Begin(board(n + 1), next);
        error += db.Finish(running, board(n), attempt);
        if (!error.empty()) {
            break;
        }
        std::printf("K-%d\n", n);
        std::fflush(stdout);
        running = next;
    }
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
}
