#include "scheduler.hpp"

namespace lyx::sim {

TimerId DeadlineQueue::add(TimePoint when, Task task) {
    TimerId id = ++lastId_;
    tasks_.emplace(Key{when, id}, std::move(task));
    deadlines_.emplace(id, when);
    return id;
}

void DeadlineQueue::cancel(TimerId id) {
    auto found = deadlines_.find(id);
    if (found == deadlines_.end()) return;
    tasks_.erase(Key{found->second, id});
    deadlines_.erase(found);
}

std::optional<TimePoint> DeadlineQueue::next() const {
    if (tasks_.empty()) return std::nullopt;
    return tasks_.begin()->first.first;
}

std::optional<Task> DeadlineQueue::popDue(TimePoint now) {
    if (tasks_.empty() || tasks_.begin()->first.first > now) return std::nullopt;
    auto first = tasks_.begin();
    Task task = std::move(first->second);
    deadlines_.erase(first->first.second);
    tasks_.erase(first);
    return task;
}

}  // namespace lyx::sim
