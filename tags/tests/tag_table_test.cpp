#include "lyx/tags/tag_table.hpp"

#include <gtest/gtest.h>

namespace lyx::tags {
namespace {

using std::chrono::milliseconds;

Reading reading(int tag, std::string value, int station = 1) {
    Reading r;
    r.station = station;
    r.tag = tag;
    r.value = std::move(value);
    r.rssi = -60;
    r.cv = 90;
    return r;
}

const auto t0 = TagTable::Clock::time_point(std::chrono::hours(1));

TEST(TagTable, TagsTurnUnavailableAfterTheSilenceTimeWithoutAPacket) {
    TagTable model;
    for (int i = 0; i <= 20; ++i)
        model.add(reading(5, std::to_string(i)), t0 + milliseconds(100 * i));
    model.add(reading(9, "x"), t0);
    const auto t = t0 + milliseconds(3050);
    EXPECT_TRUE(model.available(5, t));    // last packet 1.05 s ago
    EXPECT_FALSE(model.available(9, t));   // 3.05 s ago
    EXPECT_FALSE(model.available(77, t));  // never heard
    EXPECT_TRUE(model.available(9, t0 + milliseconds(3000)));
    // A packet brings it back; another silence time counts for another table.
    model.add(reading(9, "y"), t);
    EXPECT_TRUE(model.available(9, t));
    TagTable patient(milliseconds(10000));
    patient.add(reading(9, "x"), t0);
    EXPECT_TRUE(patient.available(9, t0 + milliseconds(9000)));
    EXPECT_FALSE(patient.available(9, t0 + milliseconds(10001)));
}

TEST(TagTable, RateCountsTheLastThreeSeconds) {
    TagTable model;
    // 10 a second for 10 s, then silence.
    for (int i = 0; i < 100; ++i)
        model.add(reading(3, "1"), t0 + milliseconds(100 * i));
    EXPECT_NEAR(model.rate(3, t0 + milliseconds(9950)), 10.0, 0.4);
    EXPECT_NEAR(model.rate(3, t0 + milliseconds(11450)), 5.0, 0.4);
    EXPECT_EQ(model.rate(3, t0 + milliseconds(14000)), 0.0);
    // A tag heard once has not a storm of packets.
    model.add(reading(4, "1"), t0);
    EXPECT_EQ(model.rate(4, t0 + milliseconds(10)), 1.0);
    EXPECT_EQ(model.rate(99, t0), 0.0);
}

TEST(TagTable, KeepsTheLastReadingCountsAndTimesOfEachTagInTagOrder) {
    TagTable model;
    Reading flagged = reading(0x4D2, "12.5", 2);
    flagged.battLow = true;
    model.add(reading(0x4D2, "11", 1), t0);
    model.add(reading(0x10, "3"), t0 + milliseconds(50));
    model.add(flagged, t0 + milliseconds(200));
    ASSERT_EQ(model.size(), 2u);
    EXPECT_EQ(model.begin()->first, 0x10);
    const TagTable::Entry *entry = model.find(0x4D2);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->last.value, "12.5");
    EXPECT_EQ(entry->last.station, 2);
    EXPECT_TRUE(entry->last.battLow);
    EXPECT_EQ(entry->packets, 2u);
    EXPECT_EQ(entry->firstHeard, t0);
    EXPECT_EQ(entry->lastHeard, t0 + milliseconds(200));
    EXPECT_EQ(model.find(0x11), nullptr);
}

TEST(TagTable, NamesAndUnitsAttachToTagsHeardOrNot) {
    TagTable model;
    model.describe(7, {"Crane hook", "kg"});
    EXPECT_EQ(model.size(), 0u) << "naming a tag does not make it heard";
    model.add(reading(7, "1"), t0);
    model.add(reading(8, "1"), t0);
    EXPECT_EQ(model.info(7).name, "Crane hook");
    EXPECT_EQ(model.info(7).unit, "kg");
    EXPECT_TRUE(model.info(8).name.empty());
    model.describe(8, {"Spare", ""});
    EXPECT_EQ(model.info(8).name, "Spare");
}

TEST(TagTable, SweepReportsEachSilentTagOnceAndItsNextPacketComesBack) {
    TagTable model(milliseconds(1000));
    EXPECT_EQ(model.add(reading(1, "a"), t0), TagTable::Arrival::Joined);
    EXPECT_EQ(model.add(reading(2, "a"), t0), TagTable::Arrival::Joined);
    EXPECT_EQ(model.add(reading(1, "b"), t0 + milliseconds(800)), TagTable::Arrival::Heard);
    ASSERT_TRUE(model.nextSilence());
    EXPECT_EQ(*model.nextSilence(), t0 + milliseconds(1000) + TagTable::Clock::duration(1));
    EXPECT_TRUE(model.sweep(t0 + milliseconds(1000)).empty());  // exactly its silence time
    EXPECT_EQ(model.sweep(t0 + milliseconds(1500)), std::vector<int>{2});
    EXPECT_TRUE(model.find(2)->gone());
    EXPECT_TRUE(model.sweep(t0 + milliseconds(1600)).empty()) << "reported once";
    EXPECT_EQ(*model.nextSilence(), t0 + milliseconds(1800) + TagTable::Clock::duration(1));
    EXPECT_EQ(model.sweep(t0 + milliseconds(2000)), std::vector<int>{1});
    EXPECT_FALSE(model.nextSilence()) << "every tag is gone";
    EXPECT_EQ(model.add(reading(2, "c"), t0 + milliseconds(2100)), TagTable::Arrival::Back);
    EXPECT_FALSE(model.find(2)->gone());
    // Silent for longer than its time but not swept: back all the same.
    EXPECT_EQ(model.add(reading(2, "d"), t0 + milliseconds(3200)), TagTable::Arrival::Back);
    // Forgotten, it joins again; its name stays.
    model.describe(2, {"Two", "V"});
    EXPECT_TRUE(model.forget(2));
    EXPECT_FALSE(model.forget(2));
    EXPECT_EQ(model.find(2), nullptr);
    EXPECT_EQ(model.add(reading(2, "e"), t0 + milliseconds(3300)), TagTable::Arrival::Joined);
    EXPECT_EQ(model.info(2).name, "Two");
}

TEST(TagTable, SilenceFollowsTheMeasuredIntervalOrTheTagsOwnTimeout) {
    // Three intervals, at least 10 s: the gateway's rule.
    TagTable model(TagTable::Silence{milliseconds(10000), 3});
    model.add(reading(1, "x"), t0);
    EXPECT_EQ(model.silence(1, *model.find(1)), milliseconds(10000)) << "no interval yet";
    for (int i = 1; i <= 4; ++i)
        model.add(reading(1, "x"), t0 + milliseconds(100 * i));
    EXPECT_EQ(model.interval(*model.find(1)), milliseconds(100));
    EXPECT_EQ(model.silence(1, *model.find(1)), milliseconds(10000)) << "the least applies";
    // A module that sends every 20 s: gone after 10 s at first, then after 60 s.
    model.add(reading(2, "y"), t0);
    EXPECT_FALSE(model.available(2, t0 + milliseconds(10001)));
    EXPECT_EQ(model.add(reading(2, "y"), t0 + milliseconds(20000)), TagTable::Arrival::Back);
    EXPECT_EQ(model.silence(2, *model.find(2)), milliseconds(60000));
    EXPECT_TRUE(model.available(2, t0 + milliseconds(79000)));
    // One long outage among steady intervals leaves the median where it was.
    for (int i = 1; i <= 6; ++i)
        model.add(reading(2, "y"), t0 + milliseconds(20000 + 20000 * i));
    model.add(reading(2, "y"), t0 + milliseconds(3'600'000));
    EXPECT_EQ(model.interval(*model.find(2)), milliseconds(20000));
    // The tag's own timeout wins over every rule.
    TagInfo patient;
    patient.timeout = milliseconds(2500);
    model.describe(1, patient);
    EXPECT_EQ(model.silence(1, *model.find(1)), milliseconds(2500));
    EXPECT_TRUE(model.available(1, t0 + milliseconds(400 + 2500)));
    EXPECT_FALSE(model.available(1, t0 + milliseconds(400 + 2501)));
}

}  // namespace
}  // namespace lyx::tags
