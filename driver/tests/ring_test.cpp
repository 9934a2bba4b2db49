#include <gtest/gtest.h>

#include <numeric>

#include "receive/ring.hpp"

using lyx::drv::RxRing;
using lyx::link::Bytes;

namespace {

Bytes sequence(std::size_t n, std::uint8_t start = 1) {
    Bytes b(n);
    std::iota(b.begin(), b.end(), start);
    return b;
}

}  // namespace

TEST(RxRing, StartsEmptyAtPositionOne) {
    RxRing ring;
    EXPECT_EQ(ring.read(), 1u);
    EXPECT_EQ(ring.write(), 1u);
    EXPECT_EQ(ring.held(), 0u);
    EXPECT_EQ(ring.freeSpace(), 21999u);
}

TEST(RxRing, HoldsAtMost21999BytesWithOnePositionFree) {
    RxRing ring;
    EXPECT_EQ(ring.append(Bytes(21999, 7)), 0u);
    EXPECT_EQ(ring.held(), 21999u);
    EXPECT_EQ(ring.freeSpace(), 0u);
    EXPECT_EQ(ring.write(), 22000u);
}

TEST(RxRing, ChunkLargerThanFreeSpaceEmptiesTheRingAndIsStored) {
    RxRing ring;
    ring.append(Bytes(21000, 0xEE));
    Bytes chunk = sequence(1000);
    EXPECT_EQ(ring.append(chunk), 21000u);
    EXPECT_EQ(ring.held(), 1000u);
    EXPECT_EQ(ring.read(), 1u);
    EXPECT_EQ(ring.take(1000), chunk);
}

TEST(RxRing, ChunkLargerThanTheWholeRingKeepsItsNewestBytes) {
    RxRing ring;
    ring.append(Bytes(10, 1));
    Bytes chunk(25000);
    for (std::size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<std::uint8_t>(i * 7);
    EXPECT_EQ(ring.append(chunk), 10u + 25000u - 21999u);
    ASSERT_EQ(ring.held(), 21999u);
    Bytes got = ring.take(21999);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), chunk.end() - 21999));
}

TEST(RxRing, WrapsFrom22000ToOne) {
    RxRing ring;
    ring.append(Bytes(21990, 0));
    ring.discard(21990);
    EXPECT_EQ(ring.read(), 21991u);
    Bytes chunk = sequence(20);
    ring.append(chunk);
    EXPECT_EQ(ring.write(), 11u);
    auto held = ring.heldBytes();
    EXPECT_EQ(held.first.size(), 10u);
    EXPECT_EQ(held.second.size(), 10u);
    EXPECT_EQ(ring.take(20), chunk);
    EXPECT_EQ(ring.read(), 11u);
}

TEST(RxRing, DiscardZerosStopsAtTheFirstOtherByteOrTheWritePosition) {
    RxRing ring;
    ring.append(Bytes{0, 0, 0, 5, 0});
    ring.discardZeros();
    EXPECT_EQ(ring.held(), 2u);
    ring.discard(1);
    ring.discardZeros();
    EXPECT_EQ(ring.held(), 0u);
    ring.discardZeros();
    EXPECT_EQ(ring.held(), 0u);
}

TEST(RxRing, DiscardAndTakeNeverGoPastTheWritePosition) {
    RxRing ring;
    ring.append(Bytes{1, 2, 3});
    EXPECT_EQ(ring.take(10), (Bytes{1, 2, 3}));
    EXPECT_EQ(ring.held(), 0u);
    ring.discard(5);
    EXPECT_EQ(ring.read(), ring.write());
}

TEST(RxRing, ClearResetsBothPositionsToOne) {
    RxRing ring;
    ring.append(Bytes(500, 9));
    ring.discard(100);
    ring.clear();
    EXPECT_EQ(ring.read(), 1u);
    EXPECT_EQ(ring.write(), 1u);
}
