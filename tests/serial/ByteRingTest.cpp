// The input and output rings on their own: positions, wrapping, all-or-none queueing, the
// read-ahead of a delivery and the scan positions, without a device or a worker.
#include "DispatcherFixture.h"
#include "serial/DispatcherTypes.h"
#include "serial/InputRing.h"
#include "serial/OutputRing.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

using namespace pellwick;
using pellwick::test::Bytes;

namespace {

// A driver holding `pending`; Fill reads from its front.
struct FakeDriver {
    std::string pending;
    std::uint32_t Fill(InputRing& ring) {
        return ring.Fill([this] { return static_cast<std::uint32_t>(pending.size()); },
                         [this](std::uint8_t* to, std::uint32_t count) -> long {
                             const auto n = std::min<std::size_t>(count, pending.size());
                             std::memcpy(to, pending.data(), n);
                             pending.erase(0, n);
                             return static_cast<long>(n);
                         });
    }
};

// Fills the ring with bytes and starts a delivery whose first handler runs.
void StartHandlerOn(InputRing& ring, const std::string& bytes) {
    ring.Allocate();
    FakeDriver driver{bytes};
    driver.Fill(ring);
    ring.BeginDelivery(true);
    ring.BeginHandler();
}

std::string Take(InputRing& ring, std::uint32_t n) {
    std::string s(n, '\0');
    return ring.Take(s.data(), n) == static_cast<int>(n) ? s : "<refused>";
}

} // namespace

TEST(OutputRingTest, QueueingIsAllOrNoneAndAWrappedRunLeavesInOneWriteInOrder) {
    OutputRing ring;
    EXPECT_EQ(ecPutBlockFail, ring.Put("x", 1)); // no ring yet
    ring.Allocate(100);
    const std::string first = Bytes(80, 'A'), second = Bytes(40, 'a');
    ASSERT_EQ(0, ring.Put(first.data(), 80));
    const std::uint8_t* data = nullptr;
    std::uint32_t count = 0;
    ASSERT_TRUE(ring.NextRun(data, count));
    ASSERT_EQ(80u, count);
    ring.Advance(50, ring.Generation());
    EXPECT_EQ(ecOutputBufferTooSmall, ring.Put(second.data(), 71));
    EXPECT_EQ(30u, ring.Used());
    ASSERT_EQ(0, ring.Put(second.data(), 40)); // wraps round the end
    EXPECT_EQ(70u, ring.Used());
    ASSERT_EQ(0, ring.Put(second.data(), 30)); // exactly the free room: full
    EXPECT_EQ(0u, ring.Free());
    ASSERT_TRUE(ring.NextRun(data, count));
    ASSERT_EQ(100u, count);
    EXPECT_EQ(first.substr(50) + second + second.substr(0, 30),
              std::string(reinterpret_cast<const char*>(data), count));
    ring.Advance(100, ring.Generation());
    EXPECT_EQ(0u, ring.Used());
    EXPECT_FALSE(ring.NextRun(data, count));
}

TEST(OutputRingTest, ARunWrittenWhileTheRingWasClearedDoesNotAdvanceIt) {
    OutputRing ring;
    ring.Allocate(16);
    ASSERT_EQ(0, ring.Put("stale", 5));
    const std::uint64_t generation = ring.Generation();
    ring.Clear();
    ASSERT_EQ(0, ring.Put("new", 3));
    ring.Advance(5, generation);
    EXPECT_EQ(3u, ring.Used());
}

TEST(InputRingTest, InputBeyondTheRingWaitsInTheDriverAndFollowsInOrder) {
    InputRing ring;
    ring.Allocate();
    FakeDriver driver{Bytes(InputRingSize + 100, 'a')};
    const std::string all = driver.pending;
    EXPECT_EQ(InputRingSize + 100, driver.Fill(ring));
    EXPECT_TRUE(ring.Full());
    EXPECT_TRUE(ring.MoreInputPending());
    EXPECT_EQ(0u, driver.Fill(ring)); // no room
    std::string got = Take(ring, 1000);
    driver.Fill(ring); // the last 100 wrap round the end
    EXPECT_FALSE(ring.MoreInputPending());
    EXPECT_EQ(InputRingSize - 900, ring.Available());
    got += Take(ring, InputRingSize - 900);
    EXPECT_EQ(all, got);
    EXPECT_EQ("<refused>", Take(ring, 1));
}

