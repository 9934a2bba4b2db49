#include "spool.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

namespace lyx::cli {
namespace {

class SpoolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/lyx-spool-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        folder_ = name;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    static Spool::Entry entry(int n) {
        return {0, "001234", 101, Spool::WallClock::time_point(std::chrono::seconds(n)),
                "{\"value\":" + std::to_string(n) + "}"};
    }
    static std::vector<int> take(Spool &spool, std::size_t most = 1000) {
        std::vector<Spool::Entry> out;
        spool.next(out, most);
        std::vector<int> values;
        for (const auto &e : out)
            values.push_back(static_cast<int>(
                std::chrono::duration_cast<std::chrono::seconds>(e.time.time_since_epoch())
                    .count()));
        return values;
    }

    std::string folder_;
};

TEST_F(SpoolTest, OldestFirstRemovedOnlyOnceDeliveredAndKeptAcrossReopening) {
    const auto now = Spool::Clock::now();
    {
        Spool spool(folder_, 1 << 20);
        for (int n = 1; n <= 5; ++n)
            spool.add(entry(n));
        EXPECT_TRUE(spool.pending());
        EXPECT_TRUE(spool.commitDue().has_value());
        // Handed out in order; what is not handed out yet stays pending.
        EXPECT_EQ(take(spool, 3), (std::vector<int>{1, 2, 3}));
        spool.add(entry(6));
        // The file's rows first, then (written first) those that came since.
        EXPECT_EQ(take(spool), (std::vector<int>{4, 5}));
        EXPECT_EQ(take(spool), (std::vector<int>{6}));
        EXPECT_FALSE(spool.pending());
        // Only 1 and 2 reached the broker; 3 to 6 were handed out, not acknowledged.
        spool.delivered(2);
        // Removing what was delivered falls due by itself too.
        ASSERT_TRUE(spool.commitDue().has_value());
        EXPECT_LE(*spool.commitDue(), Spool::Clock::now() + Spool::kCommitEvery);
        spool.commit(now);
        EXPECT_FALSE(spool.commitDue().has_value());
        EXPECT_EQ(spool.counts().packets, 4u);
        EXPECT_EQ(spool.counts().spooled, 6u);
        EXPECT_EQ(spool.counts().oldest, entry(3).time);
        // A second gateway on the same folder is refused.
        EXPECT_THROW(Spool(folder_, 1 << 20), std::runtime_error);
    }
    // What was not delivered goes again after a restart, in order.
    Spool again(folder_, 1 << 20);
    EXPECT_EQ(again.counts().packets, 4u);
    EXPECT_EQ(take(again), (std::vector<int>{3, 4, 5, 6}));
    again.delivered(1000);
    again.commit(now);
    EXPECT_EQ(again.counts().packets, 0u);
    EXPECT_EQ(again.counts().bytes, 0u);
    EXPECT_FALSE(again.counts().oldest);
}

TEST_F(SpoolTest, BeyondItsBoundTheOldestNotHandedOutAreDroppedAndCounted) {
    const std::uint64_t row = spoolBytes("001234", entry(10).payload);
    Spool spool(folder_, 5 * row);
    for (int n = 10; n < 13; ++n)
        spool.add(entry(n));
    spool.commit(Spool::Clock::now());
    EXPECT_EQ(take(spool, 1), (std::vector<int>{10}));  // handed out: never dropped
    for (int n = 13; n < 18; ++n)
        spool.add(entry(n));
    spool.commit(Spool::Clock::now());
    const Spool::Counts c = spool.counts();
    EXPECT_EQ(c.dropped, 3u);
    EXPECT_EQ(c.packets, 5u);
    EXPECT_LE(c.bytes, 5 * row);
    EXPECT_EQ(take(spool), (std::vector<int>{14, 15, 16, 17}));
}

TEST_F(SpoolTest, AFolderThatCannotBeMadeOrAFileThatIsNoSpoolIsAnError) {
    EXPECT_THROW(Spool(folder_ + "/missing/deeper", 1 << 20), std::runtime_error);
    std::FILE *f = std::fopen((folder_ + "/spool.sqlite3").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("not a database, but long enough to be read as the header of one.....\n", f);
    std::fclose(f);
    EXPECT_THROW(Spool(folder_, 1 << 20), std::runtime_error);
}

}  // namespace
}  // namespace lyx::cli
