#include "tag_tracker.hpp"

#include "table_view.hpp"

namespace lyx::cli {

TagTracker::TagTracker(tags::TagNames names, tags::TagTable::Silence silence)
    : names_(std::move(names)), silence_(silence) {}

const tags::TagInfo &TagTracker::info(int tag) const {
    static const tags::TagInfo none;
    const auto it = names_.find(tag);
    return it == names_.end() ? none : it->second;
}

void TagTracker::heard(const std::string &station, const Packet &p, Clock::time_point when) {
    std::lock_guard guard(lock_);
    // The silences up to this packet first, so that a "back" always follows its "gone".
    sweep(when);
    auto [it, added] = stations_.try_emplace(station, Station{p.station, tags::TagTable(silence_)});
    Station &s = it->second;
    if (added) tags::describeAll(s.table, names_);
    s.number = p.station;
    const tags::TagTable::Entry *before = s.table.find(p.tag);
    const Clock::time_point lastHeard = before != nullptr ? before->lastHeard : when;
    const auto timeout = before != nullptr ? s.table.silence(p.tag, *before) : silence_.least;
    const auto arrival = s.table.add(readingOf(p), when);
    ++version_;
    if (arrival == tags::TagTable::Arrival::Heard) return;
    push({arrival == tags::TagTable::Arrival::Joined ? Event::Kind::Joined : Event::Kind::Back,
          station, p.station, p.tag, when, lastHeard, timeout});
}

void TagTracker::sweep(Clock::time_point now) {
    for (auto &[level, s] : stations_) {
        for (int tag : s.table.sweep(now)) {
            const tags::TagTable::Entry &entry = *s.table.find(tag);
            const auto timeout = s.table.silence(tag, entry);
            push({Event::Kind::Gone, level, s.number, tag, entry.lastHeard + timeout,
                  entry.lastHeard, timeout});
            ++version_;
        }
    }
}

void TagTracker::push(Event event) {
    if (events_.size() >= kMostEvents) {
        events_.pop_front();
        ++eventsLost_;
    }
    events_.push_back(std::move(event));
    flag_.raise();
}

std::vector<TagTracker::Event> TagTracker::takeEvents(Clock::time_point now) {
    std::lock_guard guard(lock_);
    sweep(now);
    flag_.clear();
    std::vector<Event> out(std::make_move_iterator(events_.begin()),
                           std::make_move_iterator(events_.end()));
    events_.clear();
    return out;
}

std::optional<TagTracker::Clock::time_point> TagTracker::nextSilence() const {
    std::lock_guard guard(lock_);
    std::optional<Clock::time_point> next;
    for (const auto &[level, s] : stations_)
        if (const auto at = s.table.nextSilence(); at && (!next || *at < *next)) next = at;
    return next;
}

std::uint64_t TagTracker::eventsLost() const {
    std::lock_guard guard(lock_);
    return eventsLost_;
}

std::vector<TagTracker::Module> TagTracker::modules(Clock::time_point now) const {
    std::lock_guard guard(lock_);
    std::vector<Module> out;
    for (const auto &[level, s] : stations_) {
        for (const auto &[tag, entry] : s.table) {
            out.push_back({level, entry.last.station, tag, entry.last.value, entry.lastHeard,
                           entry.packets, !entry.gone() && s.table.available(tag, entry, now),
                           s.table.silence(tag, entry)});
        }
    }
    return out;
}

std::uint64_t TagTracker::version() const {
    std::lock_guard guard(lock_);
    return version_;
}

std::vector<std::string> TagTracker::forget(int tag, const std::string &station) {
    std::lock_guard guard(lock_);
    std::vector<std::string> levels;
    for (auto &[level, s] : stations_) {
        if (!station.empty() && level != station) continue;
        if (s.table.forget(tag)) levels.push_back(level);
    }
    // What waits about it is no longer true.
    std::erase_if(events_, [&](const Event &e) {
        return e.tag == tag && (station.empty() || e.station == station);
    });
    if (!levels.empty()) ++version_;
    return levels;
}

}  // namespace lyx::cli
