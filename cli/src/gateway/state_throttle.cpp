#include "state_throttle.hpp"

namespace lyx::cli {

bool StateThrottle::offer(const std::string &topic, std::string payload, Clock::time_point now) {
    auto [it, first] = entries_.try_emplace(topic);
    Entry &entry = it->second;
    entry.latest = std::move(payload);
    if (first || (!entry.pending && now - entry.published >= interval_)) {
        entry.published = now;
        return true;
    }
    if (!entry.pending) {
        entry.pending = true;
        due_.emplace(entry.published + interval_, topic);
    }
    return false;
}

std::vector<StateThrottle::State> StateThrottle::takeDue(Clock::time_point now, std::size_t most) {
    std::vector<State> out;
    while (!due_.empty() && due_.begin()->first <= now && out.size() < most) {
        Entry &entry = entries_.at(due_.begin()->second);
        entry.pending = false;
        entry.published = now;
        out.push_back({due_.begin()->second, entry.latest});
        due_.erase(due_.begin());
    }
    return out;
}

std::optional<StateThrottle::Clock::time_point> StateThrottle::nextDue() const {
    if (due_.empty()) return std::nullopt;
    return due_.begin()->first;
}

std::vector<StateThrottle::State> StateThrottle::takeAll(Clock::time_point now) {
    std::vector<State> out;
    out.reserve(entries_.size());
    for (auto &[topic, entry] : entries_) {
        entry.pending = false;
        entry.published = now;
        out.push_back({topic, entry.latest});
    }
    due_.clear();
    return out;
}

void StateThrottle::forget(const std::string &topic) {
    if (entries_.erase(topic) == 0) return;
    std::erase_if(due_, [&](const auto &entry) { return entry.second == topic; });
}

}  // namespace lyx::cli