TEST(InputRingTest, HandlersOfADeliveryReadTheSameBytesAndTheLargestTakeLeaves) {
    InputRing ring;
    ring.Allocate();
    FakeDriver driver{"0123456789"};
    driver.Fill(ring);
    ring.BeginDelivery(true);
    for (std::uint32_t take : {4u, 6u, 2u}) {
        ring.BeginHandler();
        EXPECT_EQ(std::string("0123456789").substr(0, take), Take(ring, take));
        EXPECT_EQ(10u - take, ring.Available());
        ring.EndHandler();
    }
    EXPECT_EQ(6u, ring.EndDelivery());
    EXPECT_EQ("6789", Take(ring, 4));
}

// The port's wait for text reads the input itself and may begin anywhere in a delivery, after
// its first handler read ahead or instead of it: it reads on after what the handlers took, and
// each byte once, whatever the worker still does with the delivery (a stale "LOADER>" read
// twice became "LOADERR>", an error answer).
TEST(InputRingTest, TakesOutsideTheHandlersOfADeliveryTakeEachByteOnce) {
    const std::string input = "LOADER>xyz";
    for (const std::uint32_t handled : {0u, 2u}) {
        for (std::size_t start = 0; start <= 6; ++start) {
            SCOPED_TRACE(testing::Message() << "handled " << handled << ", start " << start);
            InputRing ring;
            ring.Allocate();
            FakeDriver driver{input};
            driver.Fill(ring);
            std::string handler, wait;
            bool waiting = false;
            // The worker's steps through a delivery to two handlers; none runs once the wait has
            // begun.
            const std::function<void()> steps[] = {
                [&] { ring.BeginDelivery(true); },
                [&] { ring.BeginHandler(); },
                [&] { handler = waiting ? "" : Take(ring, handled); },
                [&] { ring.EndHandler(); },
                [&] { ring.BeginHandler(); },
                [&] { ring.EndHandler(); },
                [&] { ring.EndDelivery(); },
            };
            for (std::size_t i = 0; i < std::size(steps); ++i) {
                if (i == start) {
                    ring.SetDirectTakes(true);
                    waiting = true;
                }
                steps[i]();
                wait += waiting ? Take(ring, 1) : "";
            }
            wait += Take(ring, ring.Available());
            ring.SetDirectTakes(false);
            EXPECT_EQ(input, handler + wait);
        }
    }
    // A wait that ends inside a delivery: the handlers after it read ahead from where it stopped.
    InputRing ring;
    StartHandlerOn(ring, "abcdef");
    ring.SetDirectTakes(true);
    EXPECT_EQ("ab", Take(ring, 2));
    ring.SetDirectTakes(false);
    EXPECT_EQ("cd", Take(ring, 2));
    ring.EndHandler();
    ring.BeginHandler();
    EXPECT_EQ("c", Take(ring, 1));
    ring.EndHandler();
    EXPECT_EQ(2u, ring.EndDelivery());
    EXPECT_EQ("ef", Take(ring, 2));
}

TEST(InputRingTest, ADiscardDuringARunningHandlerTakesEffectWhenTheDeliveryEnds) {
    InputRing ring;
    StartHandlerOn(ring, "abcdef");
    EXPECT_EQ("ab", Take(ring, 2));
    ring.Discard(true);
    EXPECT_EQ("cd", Take(ring, 2)); // the handler's reads stay where they are
    ring.EndHandler();
    ring.EndDelivery();
    EXPECT_EQ(0u, ring.Used());
    ring.BeginDelivery(true);
    ring.BeginHandler();
    FakeDriver{"xyz"}.Fill(ring);
    ring.Discard(false); // no handler runs: at once
    EXPECT_EQ(0u, ring.Available());
    ring.EndHandler();
    EXPECT_EQ(0u, ring.EndDelivery());
}

