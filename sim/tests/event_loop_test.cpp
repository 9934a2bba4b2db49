// The simulator thread: timers in deadline order, tasks from other threads,
// calls that wait for their result, readable descriptors.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <future>
#include <thread>

#include "event_loop.hpp"

using namespace lyx::sim;
using namespace std::chrono_literals;

TEST(EventLoop, TimersRunInDeadlineOrderOnTheLoopThreadAndCancelledOnesDoNot) {
    EventLoop loop;
    std::vector<int> order;  // touched on the loop thread only
    const TimePoint start = loop.now() + 30ms;
    loop.invoke([&] {
        loop.at(start + 20ms, [&] { order.push_back(3); });
        loop.at(start, [&] { order.push_back(1); });
        TimerId never = loop.at(start + 10ms, [&] { order.push_back(99); });
        loop.at(start + 10ms, [&] { order.push_back(2); });
        loop.cancel(never);
        return 0;
    });
    std::promise<void> done;
    loop.at(start + 30ms, [&] { done.set_value(); });  // from this thread: wakes the loop
    ASSERT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
    EXPECT_EQ(loop.invoke([&] { return order; }), (std::vector<int>{1, 2, 3}));
}

TEST(EventLoop, InvokeFromManyThreadsRunsEachTaskOnceOnTheLoopThread) {
    EventLoop loop;
    int counter = 0;  // loop thread only
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 250; ++i) {
                bool onLoop = loop.invoke([&] {
                    ++counter;
                    return loop.onLoopThread();
                });
                EXPECT_TRUE(onLoop);
            }
        });
    }
    threads.clear();
    EXPECT_EQ(loop.invoke([&] { return counter; }), 1000);
    // Inside a loop task, invoke runs at once instead of waiting for itself.
    EXPECT_EQ(loop.invoke([&] { return loop.invoke([] { return 7; }); }), 7);
}

TEST(EventLoop, ATimerThatSetsItselfAgainAtOnceLetsPostedTasksRun) {
    EventLoop loop;
    std::atomic<bool> stop{false};
    std::atomic<int> turns{0};
    std::function<void()> again = [&] {
        ++turns;
        if (!stop) loop.at(loop.now(), again);
    };
    loop.invoke([&] { return loop.at(loop.now(), again); });
    auto answer = std::async(std::launch::async, [&] { return loop.invoke([&] { return 1; }); });
    const bool answered = answer.wait_for(5s) == std::future_status::ready;
    stop = true;  // lets the loop go on if it was stuck in the timers
    EXPECT_TRUE(answered);
    EXPECT_EQ(answer.get(), 1);
    loop.stop();  // before `again`, which its timers use, goes
    EXPECT_GT(turns.load(), 0);
}

TEST(EventLoop, ReadableDescriptorRunsItsHandlerUntilUnwatched) {
    EventLoop loop;
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    int seen = 0;  // loop thread only
    std::promise<void> both;
    loop.invoke([&] {
        loop.watch(pipe[0], [&] {
            char c;
            if (::read(pipe[0], &c, 1) == 1) seen += c;
            if (seen == 12) both.set_value();
        });
        return 0;
    });
    ASSERT_EQ(::write(pipe[1], "\x05", 1), 1);
    ASSERT_EQ(::write(pipe[1], "\x07", 1), 1);
    ASSERT_EQ(both.get_future().wait_for(5s), std::future_status::ready);
    loop.invoke([&] {
        loop.unwatch(pipe[0]);
        return 0;
    });
    ::close(pipe[0]);
    ::close(pipe[1]);
}

TEST(EventLoop, AfterStopPostIsRefusedAndInvokeRunsInPlace) {
    EventLoop loop;
    loop.stop();
    EXPECT_FALSE(loop.post([] {}));
    EXPECT_EQ(loop.invoke([] { return 3; }), 3);
}
