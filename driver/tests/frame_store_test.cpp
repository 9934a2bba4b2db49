// The held frames: order across blocks, the bound, and clearing.

#include <gtest/gtest.h>

#include "receive/frame_store.hpp"

using lyx::drv::FrameStore;
using lyx::link::Bytes;

namespace {

Bytes numbered(std::uint32_t i, std::size_t size) {
    Bytes frame(size, static_cast<std::uint8_t>(i * 7));
    frame[0] = static_cast<std::uint8_t>(i >> 16);
    frame[1] = static_cast<std::uint8_t>(i >> 8);
    frame[2] = static_cast<std::uint8_t>(i);
    return frame;
}

std::uint32_t numberOf(const Bytes &frame) {
    return (frame[0] << 16) | (frame[1] << 8) | frame[2];
}

}  // namespace

TEST(FrameStore, FramesOfEverySizeComeBackInOrderAcrossBlocks) {
    FrameStore store;
    const std::size_t sizes[] = {3, 16, 105, 260, 7};
    std::uint32_t pushed = 0;
    for (; pushed < 20000; ++pushed)
        ASSERT_EQ(store.push(numbered(pushed, sizes[pushed % 5])), 0u);
    EXPECT_EQ(store.size(), 20000u);
    EXPECT_GT(store.memoryBytes(), FrameStore::kBlockBytes);  // spread over several blocks
    Bytes out;
    for (std::uint32_t i = 0; i < 20000; ++i) {
        ASSERT_TRUE(store.pop(out));
        ASSERT_EQ(out, numbered(i, sizes[i % 5]));
        if (i == 9999) {  // pushing while popping keeps the order
            for (std::uint32_t j = 0; j < 10; ++j)
                store.push(numbered(pushed++, 9));
        }
    }
    for (std::uint32_t i = 20000; i < pushed; ++i) {
        ASSERT_TRUE(store.pop(out));
        EXPECT_EQ(numberOf(out), i);
    }
    EXPECT_FALSE(store.pop(out));
    EXPECT_TRUE(store.empty());
    EXPECT_LE(store.memoryBytes(), FrameStore::kBlockBytes);
}

TEST(FrameStore, TheBoundDropsTheOldestFramesAndCountsThemAndClearEmptiesAll) {
    FrameStore store(2);
    EXPECT_EQ(store.memoryLimit(), 2 * FrameStore::kBlockBytes);
    const std::size_t perBlock = FrameStore::kBlockBytes / (2 + 14);
    std::size_t dropped = 0;
    const std::uint32_t total = static_cast<std::uint32_t>(perBlock * 5 + 3);
    for (std::uint32_t i = 0; i < total; ++i)
        dropped += store.push(numbered(i, 14));
    EXPECT_EQ(dropped, perBlock * 4);  // the bound of two blocks, pushed six blocks full
    EXPECT_EQ(store.size() + dropped, total);
    EXPECT_LE(store.memoryBytes(), store.memoryLimit());
    Bytes out;
    ASSERT_TRUE(store.pop(out));
    EXPECT_EQ(numberOf(out), dropped);  // the oldest that survived
    EXPECT_EQ(store.clear(), total - dropped - 1);
    EXPECT_TRUE(store.empty());
    EXPECT_FALSE(store.pop(out));
    store.push(numbered(1, 5));  // and it works again afterwards
    ASSERT_TRUE(store.pop(out));
    EXPECT_EQ(numberOf(out), 1u);
}
