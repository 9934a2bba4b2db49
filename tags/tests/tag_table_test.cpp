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

}  // namespace
}  // namespace lyx::tags
