#include "table_view.hpp"

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

TEST(TableView, ShowsEachTagsLastReadingAndDimsStaleRowsOnATerminal) {
    tags::TagTable model;
    const auto t0 = tags::TagTable::Clock::time_point(std::chrono::hours(1));
    for (int i = 0; i <= 20; ++i)
        model.add(readingOf(packet(5, std::to_string(i))), t0 + milliseconds(100 * i));
    model.add(readingOf(packet(9, "x")), t0);
    // The tag file's name, and its unit after a number.
    model.describe(5, {"Crane load", "kg"});
    model.describe(9, {"A name longer than sixteen", "kg"});
    const auto t = t0 + milliseconds(3050);
    const std::string text = renderTable(model, t, 200, false);
    EXPECT_NE(text.find("    5 Crane load             1 20 kg "), std::string::npos) << text;
    EXPECT_NE(text.find("    9 A name longer th       1 x "), std::string::npos) << text;
    EXPECT_NE(text.find("live"), std::string::npos);
    EXPECT_NE(text.find("stale"), std::string::npos);
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    // On a terminal the stale row is dimmed.
    EXPECT_NE(renderTable(model, t, 200, true).find("\x1b[2m    9"), std::string::npos);
    // A narrow terminal cuts the lines instead of wrapping them.
    const std::string narrow = renderTable(model, t, 20, false);
    EXPECT_EQ(narrow.substr(0, narrow.find('\n')).size(), 20u);
}

}  // namespace
}  // namespace lyx::cli
