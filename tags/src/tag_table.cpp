#include "lyx/tags/tag_table.hpp"

#include <algorithm>

namespace lyx::tags {

namespace {

double seconds(TagTable::Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

TagTable::Arrival TagTable::add(const Reading &reading, Clock::time_point now) {
    auto [it, added] = entries_.try_emplace(reading.tag);
    Entry &entry = it->second;
    Arrival arrival = Arrival::Joined;
    if (added) {
        entry.firstHeard = now;
    } else {
        arrival =
            entry.gone_ || !available(reading.tag, entry, now) ? Arrival::Back : Arrival::Heard;
        // Every interval counts, a long one too: a module that sends once a minute must
        // teach the table so after it was taken for gone once. The median keeps a single
        // outage from stretching the estimate.
        entry.gaps_.push_back(now - entry.lastHeard);
        if (entry.gaps_.size() > kIntervalsKept) entry.gaps_.pop_front();
    }
    entry.gone_ = false;
    entry.last = reading;
    entry.lastHeard = now;
    ++entry.packets;
    entry.recent_.push_back(now);
    while (!entry.recent_.empty() && now - entry.recent_.front() > kRateWindow)
        entry.recent_.pop_front();
    return arrival;
}

bool TagTable::forget(int tag) {
    return entries_.erase(tag) > 0;
}

std::optional<TagTable::Clock::duration> TagTable::interval(const Entry &entry) const {
    if (entry.gaps_.empty()) return std::nullopt;
    std::vector<Clock::duration> sorted(entry.gaps_.begin(), entry.gaps_.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted[(sorted.size() - 1) / 2];  // the lower middle of an even count
}

std::chrono::milliseconds TagTable::silence(int tag, const Entry &entry) const {
    if (const auto it = info_.find(tag); it != info_.end() && it->second.timeout)
        return *it->second.timeout;
    if (policy_.intervals <= 0) return policy_.least;
    const auto measured = interval(entry);
    if (!measured) return policy_.least;
    const auto scaled = std::chrono::ceil<std::chrono::milliseconds>(*measured * policy_.intervals);
    return std::max(policy_.least, scaled);
}

std::vector<int> TagTable::sweep(Clock::time_point now) {
    std::vector<int> gone;
    for (auto &[tag, entry] : entries_) {
        if (entry.gone_ || available(tag, entry, now)) continue;
        entry.gone_ = true;
        gone.push_back(tag);
    }
    return gone;
}

std::optional<TagTable::Clock::time_point> TagTable::nextSilence() const {
    std::optional<Clock::time_point> next;
    for (const auto &[tag, entry] : entries_) {
        if (entry.gone_) continue;
        // Silent once more than the silence time has passed.
        const auto at = entry.lastHeard + silence(tag, entry) + Clock::duration(1);
        if (!next || at < *next) next = at;
    }
    return next;
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

bool TagTable::available(int tag, const Entry &entry, Clock::time_point now) const {
    return now - entry.lastHeard <= silence(tag, entry);
}

bool TagTable::available(int tag, Clock::time_point now) const {
    const Entry *entry = find(tag);
    return entry != nullptr && available(tag, *entry, now);
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
