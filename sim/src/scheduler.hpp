// Timers for the simulation: one deadline queue instead of a thread per module.
// The real simulator runs it on its event loop; tests drive it in virtual time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>

namespace lyx::sim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Task = std::function<void()>;
using TimerId = std::uint64_t;  // 0 is never a timer

class Scheduler {
  public:
    virtual ~Scheduler() = default;
    virtual TimePoint now() const = 0;
    // Runs `task` at `when` (at once when it has passed) on the simulation thread.
    virtual TimerId at(TimePoint when, Task task) = 0;
    // Forgets a timer that has not run; 0 and unknown IDs are ignored.
    virtual void cancel(TimerId id) = 0;
};

// Timers ordered by deadline, then by the order they were added. Not thread-safe.
class DeadlineQueue {
  public:
    TimerId add(TimePoint when, Task task);
    void cancel(TimerId id);
    std::optional<TimePoint> next() const;
    // Removes and returns the earliest task due at `now`, if any.
    std::optional<Task> popDue(TimePoint now);
    std::size_t size() const { return tasks_.size(); }

  private:
    using Key = std::pair<TimePoint, TimerId>;
    std::map<Key, Task> tasks_;
    std::unordered_map<TimerId, TimePoint> deadlines_;
    TimerId lastId_ = 0;
};

}  // namespace lyx::sim
