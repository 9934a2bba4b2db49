// The simulator thread: runs timers from one deadline queue, tasks posted from
// other threads, and handlers of readable descriptors, all on one thread.
//
// at(), cancel(), post() and invoke() may be called from any thread; watch()
// and unwatch() on the loop thread (or through invoke()).
#pragma once

#include <deque>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "scheduler.hpp"

namespace lyx::sim {

class EventLoop final : public Scheduler {
  public:
    EventLoop();
    ~EventLoop() override;
    EventLoop(const EventLoop &) = delete;
    EventLoop &operator=(const EventLoop &) = delete;

    TimePoint now() const override { return Clock::now(); }
    TimerId at(TimePoint when, Task task) override;
    void cancel(TimerId id) override;

    // Queues `task` to run soon on the loop thread; false once the loop stopped.
    bool post(Task task);
    // Runs `f` on the loop thread and returns its result; runs it directly when
    // called on the loop thread or after the loop stopped.
    template <typename F>
    auto invoke(F &&f) -> decltype(f()) {
        using Result = decltype(f());
        if (onLoopThread()) return f();
        std::packaged_task<Result()> task(std::forward<F>(f));
        auto result = task.get_future();
        if (!post([&task] { task(); })) task();
        return result.get();
    }
    bool onLoopThread() const { return std::this_thread::get_id() == loopThread_; }

    void watch(int fd, std::function<void()> onReadable);
    void unwatch(int fd);

    // Ends the loop thread; tasks still queued are dropped.
    void stop();

  private:
    void run(std::stop_token stop);
    void wake();

    mutable std::mutex lock_;
    DeadlineQueue timers_;
    std::deque<Task> posted_;
    bool stopped_ = false;
    std::map<int, std::function<void()>> watched_;  // loop thread only
    int wakeFd_ = -1;
    std::thread::id loopThread_;
    std::jthread thread_;
};

}  // namespace lyx::sim
