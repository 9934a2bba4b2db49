#include "table_view.hpp"

#include <cstdio>

namespace lyx::cli {

namespace {

double seconds(tags::TagTable::Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::string fit(std::string text, std::size_t width) {
    if (text.size() > width) text.resize(width);
    return text;
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

std::string renderTable(const tags::TagTable &table, tags::TagTable::Clock::time_point now,
                        std::size_t width, bool ansi) {
    char line[512];
    std::string out;
    std::snprintf(line, sizeof line, "%5s %-16s %7s %-16s %7s %6s %5s %4s %6s  %-14s %s", "TAG",
                  "NAME", "STATION", "VALUE", "AGE", "PKT/S", "RSSI", "CV", "STATUS", "FLAGS",
                  "STATE");
    out += fit(line, width) + "\n";
    for (const auto &[tag, entry] : table) {
        const tags::Reading &last = entry.last;
        const bool old = !table.available(entry, now);
        std::string flags;
        if (last.battLow) flags += "batt-low";
        if (last.error) flags += flags.empty() ? "error" : " error";
        if (flags.empty()) flags = "-";
        const tags::TagInfo &info = table.info(tag);
        std::string value = displayValue(last.value);
        if (value.empty()) value = "-";
        if (!info.unit.empty() && classify(last.value) == ValueKind::Number)
            value += " " + info.unit;
        const std::string name = info.name.empty() ? "-" : info.name;
        std::snprintf(line, sizeof line, "%5d %-16s %7d %-16s %6.1fs %6.1f %5d %4d %6d  %-14s %s",
                      tag, fit(name, 16).c_str(), last.station, value.c_str(),
                      seconds(now - entry.lastHeard), table.rate(entry, now), last.rssi, last.cv,
                      last.status, flags.c_str(), old ? "stale" : "live");
        if (ansi && old) out += "\x1b[2m";
        out += fit(line, width);
        if (ansi && old) out += "\x1b[0m";
        out += "\n";
    }
    return out;
}

}  // namespace lyx::cli
