#include "table_view.hpp"

#include <gtest/gtest.h>

#include "arguments.hpp"

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
    const auto t = t0 + milliseconds(3050);
    const std::string text = renderTable(model, t, 200, false);
    EXPECT_NE(text.find("  5       1    20"), std::string::npos) << text;
    EXPECT_NE(text.find("live"), std::string::npos);
    EXPECT_NE(text.find("stale"), std::string::npos);
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    // On a terminal the stale row is dimmed.
    EXPECT_NE(renderTable(model, t, 200, true).find("\x1b[2m  9"), std::string::npos);
    // A narrow terminal cuts the lines instead of wrapping them.
    // Everything fits 80 columns (no tag is named: no name column).
    const std::string header = renderTable(model, t, 80, false);
    EXPECT_EQ(header.substr(0, header.find('\n')),
              "TAG STATION VALUE  AGE PKT/S RSSI CV STATUS FLAGS STATE");
    const std::string narrow = renderTable(model, t, 20, false);
    EXPECT_EQ(narrow.substr(0, narrow.find('\n')).size(), 20u);
    // The tag file's names, and its unit after a number only.
    model.describe(5, {"Crane load", "kg"});
    model.describe(9, {"Hook", "kg"});
    const std::string named = renderTable(model, t, 200, false);
    EXPECT_NE(named.find("Crane load"), std::string::npos) << named;
    EXPECT_NE(named.find("20 kg"), std::string::npos) << named;
    EXPECT_EQ(named.find("x kg"), std::string::npos) << named;
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

TEST(TableView, FitsTheTerminalDroppingTheLeastImportantColumnsFirst) {
    tags::TagTable model;
    nameTags(model, {"12345=scale", "7=a very long name indeed"});
    const auto t0 = tags::TagTable::Clock::time_point(std::chrono::hours(1));
    Packet busy = packet(12345, "123456.789");
    busy.battLow = busy.error = true;
    busy.rssi = -105;
    busy.status = 255;
    model.add(readingOf(busy), t0);
    model.add(readingOf(packet(7, "a text longer than the value column")), t0 + milliseconds(9000));
    model.add(readingOf(packet(9, "2.5")), t0 + milliseconds(12000));
    const auto t = t0 + milliseconds(12100);
    const auto columns = [](const std::string &header) {
        std::vector<std::string> names;
        for (std::size_t at = 0; at < header.size();) {
            const std::size_t start = header.find_first_not_of(' ', at);
            if (start == std::string::npos) break;
            const std::size_t end = std::min(header.find(' ', start), header.size());
            names.push_back(header.substr(start, end - start));
            at = end;
        }
        return names;
    };
    using Names = std::vector<std::string>;
    const struct {
        std::size_t width;
        Names shown;
    } cases[] = {
        {200,
         {"TAG", "NAME", "STATION", "VALUE", "AGE", "PKT/S", "RSSI", "CV", "STATUS", "FLAGS",
          "STATE"}},
        {80, {"TAG", "NAME", "VALUE", "AGE", "PKT/S", "FLAGS", "STATE"}},
        {60, {"TAG", "NAME", "VALUE", "AGE", "STATE"}},
        {40, {"TAG", "NAME", "VALUE", "AGE", "STATE"}},
        {30, {"TAG", "VALUE", "AGE", "STATE"}},
    };
    for (const auto &c : cases) {
        const auto rows = lines(renderTable(model, t, c.width, false));
        ASSERT_EQ(rows.size(), 4u);
        EXPECT_EQ(columns(rows[0]), c.shown) << c.width << "\n" << rows[0];
        for (const std::string &row : rows)
            EXPECT_LE(row.size(), c.width) << row;
        // The state stays whole at the end of every row.
        EXPECT_TRUE(rows[1].ends_with("stale")) << rows[1];
        EXPECT_TRUE(rows[2].ends_with("live")) << rows[2];
        EXPECT_TRUE(rows[3].ends_with("stale")) << rows[3];
    }
    // Numbers are right-aligned under their titles: tag, age, and a value that is a number;
    // a text value that does not fit is cut with '~'.
    const auto rows = lines(renderTable(model, t, 80, false));
    const auto endOf = [&](const std::string &title) { return rows[0].find(title) + title.size(); };
    EXPECT_EQ(rows[1].find("    7 "), 0u) << rows[1];
    EXPECT_EQ(rows[3].find("12345 "), 0u) << rows[3];
    EXPECT_EQ(rows[1].substr(endOf("AGE") - 5, 5), " 3.1s") << rows[1];
    EXPECT_EQ(rows[2].substr(endOf("AGE") - 5, 5), " 0.1s") << rows[2];
    EXPECT_EQ(rows[3].substr(endOf("AGE") - 5, 5), "12.1s") << rows[3];
    const std::size_t valueStart = rows[0].find("VALUE");
    EXPECT_EQ(rows[1].substr(valueStart, 20), "a text longer than ~") << rows[1];
    EXPECT_EQ(rows[2].substr(valueStart, 20), "                 2.5") << rows[2];
    EXPECT_EQ(rows[3].substr(valueStart, 20), "          123456.789") << rows[3];
    EXPECT_NE(rows[3].find("batt-low error"), std::string::npos);
    EXPECT_NE(rows[3].find("scale"), std::string::npos);
    // A bad --name is refused.
    EXPECT_THROW(nameTags(model, {"scale"}), UsageError);
    EXPECT_THROW(nameTags(model, {"70000=x"}), UsageError);
}

}  // namespace
}  // namespace lyx::cli
