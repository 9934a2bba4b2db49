#include "table_view.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "arguments.hpp"

namespace lyx::cli {

namespace {

double seconds(tags::TagTable::Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::string fit(std::string text, std::size_t width) {
    if (text.size() > width) text.resize(width);
    return text;
}

std::string formatted(const char *format, double value) {
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The columns in the order they are shown. A narrow terminal drops the least important
// first; what remains is tag, value, state and age, and the name when tags have one.
enum Column { Tag, Name, Station, Value, Age, Rate, Rssi, Cv, Status, Flags, State, kColumns };

struct ColumnLook {
    const char *title;
    int rank;  // 0 the most important
    bool right;
    std::size_t shortest;  // a long text column may be narrowed down to this
    std::size_t longest;   // and is never wider (0: as wide as its longest cell)
};

constexpr std::array<ColumnLook, kColumns> kLooks = {{
    {"TAG", 0, true, 0, 0},
    {"NAME", 4, false, 6, 16},
    {"STATION", 7, true, 0, 0},
    {"VALUE", 1, false, 8, 20},
    {"AGE", 3, true, 0, 0},
    {"PKT/S", 5, true, 0, 0},
    {"RSSI", 8, true, 0, 0},
    {"CV", 9, true, 0, 0},
    {"STATUS", 10, true, 0, 0},
    {"FLAGS", 6, false, 0, 0},
    {"STATE", 2, false, 0, 0},
}};

struct Row {
    std::array<std::string, kColumns> cells;
    bool numericValue = false;
    bool stale = false;
};

// `text` in `width` characters: cut with a '~' when longer, padded on the side the
// column's alignment leaves free.
std::string cell(const std::string &text, std::size_t width, bool right) {
    if (text.size() > width) return width == 0 ? std::string() : text.substr(0, width - 1) + "~";
    const std::string pad(width - text.size(), ' ');
    return right ? pad + text : text + pad;
}

}  // namespace

tags::Reading readingOf(const Packet &p) {
    tags::Reading r;
    r.station = p.station;
    r.tag = p.tag;
    r.value = p.value;
    r.status = p.status;
    r.rssi = p.rssi;
    r.cv = p.cv;
    r.battLow = p.battLow;
    r.error = p.error;
    return r;
}

void nameTags(tags::TagTable &table, const std::vector<std::string> &words) {
    for (const std::string &word : words) {
        const auto eq = word.find('=');
        if (eq == std::string::npos || eq + 1 == word.size())
            throw UsageError("--name: expected TAG=NAME, got '" + word + "'");
        const int tag = static_cast<int>(parseInteger(word.substr(0, eq), 0, 65535, "--name"));
        table.describe(tag, {word.substr(eq + 1), {}});
    }
}

std::string renderTable(const tags::TagTable &table, tags::TagTable::Clock::time_point now,
                        std::size_t width, bool ansi) {
    std::vector<Row> rows;
    bool named = false;
    for (const auto &[tag, entry] : table) {
        const tags::Reading &last = entry.last;
        Row row;
        row.stale = !table.available(entry, now);
        std::string flags;
        if (last.battLow) flags += "batt-low";
        if (last.error) flags += flags.empty() ? "error" : " error";
        std::string value = displayValue(last.value);
        row.numericValue = classify(last.value) == ValueKind::Number;
        const tags::TagInfo &info = table.info(tag);
        // The tag file's unit after a number.
        if (!info.unit.empty() && row.numericValue) value += " " + info.unit;
        const std::string &name = info.name;
        named = named || !name.empty();
        row.cells = {std::to_string(tag),
                     name.empty() ? "-" : name,
                     std::to_string(last.station),
                     value.empty() ? "-" : value,
                     formatted("%.1fs", seconds(now - entry.lastHeard)),
                     formatted("%.1f", table.rate(entry, now)),
                     std::to_string(last.rssi),
                     std::to_string(last.cv),
                     std::to_string(last.status),
                     flags.empty() ? "-" : flags,
                     row.stale ? "stale" : "live"};
        rows.push_back(std::move(row));
    }

    // Each column as wide as its title and its widest cell, a long text column at most
    // its longest width.
    std::array<std::size_t, kColumns> widths{};
    std::array<bool, kColumns> shown{};
    for (int c = 0; c < kColumns; ++c) {
        std::size_t w = std::string_view(kLooks[c].title).size();
        for (const Row &row : rows)
            w = std::max(w, row.cells[c].size());
        if (kLooks[c].longest > 0) w = std::min(w, kLooks[c].longest);
        widths[c] = w;
        shown[c] = c != Name || named;
    }
    const auto total = [&] {
        std::size_t sum = 0;
        int count = 0;
        for (int c = 0; c < kColumns; ++c)
            if (shown[c]) sum += widths[c], ++count;
        return sum + (count > 0 ? static_cast<std::size_t>(count - 1) : 0);
    };
    // Too wide: drop the least important column, down to the four that always stay
    // (and the name), then narrow the value and name columns; lines are cut only after that.
    for (int rank = 10; rank > 4 && total() > width; --rank)
        for (int c = 0; c < kColumns; ++c)
            if (kLooks[c].rank == rank) shown[c] = false;
    for (int c : {Name, Value}) {
        if (!shown[c] || total() <= width) continue;
        const std::size_t over = total() - width;
        const std::size_t least = std::string_view(kLooks[c].title).size();
        const std::size_t floor = std::max(kLooks[c].shortest, least);
        if (widths[c] > floor) widths[c] -= std::min(over, widths[c] - floor);
    }
    if (total() > width && shown[Name]) {
        // The name goes last; the value takes back what it can of the room.
        shown[Name] = false;
        std::size_t natural = 0;
        for (const Row &row : rows)
            natural = std::max(natural, row.cells[Value].size());
        natural = std::min(natural, kLooks[Value].longest);
        if (total() < width && natural > widths[Value])
            widths[Value] = std::min(natural, widths[Value] + width - total());
    }

    const auto line = [&](const std::array<std::string, kColumns> &cells, bool numericValue) {
        std::string out;
        for (int c = 0; c < kColumns; ++c) {
            if (!shown[c]) continue;
            if (!out.empty()) out += ' ';
            const bool right = kLooks[c].right || (c == Value && numericValue);
            out += cell(cells[c], widths[c], right);
        }
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        return fit(out, width);
    };

    std::array<std::string, kColumns> titles;
    for (int c = 0; c < kColumns; ++c)
        titles[c] = kLooks[c].title;
    bool allNumbers = !rows.empty();
    for (const Row &row : rows)
        allNumbers = allNumbers && row.numericValue;
    std::string out = line(titles, allNumbers) + "\n";
    for (const Row &row : rows) {
        if (ansi && row.stale) out += "\x1b[2m";
        out += line(row.cells, row.numericValue);
        if (ansi && row.stale) out += "\x1b[0m";
        out += "\n";
    }
    return out;
}

}  // namespace lyx::cli