TEST(InputRingTest, ScanStopsAtTheMatchingByteAndResumesAfterIt) {
    InputRing ring;
    ring.Allocate();
    // Start near the end so that the scanned bytes wrap.
    FakeDriver driver{Bytes(InputRingSize - 3, 'a')};
    driver.Fill(ring);
    bool matched = false;
    std::uint32_t scanned = 0;
    auto all = [](const std::uint8_t*, std::uint32_t n, bool&) { return n; };
    EXPECT_EQ(InputRingSize - 3, ring.Scan(all, matched, scanned));
    EXPECT_EQ(InputRingSize - 3, scanned);
    Take(ring, InputRingSize - 3);
    driver.pending = "12#45#7";
    driver.Fill(ring);
    auto untilHash = [](const std::uint8_t* run, std::uint32_t n, bool& m) -> std::uint32_t {
        const auto* hash = static_cast<const std::uint8_t*>(std::memchr(run, '#', n));
        m = hash != nullptr;
        return m ? static_cast<std::uint32_t>(hash - run) + 1 : n;
    };
    EXPECT_EQ(InputRingSize - 1, ring.Scan(untilHash, matched, scanned));
    EXPECT_TRUE(matched);
    EXPECT_EQ(3u, scanned);
    EXPECT_EQ(2u, ring.Scan(untilHash, matched, scanned)); // wrapped: "45#" at 0..2
    EXPECT_TRUE(matched);
    EXPECT_EQ(4u, ring.Scan(untilHash, matched, scanned));
    EXPECT_FALSE(matched);
    EXPECT_EQ(1u, scanned);
    EXPECT_EQ(6u, ring.CountThrough(2));
}

TEST(InputRingTest, StagedInputIsUnseenUntilTheNextFillAndKeepsItsPlaceBeforeTheDriver) {
    InputRing ring;
    ring.Allocate();
    FakeDriver driver{Bytes(InputRingSize - 10, 'a')};
    driver.Fill(ring);
    const std::string first = Take(ring, InputRingSize - 10);
    driver.pending = "staged-bytes";
    auto read = [&](std::uint8_t* to, std::uint32_t count) -> long {
        const auto n = std::min<std::size_t>(count, driver.pending.size());
        std::memcpy(to, driver.pending.data(), n);
        driver.pending.erase(0, n);
        return static_cast<long>(n);
    };
    EXPECT_TRUE(ring.Stage(read));
    EXPECT_FALSE(ring.Stage(read)); // the driver is empty
    EXPECT_EQ(0u, ring.Available());
    EXPECT_TRUE(ring.MoreInputPending());
    driver.pending = "-then-driver";
    EXPECT_EQ(24u, driver.Fill(ring)); // wraps round the ring's end
    EXPECT_FALSE(ring.HasStagedInput());
    EXPECT_EQ("staged-bytes-then-driver", Take(ring, 24));
    driver.pending = "dropped";
    ring.Stage(read);
    ring.Discard(false);
    EXPECT_FALSE(ring.MoreInputPending());
    driver.Fill(ring);
    EXPECT_EQ(0u, ring.Available());
}

// The worker's reads run without the ring's lock (a take or a discard from inside one would
// otherwise never return); bytes read beside a discard are discarded with the rest.
TEST(InputRingTest, DeviceReadsLetGoOfTheLockAndADiscardMeanwhileDropsWhatTheyRead) {
    InputRing ring;
    ring.Allocate();
    FakeDriver driver{"abcdefghij"};
    driver.Fill(ring);
    auto fill = [&](const std::function<void()>& meanwhile, const std::string& bytes) {
        return ring.Fill([&] { return static_cast<std::uint32_t>(bytes.size()); },
                         [&](std::uint8_t* to, std::uint32_t) -> long {
                             meanwhile();
                             std::memcpy(to, bytes.data(), bytes.size());
                             return static_cast<long>(bytes.size());
                         });
    };
    fill([&] { EXPECT_EQ("abc", Take(ring, 3)); }, "new");
    EXPECT_EQ("defghijnew", Take(ring, 10));
    fill([&] { ring.Discard(false); }, "lost");
    EXPECT_EQ(0u, ring.Available());
    EXPECT_TRUE(ring.Stage([&](std::uint8_t* to, std::uint32_t) -> long {
        ring.Discard(false);
        std::memcpy(to, "gone", 4);
        return 4;
    }));
    EXPECT_FALSE(ring.HasStagedInput());
    driver.pending = "kept";
    driver.Fill(ring);
    EXPECT_EQ("kept", Take(ring, 4));
}
