#include "event_loop.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <vector>

namespace lyx::sim {

EventLoop::EventLoop() {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::promise<void> started;
    auto ready = started.get_future();
    thread_ = std::jthread([this, &started](std::stop_token stop) {
        loopThread_ = std::this_thread::get_id();
        started.set_value();
        run(stop);
    });
    ready.wait();
}

EventLoop::~EventLoop() {
    stop();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void EventLoop::stop() {
    {
        std::lock_guard guard(lock_);
        if (stopped_) return;
        stopped_ = true;
    }
    thread_.request_stop();
    wake();
    if (thread_.joinable() && !onLoopThread()) thread_.join();
    std::lock_guard guard(lock_);
    posted_.clear();
}

void EventLoop::wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

TimerId EventLoop::at(TimePoint when, Task task) {
    TimerId id;
    bool earliest;
    {
        std::lock_guard guard(lock_);
        id = timers_.add(when, std::move(task));
        earliest = timers_.next() == when;
    }
    // The loop sleeps until its earliest deadline; a new earliest one wakes it.
    if (earliest && !onLoopThread()) wake();
    return id;
}

void EventLoop::cancel(TimerId id) {
    std::lock_guard guard(lock_);
    timers_.cancel(id);
}

bool EventLoop::post(Task task) {
    {
        std::lock_guard guard(lock_);
        if (stopped_) return false;
        posted_.push_back(std::move(task));
    }
    if (!onLoopThread()) wake();
    return true;
}

void EventLoop::watch(int fd, std::function<void()> onReadable) {
    watched_[fd] = std::move(onReadable);
}

void EventLoop::unwatch(int fd) {
    watched_.erase(fd);
}

void EventLoop::run(std::stop_token stop) {
    std::vector<pollfd> fds;
    while (!stop.stop_requested()) {
        // Posted tasks first, then every timer that is due.
        for (;;) {
            Task task;
            {
                std::lock_guard guard(lock_);
                if (posted_.empty()) break;
                task = std::move(posted_.front());
                posted_.pop_front();
            }
            task();
        }
        // Timers due when this round began: one that sets itself again for
        // "now" runs in the next round, after the tasks posted meanwhile.
        std::optional<TimePoint> next;
        const TimePoint round = Clock::now();
        for (;;) {
            std::optional<Task> due;
            {
                std::lock_guard guard(lock_);
                due = timers_.popDue(round);
                if (!due) {
                    next = timers_.next();
                    break;
                }
            }
            (*due)();
        }
        {
            std::lock_guard guard(lock_);
            if (!posted_.empty()) continue;
        }

        fds.assign(1, pollfd{wakeFd_, POLLIN, 0});
        for (const auto &[fd, handler] : watched_)
            fds.push_back({fd, POLLIN, 0});
        timespec timeout{};
        timespec *limit = nullptr;
        if (next) {
            auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(*next - Clock::now());
            if (left.count() < 0) left = std::chrono::nanoseconds(0);
            timeout.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
            limit = &timeout;
        }
        int n = ::ppoll(fds.data(), fds.size(), limit, nullptr);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents != 0) {
            std::uint64_t count;
            [[maybe_unused]] ssize_t r = ::read(wakeFd_, &count, sizeof count);
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            // A handler may unwatch descriptors, its own included.
            auto found = watched_.find(fds[i].fd);
            if (found == watched_.end()) continue;
            auto handler = found->second;
            handler();
        }
    }
}

}  // namespace lyx::sim
