// The retained state topics: each holds the latest reading of one tag and is
// published at most once per interval. A reading that comes too soon waits,
// replaced by any later one, until the interval has passed, so the last
// reading of a burst is always published.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace lyx::cli {

class StateThrottle {
  public:
    using Clock = std::chrono::steady_clock;

    struct State {
        std::string topic;
        std::string payload;
    };

    explicit StateThrottle(std::chrono::milliseconds interval) : interval_(interval) {}

    // The latest reading of `topic`. True: publish it now (it counts as
    // published at `now`). False: it waits as the topic's pending reading.
    bool offer(const std::string &topic, std::string payload, Clock::time_point now);

    // Up to `most` pending readings whose interval has passed, oldest first;
    // each counts as published at `now`.
    std::vector<State> takeDue(Clock::time_point now, std::size_t most);
    // When the next pending reading falls due; nothing when none waits.
    std::optional<Clock::time_point> nextDue() const;

    // The latest reading of every topic, for a broker that may have lost its
    // retained messages; nothing waits afterwards.
    std::vector<State> takeAll(Clock::time_point now);

    // Drops `topic` and what waits for it (its tag was forgotten).
    void forget(const std::string &topic);

  private:
    struct Entry {
        std::string latest;
        Clock::time_point published;
        bool pending = false;
    };
    std::chrono::milliseconds interval_;
    std::unordered_map<std::string, Entry> entries_;
    std::multimap<Clock::time_point, std::string> due_;  // the pending topics, by when they may go
};

}  // namespace lyx::cli
