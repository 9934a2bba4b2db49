#include "lyx/tags/tag_table.hpp"

#include <algorithm>

namespace lyx::tags {

namespace {

double seconds(TagTable::Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

void TagTable::add(const Reading &reading, Clock::time_point now) {
    auto [it, added] = entries_.try_emplace(reading.tag);
    Entry &entry = it->second;
    if (added) entry.firstHeard = now;
    entry.last = reading;
    entry.lastHeard = now;
    ++entry.packets;
    entry.recent_.push_back(now);
    while (!entry.recent_.empty() && now - entry.recent_.front() > kRateWindow)
        entry.recent_.pop_front();
}

void TagTable::describe(int tag, TagInfo info) {
    info_[tag] = std::move(info);
}

const TagInfo &TagTable::info(int tag) const {
    static const TagInfo none;
    const auto it = info_.find(tag);
    return it == info_.end() ? none : it->second;
}

const TagTable::Entry *TagTable::find(int tag) const {
    const auto it = entries_.find(tag);
    return it == entries_.end() ? nullptr : &it->second;
}

bool TagTable::available(const Entry &entry, Clock::time_point now) const {
    return now - entry.lastHeard <= silence_;
}

bool TagTable::available(int tag, Clock::time_point now) const {
    const Entry *entry = find(tag);
    return entry != nullptr && available(*entry, now);
}

double TagTable::rate(const Entry &entry, Clock::time_point now) const {
    // The arrivals are in time order: count those within the window from the newest back.
    std::size_t inWindow = 0;
    for (auto t = entry.recent_.rbegin(); t != entry.recent_.rend() && now - *t <= kRateWindow; ++t)
        ++inWindow;
    const double span = std::clamp(seconds(now - entry.firstHeard), 1.0, seconds(kRateWindow));
    return static_cast<double>(inWindow) / span;
}

double TagTable::rate(int tag, Clock::time_point now) const {
    const Entry *entry = find(tag);
    return entry == nullptr ? 0.0 : rate(*entry, now);
}

}  // namespace lyx::tags
