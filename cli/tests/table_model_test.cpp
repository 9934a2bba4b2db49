#include "table_model.hpp"

#include <gtest/gtest.h>

namespace lyx::cli {
namespace {

using std::chrono::milliseconds;

Packet packet(int tag, std::string value) {
    Packet p;
    p.station = 1;
    p.tag = tag;
    p.value = std::move(value);
    p.rssi = -60;
    p.cv = 90;
    return p;
}

TEST(TableModel, RowsTurnStaleAfterThreeSecondsWithoutAPacket) {
    TableModel model;
    const auto t0 = TableModel::Clock::time_point(std::chrono::hours(1));
    for (int i = 0; i <= 20; ++i)
        model.add(packet(5, std::to_string(i)), t0 + milliseconds(100 * i));
    model.add(packet(9, "x"), t0);
    const auto t = t0 + milliseconds(3050);
    EXPECT_FALSE(model.stale(5, t));  // last packet 1.05 s ago
    EXPECT_TRUE(model.stale(9, t));   // 3.05 s ago
    EXPECT_TRUE(model.stale(77, t));  // never heard
    EXPECT_FALSE(model.stale(9, t0 + milliseconds(3000)));
    const std::string text = model.render(t, 200, false);
    EXPECT_NE(text.find("    5       1 20"), std::string::npos) << text;
    EXPECT_NE(text.find("live"), std::string::npos);
    EXPECT_NE(text.find("stale"), std::string::npos);
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    // On a terminal the stale row is dimmed.
    EXPECT_NE(model.render(t, 200, true).find("\x1b[2m    9"), std::string::npos);
}

TEST(TableModel, RateCountsTheLastThreeSeconds) {
    TableModel model;
    const auto t0 = TableModel::Clock::time_point(std::chrono::hours(1));
    // 10 a second for 10 s, then silence.
    for (int i = 0; i < 100; ++i)
        model.add(packet(3, "1"), t0 + milliseconds(100 * i));
    EXPECT_NEAR(model.rate(3, t0 + milliseconds(9950)), 10.0, 0.4);
    EXPECT_NEAR(model.rate(3, t0 + milliseconds(11450)), 5.0, 0.4);
    EXPECT_EQ(model.rate(3, t0 + milliseconds(14000)), 0.0);
    // A tag heard once has not a storm of packets.
    model.add(packet(4, "1"), t0);
    EXPECT_EQ(model.rate(4, t0 + milliseconds(10)), 1.0);
}

}  // namespace
}  // namespace lyx::cli
