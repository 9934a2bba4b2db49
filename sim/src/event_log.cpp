#include "event_log.hpp"

namespace lyx::sim {

const Event &EventLog::add(Event event) {
    std::lock_guard guard(lock_);
    event.sequence = ++last_;
    events_.push_back(std::move(event));
    if (events_.size() > capacity_) events_.pop_front();
    added_.notify_all();
    return events_.back();
}

std::vector<Event> EventLog::after(std::uint64_t sequence) const {
    std::lock_guard guard(lock_);
    std::vector<Event> out;
    for (const auto &e : events_) {
        if (e.sequence > sequence) out.push_back(e);
    }
    return out;
}

std::optional<Event> EventLog::waitFor(const std::function<bool(const Event &)> &match,
                                       std::chrono::milliseconds timeout,
                                       std::uint64_t after) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint64_t checked = after;
    for (;;) {
        // Matched outside the lock, so `match` may call back into the simulator.
        std::vector<Event> fresh;
        {
            std::unique_lock guard(lock_);
            if (!added_.wait_until(guard, deadline, [&] { return last_ > checked; })) {
                return std::nullopt;
            }
            for (const auto &e : events_) {
                if (e.sequence > checked) fresh.push_back(e);
            }
            checked = last_;
        }
        for (const auto &e : fresh) {
            if (match(e)) return e;
        }
    }
}

std::uint64_t EventLog::last() const {
    std::lock_guard guard(lock_);
    return last_;
}

}  // namespace lyx::sim
