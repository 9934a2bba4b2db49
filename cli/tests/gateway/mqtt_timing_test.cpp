// The back-off between connection attempts, the throttle of the retained
// states and the station directory: the parts of the gateway that follow the clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "backoff.hpp"
#include "state_throttle.hpp"
#include "station_directory.hpp"

namespace lyx::cli {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(Backoff, DoublesUpToTheCapAndStartsAgainAfterASuccess) {
    Backoff b(1s, 30s);
    std::vector<long> waits;
    for (int i = 0; i < 7; ++i)
        waits.push_back(
            static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(b.next()).count()));
    EXPECT_EQ(waits, (std::vector<long>{1, 2, 4, 8, 16, 30, 30}));
    b.reset();
    EXPECT_EQ(b.next(), 1s);
}

TEST(StateThrottle, OncePerIntervalAndTheLastOfABurstGoesOut) {
    StateThrottle t(1000ms);
    const auto t0 = Clock::time_point(100s);
    EXPECT_TRUE(t.offer("a", "1", t0));  // the first at once
    EXPECT_FALSE(t.offer("a", "2", t0 + 100ms));
    EXPECT_FALSE(t.offer("a", "3", t0 + 900ms));
    EXPECT_TRUE(t.offer("b", "x", t0 + 900ms));  // each topic on its own
    ASSERT_TRUE(t.nextDue());
    EXPECT_EQ(*t.nextDue(), t0 + 1000ms);
    EXPECT_TRUE(t.takeDue(t0 + 999ms, 10).empty());
    auto due = t.takeDue(t0 + 1000ms, 10);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].topic, "a");
    EXPECT_EQ(due[0].payload, "3");  // the latest, not the first that waited
    EXPECT_FALSE(t.nextDue());
    // Published at 1000 ms: the next reading waits for 2000 ms.
    EXPECT_FALSE(t.offer("a", "4", t0 + 1500ms));
    EXPECT_TRUE(t.takeDue(t0 + 1999ms, 10).empty());
    EXPECT_EQ(t.takeDue(t0 + 2000ms, 10).size(), 1u);
    EXPECT_TRUE(t.offer("a", "5", t0 + 3100ms));
}

TEST(StateThrottle, EveryLatestStateForABrokerThatLostThem) {
    StateThrottle t(1000ms);
    const auto t0 = Clock::time_point(100s);
    t.offer("a", "1", t0);
    t.offer("a", "2", t0 + 10ms);
    t.offer("b", "9", t0);
    auto all = t.takeAll(t0 + 20ms);
    std::sort(all.begin(), all.end(), [](auto &x, auto &y) { return x.topic < y.topic; });
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].payload, "2");
    EXPECT_EQ(all[1].payload, "9");
    EXPECT_FALSE(t.nextDue());
    // A forgotten topic is neither due nor given back again.
    t.offer("b", "10", t0 + 30ms);
    ASSERT_TRUE(t.nextDue());
    t.forget("b");
    EXPECT_FALSE(t.nextDue());
    all = t.takeAll(t0 + 40ms);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].topic, "a");
}

TEST(StationDirectory, ReadsAnIdWhenFirstHeardAndAfterASilence) {
    StationDirectory d;
    const auto t0 = Clock::time_point(100s);
    EXPECT_FALSE(d.levelFor(1, t0));
    EXPECT_FALSE(d.levelFor(1, t0 + 1ms));  // still waiting
    EXPECT_EQ(d.waiting(), std::vector<int>{1});
    auto change = d.record(1, 0x001234, t0 + 5ms);
    EXPECT_TRUE(change.changed());
    EXPECT_EQ(change.after, "001234");
    EXPECT_TRUE(d.waiting().empty());
    EXPECT_EQ(d.levelFor(1, t0 + 4s), "001234");
    EXPECT_EQ(d.levelFor(1, t0 + 8s), "001234");  // 4 s apart: no silence
    EXPECT_FALSE(d.levelFor(1, t0 + 8s + StationDirectory::kSilence));
    change = d.record(1, 0x005678, t0 + 14s);
    EXPECT_EQ(change.before, "001234");
    EXPECT_EQ(change.after, "005678");
    EXPECT_EQ(d.numberOf("005678"), 1);
    EXPECT_FALSE(d.numberOf("001234"));
}

TEST(StationDirectory, AStationThatGivesNoIdIsStillPublishedAndAskedAgain) {
    StationDirectory d;
    const auto t0 = Clock::time_point(100s);
    // Read at the start, not there: nothing changes.
    EXPECT_FALSE(d.record(2, 0, t0).changed());
    EXPECT_TRUE(d.levels().empty());
    EXPECT_FALSE(d.levelFor(2, t0 + 1s));
    EXPECT_EQ(d.record(2, 0, t0 + 1s).after, "station-2");
    // Heard every second: asked again once kRetry has passed since the last read.
    for (auto at = t0 + 2s; at < t0 + 1s + StationDirectory::kRetry; at += 1s)
        EXPECT_EQ(d.levelFor(2, at), "station-2");
    EXPECT_FALSE(d.levelFor(2, t0 + 1s + StationDirectory::kRetry));
    EXPECT_EQ(d.record(2, 0x000042, t0 + 12s).after, "000042");
    for (auto at = t0 + 13s; at < t0 + 30s; at += 1s)
        EXPECT_EQ(d.levelFor(2, at), "000042");  // confirmed: no more reads while it sends
    EXPECT_EQ(d.levels(), (std::map<int, std::string>{{2, "000042"}}));
}

TEST(StationDirectory, AStationReadAtTheStartIsReadAgainWhenFirstHeardLongAfter) {
    StationDirectory d;
    const auto t0 = Clock::time_point(100s);
    d.record(1, 0x001234, t0);
    EXPECT_EQ(d.levelFor(1, t0 + 1s), "001234");
    StationDirectory later;
    later.record(1, 0x001234, t0);
    EXPECT_FALSE(later.levelFor(1, t0 + StationDirectory::kSilence));
}

}  // namespace
}  // namespace lyx::cli
