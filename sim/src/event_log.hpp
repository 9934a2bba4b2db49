// The simulator's bounded event history, shared between the simulator thread
// (which adds) and any thread that reads or waits.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "lyx/sim/events.hpp"

namespace lyx::sim {

class EventLog {
  public:
    explicit EventLog(std::size_t capacity = 10000) : capacity_(capacity) {}

    // Numbers the event and keeps it; the oldest go beyond the capacity.
    const Event &add(Event event);
    std::vector<Event> after(std::uint64_t sequence) const;
    std::optional<Event> waitFor(const std::function<bool(const Event &)> &match,
                                 std::chrono::milliseconds timeout, std::uint64_t after) const;
    std::uint64_t last() const;

  private:
    const std::size_t capacity_;
    mutable std::mutex lock_;
    mutable std::condition_variable added_;
    std::deque<Event> events_;
    std::uint64_t last_ = 0;
};

}  // namespace lyx::sim
