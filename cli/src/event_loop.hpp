// The tool's one event loop: the thread's message queue (packets from the
// component arrive through it), SIGINT/SIGTERM through a signalfd, periodic
// timers through timerfds, and any other descriptor a subcommand adds. It waits
// in poll(); nothing is polled on a timer.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <vector>

namespace lyx::cli {

class EventLoop {
  public:
    // Blocks SIGINT and SIGTERM in the calling thread (so they reach the loop
    // instead of ending the process) and watches the thread's message queue.
    EventLoop();
    ~EventLoop();
    EventLoop(const EventLoop &) = delete;
    EventLoop &operator=(const EventLoop &) = delete;

    // `handler` runs whenever `fd` is readable.
    void watch(int fd, std::function<void()> handler);
    // `handler` runs every `period`, first after one period.
    void every(std::chrono::milliseconds period, std::function<void()> handler);
    // The loop ends after `after`, when a signal arrives or when stop() is called.
    void stopAfter(std::chrono::milliseconds after);
    void stop() { running_ = false; }

    // Runs until stopped; returns the signal that stopped it, or 0.
    int run();
    // Dispatches what waits and returns without blocking.
    void pumpOnce();
    bool signalled() const { return signal_ != 0; }
    // Readable while a stop signal waits for the loop, so that a long wait
    // elsewhere can end on it and leave it to the loop.
    int signalFd() const { return signalFd_; }

  private:
    struct Source {
        int fd;
        bool owned;
        bool timer;
        std::function<void()> handler;
    };
    void dispatch(Source &source);

    std::deque<Source> sources_;  // stable while a handler adds to it
    int signalFd_ = -1;
    int signal_ = 0;
    bool running_ = false;
    bool restoreMask_ = false;
};

}  // namespace lyx::cli
