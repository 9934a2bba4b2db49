#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <thread>
#include <vector>

#include "lyx/platform/messages.hpp"

using namespace lyx::platform;
using namespace std::chrono_literals;

namespace {

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

// A thread that owns one window and pumps only when asked to.
class Owner {
  public:
    explicit Owner(MessageHandler handler, std::string title = "owner") {
        thread_ = std::jthread([this, handler = std::move(handler), title](std::stop_token st) {
            window_ = createWindow(title, handler);
            tid_ = currentThreadId();
            ready_.count_down();
            while (!st.stop_requested()) {
                int want = pumpRequests_.load();
                if (want > 0) {
                    pumped_ += pumpMessages();
                    pumpRequests_ -= 1;
                    pumpRequests_.notify_all();
                }
                pumpRequests_.wait(0);
            }
            if (destroyOnExit_) destroyWindow(window_);
        });
        ready_.wait();
    }
    ~Owner() { stop(); }

    void stop() {
        if (!thread_.joinable()) return;
        thread_.request_stop();
        pumpRequests_ = -1;
        pumpRequests_.notify_all();
        thread_.join();
    }
    // Asks the owner thread to pump once and waits until it has.
    void pump() {
        pumpRequests_ += 1;
        pumpRequests_.notify_all();
        while (int v = pumpRequests_.load())
            pumpRequests_.wait(v);
    }
    WindowHandle window() const { return window_; }
    std::int32_t tid() const { return tid_; }
    int pumped() const { return pumped_; }
    bool destroyOnExit_ = false;

  private:
    std::latch ready_{1};
    std::atomic<int> pumpRequests_{0};
    std::atomic<int> pumped_{0};
    WindowHandle window_ = 0;
    std::int32_t tid_ = 0;
    std::jthread thread_;
};

}  // namespace

TEST(Messages, SendFromOwnerThreadCallsHandlerDirectly) {
    int calls = 0;
    WindowHandle w = createWindow(
        "direct",
        [&](WindowHandle h, std::uint32_t m, std::uintptr_t wp, std::intptr_t lp) -> std::intptr_t {
            ++calls;
            EXPECT_EQ(m, 0x720u);
            return static_cast<std::intptr_t>(wp) + lp + (h != 0);
        });
    ASSERT_NE(w, 0);
    auto result = sendMessage(w, 0x720, 40, 1);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, 42);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(pumpMessages(), 0);
    EXPECT_TRUE(destroyWindow(w));
}

TEST(Messages, CrossThreadSendWaitsForOwnerDispatch) {
    std::atomic<std::int32_t> handledOn{0};
    Owner owner([&](WindowHandle, std::uint32_t, std::uintptr_t wp, std::intptr_t) {
        handledOn = currentThreadId();
        return static_cast<std::intptr_t>(wp * 2);
    });
    auto result =
        std::async(std::launch::async, [&] { return sendMessage(owner.window(), 1, 21, 0); });
    EXPECT_EQ(result.wait_for(50ms), std::future_status::timeout) << "returned before dispatch";
    owner.pump();
    ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
    auto value = result.get();
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(*value, 42);
    EXPECT_EQ(handledOn.load(), owner.tid());
    EXPECT_EQ(windowThreadId(owner.window()), owner.tid());
}

TEST(Messages, MessageFdIsReadableExactlyWhileMessagesWait) {
    int calls = 0;
    WindowHandle w =
        createWindow("fd", [&](WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) {
            ++calls;
            return std::intptr_t{0};
        });
    int fd = LyxMessageFd();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fd, LyxMessageFd());
    EXPECT_FALSE(readable(fd));
    ASSERT_TRUE(postMessage(w, 1, 0, 0));
    ASSERT_TRUE(postMessage(w, 2, 0, 0));
    EXPECT_TRUE(readable(fd));
    EXPECT_EQ(LyxPumpMessages(), 2);
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(readable(fd));
    // A poster signals after letting go of the queue, so a wake may find its
    // message already taken: that pump settles the descriptor instead of
    // leaving it readable for ever (a loop that would spin).
    std::uint64_t late = 1;
    ASSERT_EQ(::write(fd, &late, sizeof late), static_cast<ssize_t>(sizeof late));
    EXPECT_EQ(LyxPumpMessages(), 0);
    EXPECT_FALSE(readable(fd));
    destroyWindow(w);
}

TEST(Messages, PumpDispatchesOnlyWhatWaitedWhenCalled) {
    std::vector<std::uint32_t> seen;
    WindowHandle w = 0;
    w = createWindow("repost", [&](WindowHandle h, std::uint32_t m, std::uintptr_t, std::intptr_t) {
        seen.push_back(m);
        if (m == 1) postMessage(h, 2, 0, 0);  // a handler posting again must not loop forever
        return std::intptr_t{0};
    });
    postMessage(w, 1, 0, 0);
    EXPECT_EQ(pumpMessages(), 1);
    EXPECT_TRUE(readable(messageFd()));
    EXPECT_EQ(pumpMessages(), 1);
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{1, 2}));
    EXPECT_FALSE(readable(messageFd()));
    destroyWindow(w);
}

