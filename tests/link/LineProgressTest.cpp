// The line's byte rate from its framing, and how much of a transfer can have reached the line.
#include "link/LineProgress.h"

#include <gtest/gtest.h>

namespace pellwick {
namespace {

TEST(LineProgressTest, ByteRateCountsStartDataParityAndStopBits) {
    struct Row {
        const char* name;
        std::int32_t baud;
        int dataBits;
        bool parity;
        int stopBits;
        double rate;
    };
    const Row rows[] = {
        {"8N1", 9600, 8, false, 1, 960},    {"7E1", 9600, 7, true, 1, 960},
        {"8E2", 9600, 8, true, 2, 800},     {"8N1 fast", 115200, 8, false, 1, 11520},
        {"5N1.5", 9600, 5, false, 1, 1280}, {"5N2 is 1.5 too", 9600, 5, false, 2, 1280},
        {"no baud", 0, 8, false, 1, 0},
    };
    for (const Row& r : rows)
        EXPECT_DOUBLE_EQ(LineByteRate(r.baud, r.dataBits, r.parity, r.stopBits), r.rate) << r.name;
}

TEST(LineProgressTest, BytesOnLineAreHandedLessTheDriverQueueWithinTheLineRate) {
    struct Row {
        const char* name;
        LineMoment moment;
        double rate;
        std::int64_t onLine;
    };
    const Row rows[] = {
        {"driver holds part", {1000, 300, false, 10.0}, 960, 700},
        {"rate bounds a driver that does not tell", {1000, -1, false, 0.5}, 960, 480},
        {"rate bounds what the driver let go", {1000, 100, false, 0.5}, 960, 480},
        {"bound above what was handed", {100, -1, false, 1.0}, 960, 100},
        {"before the first byte", {50, -1, false, 0.0}, 960, 0},
        {"drained is all that was handed", {1000, -1, true, 0.1}, 960, 1000},
        {"no rate, no bound", {1000, -1, false, 0.0}, 0, 1000},
        {"queue holds output queued ahead", {10, 50, false, 5.0}, 960, 0},
    };
    for (const Row& r : rows)
        EXPECT_EQ(BytesOnLine(r.moment, r.rate), r.onLine) << r.name;
    EXPECT_DOUBLE_EQ(WireSeconds(9600, 960), 10.0);
    EXPECT_DOUBLE_EQ(WireSeconds(9600, 0), 0.0);
}

} // namespace
} // namespace pellwick
