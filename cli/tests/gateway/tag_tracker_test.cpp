// The gateway's model of tags: per base station, its events in order, its list, forgetting.
#include "tag_tracker.hpp"

#include <gtest/gtest.h>

namespace lyx::cli {
namespace {

using namespace std::chrono_literals;
using Kind = TagTracker::Event::Kind;

Packet packet(int station, int tag, std::string value = "1") {
    Packet p;
    p.station = station;
    p.tag = tag;
    p.value = std::move(value);
    return p;
}

std::vector<std::string> kinds(const std::vector<TagTracker::Event> &events) {
    std::vector<std::string> out;
    for (const auto &e : events)
        out.push_back(e.station + "/" + std::to_string(e.tag) + " " +
                      (e.kind == Kind::Joined ? "joined"
                       : e.kind == Kind::Gone ? "gone"
                                              : "back"));
    return out;
}

TEST(TagTracker, EachStationsTagsJoinGoAndComeBackInOrderAndCanBeForgotten) {
    tags::TagNames names;
    names[7].name = "Hook";
    names[7].timeout = 2s;
    TagTracker tracker(names);
    const auto t0 = TagTracker::Clock::time_point(1h);
    tracker.heard("001234", packet(1, 7, "2.5"), t0);
    tracker.heard("005678", packet(2, 7, "x"), t0 + 10ms);  // the same tag through another
    tracker.heard("001234", packet(1, 8), t0 + 20ms);
    EXPECT_EQ(kinds(tracker.takeEvents(t0 + 30ms)),
              (std::vector<std::string>{"001234/7 joined", "005678/7 joined", "001234/8 joined"}));
    EXPECT_TRUE(tracker.takeEvents(t0 + 40ms).empty());
    ASSERT_TRUE(tracker.nextSilence());
    EXPECT_EQ(*tracker.nextSilence(), t0 + 2s + 1ns);  // the tag file's timeout
    // Tag 8 keeps sending; tag 7 under 001234 falls silent and comes back: "gone" first,
    // even though nobody asked for the events in between.
    for (int i = 1; i <= 25; ++i)
        tracker.heard("001234", packet(1, 8), t0 + i * 100ms);
    tracker.heard("001234", packet(1, 7), t0 + 3s);
    const auto events = tracker.takeEvents(t0 + 3s);
    EXPECT_EQ(kinds(events),
              (std::vector<std::string>{"001234/7 gone", "005678/7 gone", "001234/7 back"}));
    EXPECT_EQ(events[0].at, t0 + 2s);    // when its silence ended
    EXPECT_EQ(events[0].lastHeard, t0);  // its last packet
    EXPECT_EQ(events[0].timeout, 2000ms);
    EXPECT_EQ(events[2].lastHeard, t0);  // back after that silence

    const auto modules = tracker.modules(t0 + 3s);
    ASSERT_EQ(modules.size(), 3u);
    EXPECT_EQ((std::tuple{modules[0].station, modules[0].tag, modules[0].packets,
                          modules[0].available, modules[0].value}),
              (std::tuple{std::string("001234"), 7, std::uint64_t{2}, true, std::string("1")}));
    EXPECT_EQ(modules[1].tag, 8);
    EXPECT_EQ(modules[2].station, "005678");
    EXPECT_FALSE(modules[2].available);
    EXPECT_EQ(tracker.info(7).name, "Hook");

    // Forgotten under one station, it stays under the other; heard again, it joins again.
    const auto version = tracker.version();
    EXPECT_EQ(tracker.forget(7, "001234"), std::vector<std::string>{"001234"});
    EXPECT_GT(tracker.version(), version);
    EXPECT_EQ(tracker.modules(t0 + 3s).size(), 2u);
    EXPECT_EQ(tracker.forget(7), std::vector<std::string>{"005678"});
    EXPECT_TRUE(tracker.forget(7).empty());
    tracker.heard("001234", packet(1, 7), t0 + 4s);
    EXPECT_EQ(kinds(tracker.takeEvents(t0 + 4s)), std::vector<std::string>{"001234/7 joined"});
}

}  // namespace
}  // namespace lyx::cli