TEST(Messages, PostedMessagesKeepTheirOrder) {
    std::vector<std::uintptr_t> seen;
    WindowHandle w =
        createWindow("order", [&](WindowHandle, std::uint32_t, std::uintptr_t wp, std::intptr_t) {
            seen.push_back(wp);
            return std::intptr_t{0};
        });
    std::jthread poster([&] {
        for (std::uintptr_t i = 0; i < 100; ++i)
            postMessage(w, 5, i, 0);
    });
    poster.join();
    EXPECT_EQ(pumpMessages(), 100);
    ASSERT_EQ(seen.size(), 100u);
    for (std::uintptr_t i = 0; i < 100; ++i)
        EXPECT_EQ(seen[i], i);
    destroyWindow(w);
}

TEST(Messages, WindowsAreFoundByTitleUntilDestroyed) {
    auto handler = [](WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) {
        return std::intptr_t{0};
    };
    WindowHandle a = createWindow("LyxDrv 1234- 1", handler);
    WindowHandle b = createWindow("LyxDrv 1234- 2", handler);
    EXPECT_EQ(findWindow("LyxDrv 1234- 1"), a);
    EXPECT_EQ(findWindow("LyxDrv 1234- 2"), b);
    EXPECT_EQ(findWindow("LyxDrv 1234-1"), 0);
    EXPECT_TRUE(isWindow(a));
    EXPECT_TRUE(destroyWindow(a));
    EXPECT_FALSE(destroyWindow(a));
    EXPECT_FALSE(isWindow(a));
    EXPECT_EQ(findWindow("LyxDrv 1234- 1"), 0);
    EXPECT_FALSE(postMessage(a, 1, 0, 0));
    EXPECT_FALSE(sendMessage(a, 1, 0, 0).has_value());
    destroyWindow(b);
}

TEST(Messages, SenderGivesUpWhenStoppedAndTheMessageNeverRuns) {
    std::atomic<int> calls{0};
    Owner owner([&](WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) {
        ++calls;
        return std::intptr_t{1};
    });
    std::stop_source stop;
    auto result = std::async(
        std::launch::async, [&] { return sendMessage(owner.window(), 1, 0, 0, stop.get_token()); });
    EXPECT_EQ(result.wait_for(30ms), std::future_status::timeout);
    stop.request_stop();
    ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(result.get().has_value());
    owner.pump();
    EXPECT_EQ(calls.load(), 0);
    EXPECT_EQ(owner.pumped(), 0);
}

TEST(Messages, SenderGivesUpWhenTheWindowIsDestroyed) {
    std::atomic<int> calls{0};
    Owner owner([&](WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) {
        ++calls;
        return std::intptr_t{1};
    });
    auto result =
        std::async(std::launch::async, [&] { return sendMessage(owner.window(), 1, 0, 0); });
    EXPECT_EQ(result.wait_for(30ms), std::future_status::timeout);
    EXPECT_TRUE(destroyWindow(owner.window()));
    ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(result.get().has_value());
    owner.pump();
    EXPECT_EQ(calls.load(), 0);
}

TEST(Messages, OwnerThreadEndingDestroysItsWindowsAndReleasesSenders) {
    auto owner = std::make_unique<Owner>(
        [](WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) { return std::intptr_t{1}; },
        "ends");
    WindowHandle w = owner->window();
    auto result = std::async(std::launch::async, [&] { return sendMessage(w, 1, 0, 0); });
    EXPECT_EQ(result.wait_for(30ms), std::future_status::timeout);
    owner.reset();
    ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(result.get().has_value());
    EXPECT_FALSE(isWindow(w));
    EXPECT_EQ(findWindow("ends"), 0);
}

TEST(Messages, HandlerMaySendToAnotherThreadWhileDispatching) {
    Owner inner([](WindowHandle, std::uint32_t, std::uintptr_t wp, std::intptr_t) {
        return static_cast<std::intptr_t>(wp + 1);
    });
    std::jthread pumper([&](std::stop_token st) {
        while (!st.stop_requested()) {
            inner.pump();
            std::this_thread::yield();
        }
    });
    WindowHandle outer =
        createWindow("outer", [&](WindowHandle, std::uint32_t, std::uintptr_t wp, std::intptr_t) {
            return sendMessage(inner.window(), 1, wp, 0).value_or(-1);
        });
    EXPECT_EQ(sendMessage(outer, 1, 9, 0).value_or(-1), 10);
    destroyWindow(outer);
}

TEST(Messages, ThrowingHandlerDoesNotTakeThePumpDown) {
    WindowHandle w = createWindow(
        "throws",
        [](WindowHandle, std::uint32_t m, std::uintptr_t, std::intptr_t) -> std::intptr_t {
            if (m == 1) throw std::runtime_error("boom");
            return 7;
        });
    testing::internal::CaptureStderr();
    postMessage(w, 1, 0, 0);
    EXPECT_EQ(pumpMessages(), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("boom"), std::string::npos);
    EXPECT_EQ(sendMessage(w, 2, 0, 0).value_or(0), 7);
    destroyWindow(w);
}

TEST(Messages, WaitForMessagesWakesOnPost) {
    WindowHandle w = createWindow("wait", [](WindowHandle, std::uint32_t, std::uintptr_t,
                                             std::intptr_t) { return std::intptr_t{0}; });
    EXPECT_FALSE(waitForMessages(0));
    std::jthread poster([&] { postMessage(w, 1, 0, 0); });
    EXPECT_TRUE(waitForMessages(5000));
    EXPECT_EQ(pumpMessages(), 1);
    destroyWindow(w);
}
