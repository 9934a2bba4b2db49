#include "station_directory.hpp"

#include "mqtt_topics.hpp"

namespace lyx::cli {

std::optional<std::string> StationDirectory::levelFor(int station, Clock::time_point now) {
    Entry &e = entries_[station];
    // Silent since it was last heard, or since its ID was read when it has not
    // been heard yet.
    const auto since = e.heard ? e.lastHeard : e.lastRead;
    const bool wasSilent = !e.level.empty() && now - since >= kSilence;
    e.heard = true;
    e.lastHeard = now;
    if (e.waiting) return std::nullopt;
    if (e.level.empty() || wasSilent || e.expired || (!e.confirmed && now - e.lastRead >= kRetry)) {
        e.waiting = true;
        return std::nullopt;
    }
    return e.level;
}

std::vector<int> StationDirectory::waiting() const {
    std::vector<int> out;
    for (const auto &[number, e] : entries_)
        if (e.waiting) out.push_back(number);
    return out;
}

StationDirectory::Change StationDirectory::record(int station, std::int32_t id,
                                                  Clock::time_point now) {
    Entry &e = entries_[station];
    Change change{e.level, e.level};
    e.lastRead = now;
    if (id != 0) {
        e.level = stationLevel(id);
        e.confirmed = true;
        e.expired = false;
    } else if (e.waiting) {
        e.expired = false;
        // Its packets must go somewhere; the ID is asked for again later.
        if (e.level.empty()) e.level = unnamedStationLevel(station);
        e.confirmed = false;
    }
    e.waiting = false;
    change.after = e.level;
    return change;
}

void StationDirectory::expire(int station) {
    auto found = entries_.find(station);
    if (found != entries_.end()) found->second.expired = true;
}

bool StationDirectory::confirmed(int station) const {
    auto found = entries_.find(station);
    return found != entries_.end() && found->second.confirmed && !found->second.expired;
}

std::optional<int> StationDirectory::numberOf(std::string_view level) const {
    for (const auto &[number, e] : entries_)
        if (!e.level.empty() && e.level == level) return number;
    return std::nullopt;
}

std::map<int, std::string> StationDirectory::levels() const {
    std::map<int, std::string> out;
    for (const auto &[number, e] : entries_)
        if (!e.level.empty()) out[number] = e.level;
    return out;
}

}  // namespace lyx::cli
