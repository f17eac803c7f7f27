// The trigger table on its own: the save record as a copy, handles past the counted range,
// the order of matches and which status triggers fire, without a device or a worker.
#include "serial/TriggerTable.h"

#include <gtest/gtest.h>
#include <string>

using namespace pellwick;

TEST(TriggerTableTest, TheSaveRecordIsACopyAndReinstatedHandlesAreNotGivenAgain) {
    TriggerTable table;
    const int data = table.AddData("OK", 2, false);
    table.SetAvailThreshold(7);
    TriggerSaveRecord save;
    table.Snapshot(save);
    table.Drop(static_cast<std::uint32_t>(data)); // the record keeps it
    table.Clear();
    EXPECT_EQ(data, table.AddTimer()); // a cleared table counts from the first handle again
    table.Reinstate(save);
    EXPECT_EQ(7u, table.AvailThreshold());
    EXPECT_EQ(0, table.Drop(static_cast<std::uint32_t>(data)));
    EXPECT_GT(table.AddTimer(), data);
    // Past the counted handles the lowest free one is given.
    TriggerTable full;
    for (int i = 1; i < 4096; ++i) {
        ASSERT_EQ(8 * i, full.AddTimer());
    }
    ASSERT_EQ(0, full.Drop(16));
    EXPECT_EQ(16, full.AddTimer());
    EXPECT_EQ(8 * 4096, full.AddTimer());
}

// The record kept across a close: a match the close left undelivered, and a match half made,
// must not fire on what the reopened port reads.
TEST(TriggerTableTest, ReinstatedDataTriggersStartWithoutMatches) {
    TriggerTable table;
    table.AddData("OK", 2, false);
    table.AddData("ERR", 3, false);
    auto feed = [&table](const std::string& bytes) {
        bool matched = false;
        std::uint32_t longest = 0;
        table.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                   static_cast<std::uint32_t>(bytes.size()), matched, longest);
        return matched;
    };
    ASSERT_TRUE(feed("OKER")); // OK matched and not taken, ERR begun
    TriggerSaveRecord save;
    table.Snapshot(save);
    table.Reinstate(save);
    EXPECT_FALSE(feed("R"));
    std::uint32_t handle = 0, length = 0;
    for (std::size_t i = 0; table.TakeMatchFromLast(i, handle, length); ++i) {
        EXPECT_EQ(0u, handle) << i;
    }
}

TEST(TriggerTableTest, FeedingStopsAtTheMatchingByteAndMatchesAreTakenFromTheLast) {
    TriggerTable table;
    std::uint32_t longest = 0;
    bool matched = false;
    const std::string text = "xxabcd";
    EXPECT_EQ(6u, table.Feed(reinterpret_cast<const std::uint8_t*>(text.data()), 6, matched,
                             longest)); // no data triggers: all taken
    const int bcd = table.AddData("BCD", 3, true);
    const int cd = table.AddData("cd", 2, false);
    EXPECT_EQ(6u,
              table.Feed(reinterpret_cast<const std::uint8_t*>(text.data()), 6, matched, longest));
    EXPECT_TRUE(matched);
    EXPECT_EQ(3u, longest);
    std::uint32_t handle = 0, length = 0;
    std::vector<int> order;
    for (std::size_t i = 0; table.TakeMatchFromLast(i, handle, length); ++i) {
        if (handle != 0) {
            order.push_back(static_cast<int>(handle));
        }
    }
    EXPECT_EQ((std::vector<int>{cd, bcd}), order);
    EXPECT_TRUE(table.TakeMatchFromLast(0, handle, length));
    EXPECT_EQ(0u, handle); // taken once
}

TEST(TriggerTableTest, EachStatusKindFiresOnItsLevelOnceAPass) {
    struct Case {
        std::uint32_t kind, value;
        StatusLevels levels;
        bool sent, fires;
        std::uint32_t extra;
    };
    const Case cases[] = {
        {skModem, 0x10, {0x10, 0, 0, 0}, false, false, 0}, // CTS as it was when armed
        {skModem, 0x10, {0x00, 0, 0, 0}, false, true, 0},  // CTS changed
        {skLineError, 2, {0, 4, 0, 0}, false, true, 0},    // parity class is error bit 4
        {skLineError, 1, {0, 4, 0, 0}, false, false, 0},
        {skOutputFree, 60, {0, 0, 40, 60}, false, true, 60},
        {skOutputFree, 61, {0, 0, 40, 60}, false, false, 0},
        {skOutputUsed, 40, {0, 0, 40, 60}, false, true, 40},
        {skOutputSent, 0, {}, true, true, 0},
        {skOutputSent, 0, {}, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " value " << c.value);
        TriggerTable table;
        const auto handle = static_cast<std::uint32_t>(table.AddStatus(c.kind));
        ASSERT_EQ(0, table.ArmStatus(handle, c.value, true, 0x10));
        std::uint32_t extra = 99;
        table.BeginStatusPass();
        EXPECT_EQ(c.fires ? handle : 0u, table.TakeFiredStatus(
                                             c.levels, [&] { return c.sent; }, extra));
        EXPECT_EQ(c.fires, table.AnyStatusHit());
        if (c.fires) {
            EXPECT_EQ(c.extra, extra);
            EXPECT_EQ(0u, table.TakeFiredStatus(
                              c.levels, [] { return true; }, extra));
        }
    }
}
