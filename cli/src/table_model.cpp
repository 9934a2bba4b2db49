#include "table_model.hpp"

#include <algorithm>
#include <cstdio>

namespace lyx::cli {

namespace {

constexpr std::chrono::milliseconds kRateWindow{3000};

double seconds(TableModel::Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::string fit(std::string text, std::size_t width) {
    if (text.size() > width) text.resize(width);
    return text;
}

}  // namespace

void TableModel::add(const Packet &p, Clock::time_point now) {
    auto [it, added] = rows_.try_emplace(p.tag);
    Row &row = it->second;
    if (added) row.first = now;
    row.last = p;
    row.lastSeen = now;
    ++row.count;
    row.recent.push_back(now);
    while (!row.recent.empty() && now - row.recent.front() > kRateWindow)
        row.recent.pop_front();
}

bool TableModel::stale(int tag, Clock::time_point now) const {
    auto it = rows_.find(tag);
    return it == rows_.end() || now - it->second.lastSeen > kStaleAfter;
}

double TableModel::rate(int tag, Clock::time_point now) const {
    auto it = rows_.find(tag);
    if (it == rows_.end()) return 0.0;
    const Row &row = it->second;
    std::size_t inWindow = 0;
    for (auto t : row.recent)
        if (now - t <= kRateWindow) ++inWindow;
    // Over the window, or over the time since the first packet while the tag
    // is newer than that (at least one second, so one packet is not a storm).
    const double span = std::clamp(seconds(now - row.first), 1.0, seconds(kRateWindow));
    return static_cast<double>(inWindow) / span;
}

std::string TableModel::render(Clock::time_point now, std::size_t width, bool ansi) const {
    char line[512];
    std::string out;
    std::snprintf(line, sizeof line, "%5s %7s %-16s %7s %6s %5s %4s %6s  %-14s %s", "TAG",
                  "STATION", "VALUE", "AGE", "PKT/S", "RSSI", "CV", "STATUS", "FLAGS", "STATE");
    out += fit(line, width) + "\n";
    for (const auto &[tag, row] : rows_) {
        const bool old = now - row.lastSeen > kStaleAfter;
        std::string flags;
        if (row.last.battLow) flags += "batt-low";
        if (row.last.error) flags += flags.empty() ? "error" : " error";
        if (flags.empty()) flags = "-";
        std::string value = displayValue(row.last.value);
        if (value.empty()) value = "-";
        std::snprintf(line, sizeof line, "%5d %7d %-16s %6.1fs %6.1f %5d %4d %6d  %-14s %s", tag,
                      row.last.station, value.c_str(), seconds(now - row.lastSeen), rate(tag, now),
                      row.last.rssi, row.last.cv, row.last.status, flags.c_str(),
                      old ? "stale" : "live");
        if (ansi && old) out += "\x1b[2m";
        out += fit(line, width);
        if (ansi && old) out += "\x1b[0m";
        out += "\n";
    }
    return out;
}

}  // namespace lyx::cli
