// Thread message queues and windows.
//
// Each thread's queue is a deque guarded by a mutex, plus an eventfd that is
// readable while the deque is not empty (written when the deque goes from empty
// to one message, drained when it becomes empty again). The write comes after
// the mutex is let go, so that the woken owner does not find it still held; the
// owner may then, rarely, wake to an empty queue, and drains the eventfd. A sent
// message carries a SendState through which the owner thread reports the
// handler's result to the waiting sender.

#include "lyx/platform/messages.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace lyx::platform {
namespace {

struct SendState {
    enum class Phase { Pending, Dispatching, Done, Abandoned };
    std::mutex lock;
    std::condition_variable_any finished;
    Phase phase = Phase::Pending;
    std::intptr_t result = 0;
};

// Tells a waiting sender that its message will not be dispatched.
void abandon(SendState &send) {
    std::lock_guard guard(send.lock);
    if (send.phase == SendState::Phase::Pending) send.phase = SendState::Phase::Abandoned;
    send.finished.notify_all();
}

struct Window {
    WindowHandle handle = 0;
    std::string title;
    MessageHandler handler;
    std::int32_t ownerThread = 0;
    std::weak_ptr<class ThreadQueue> owner;
    std::atomic<bool> alive{true};
};

struct Message {
    std::shared_ptr<Window> window;
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::shared_ptr<SendState> send;  // null for a posted message
};

class ThreadQueue {
  public:
    ThreadQueue(int eventFd, std::int32_t thread) : fd_(eventFd), thread_(thread) {}
    ~ThreadQueue() { ::close(fd_); }
    ThreadQueue(const ThreadQueue &) = delete;
    ThreadQueue &operator=(const ThreadQueue &) = delete;

    int fd() const { return fd_; }
    std::int32_t thread() const { return thread_; }

    // False once the owner thread has ended.
    bool push(Message message) {
        bool first = false;
        {
            std::lock_guard guard(lock_);
            if (closed_) return false;
            queue_.push_back(std::move(message));
            first = queue_.size() == 1;
        }
        if (first) signal();
        return true;
    }

    // Drains the eventfd of a wake that found nothing: its message was taken
    // before the push that wrote it had signalled.
    void settle() {
        std::lock_guard guard(lock_);
        if (queue_.empty()) drain();
    }

    std::optional<Message> pop() {
        std::lock_guard guard(lock_);
        if (queue_.empty()) return std::nullopt;
        Message message = std::move(queue_.front());
        queue_.pop_front();
        if (queue_.empty()) drain();
        return message;
    }

    std::size_t size() {
        std::lock_guard guard(lock_);
        return queue_.size();
    }

    // Removes and returns the waiting messages that `select` picks.
    template <class Select>
    std::vector<Message> take(Select select) {
        std::vector<Message> taken;
        std::lock_guard guard(lock_);
        for (auto it = queue_.begin(); it != queue_.end();) {
            if (select(*it)) {
                taken.push_back(std::move(*it));
                it = queue_.erase(it);
            } else {
                ++it;
            }
        }
        if (!taken.empty() && queue_.empty()) drain();
        return taken;
    }

    // Refuses further messages and returns those still waiting.
    std::vector<Message> close() {
        {
            std::lock_guard guard(lock_);
            closed_ = true;
        }
        return take([](const Message &) { return true; });
    }

  private:
    void signal() {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
    }
    void drain() {
        std::uint64_t value;
        [[maybe_unused]] ssize_t n = ::read(fd_, &value, sizeof value);
    }

    const int fd_;
    const std::int32_t thread_;
    std::mutex lock_;
    std::deque<Message> queue_;
    bool closed_ = false;
};

// All windows of the process, in creation order. Never destroyed, so threads
// that end during process shutdown can still unregister their windows.
class WindowTable {
  public:
    WindowHandle add(std::shared_ptr<Window> window) {
        std::lock_guard guard(lock_);
        window->handle = next_++;
        WindowHandle handle = window->handle;
        windows_.emplace(handle, std::move(window));
        return handle;
    }

    std::shared_ptr<Window> remove(WindowHandle handle) {
        std::lock_guard guard(lock_);
        auto it = windows_.find(handle);
        if (it == windows_.end()) return nullptr;
        auto window = std::move(it->second);
        windows_.erase(it);
        return window;
    }

    std::shared_ptr<Window> find(WindowHandle handle) {
        std::lock_guard guard(lock_);
        auto it = windows_.find(handle);
        return it == windows_.end() ? nullptr : it->second;
    }

    WindowHandle findTitle(std::string_view title) {
        std::lock_guard guard(lock_);
        for (const auto &[handle, window] : windows_) {
            if (window->title == title) return handle;
        }
        return 0;
    }

    std::vector<std::shared_ptr<Window>> removeOwnedBy(std::int32_t thread) {
        std::vector<std::shared_ptr<Window>> removed;
        std::lock_guard guard(lock_);
        for (auto it = windows_.begin(); it != windows_.end();) {
            if (it->second->ownerThread == thread) {
                removed.push_back(std::move(it->second));
                it = windows_.erase(it);
            } else {
                ++it;
            }
        }
        return removed;
    }

  private:
    std::mutex lock_;
    std::map<WindowHandle, std::shared_ptr<Window>> windows_;
    WindowHandle next_ = 0x10000;
};

WindowTable &windowTable() {
    static auto *table = new WindowTable;
    return *table;
}

// The calling thread's queue, made on first use; at thread end its windows are
// destroyed and the senders still waiting on it are released.
class ThreadSlot {
  public:
    ThreadSlot() = default;
    ThreadSlot(const ThreadSlot &) = delete;
    ThreadSlot &operator=(const ThreadSlot &) = delete;
    ~ThreadSlot() {
        if (!queue_) return;
        for (auto &window : windowTable().removeOwnedBy(queue_->thread()))
            window->alive = false;
        for (auto &message : queue_->close()) {
            if (message.send) abandon(*message.send);
        }
    }

    ThreadQueue *get(bool create) {
        if (!queue_ && create) {
            int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
            if (fd < 0) return nullptr;
            queue_ = std::make_shared<ThreadQueue>(fd, currentThreadId());
        }
        return queue_.get();
    }

    std::shared_ptr<ThreadQueue> shared() const { return queue_; }

  private:
    std::shared_ptr<ThreadQueue> queue_;
};

thread_local ThreadSlot threadSlot;

std::intptr_t callHandler(Window &window, std::uint32_t message, std::uintptr_t wParam,
                          std::intptr_t lParam) {
    try {
        return window.handler(window.handle, message, wParam, lParam);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "LyxPlatform: window \"%s\" message 0x%x failed: %s\n",
                     window.title.c_str(), message, e.what());
    } catch (...) {
        std::fprintf(stderr, "LyxPlatform: window \"%s\" message 0x%x failed\n",
                     window.title.c_str(), message);
    }
    return 0;
}

// Runs one queued message; false when it was given up or its window is gone.
bool dispatch(Message &message) {
    if (message.send) {
        std::lock_guard guard(message.send->lock);
        if (message.send->phase != SendState::Phase::Pending) return false;
        message.send->phase = SendState::Phase::Dispatching;
    }
    if (!message.window->alive) {
        if (message.send) {
            std::lock_guard guard(message.send->lock);
            message.send->phase = SendState::Phase::Abandoned;
            message.send->finished.notify_all();
        }
        return false;
    }
    std::intptr_t result =
        callHandler(*message.window, message.message, message.wParam, message.lParam);
    if (message.send) {
        std::lock_guard guard(message.send->lock);
        message.send->result = result;
        message.send->phase = SendState::Phase::Done;
        message.send->finished.notify_all();
    }
    return true;
}

}  // namespace

std::int32_t currentThreadId() {
    return static_cast<std::int32_t>(::gettid());
}

WindowHandle createWindow(std::string title, MessageHandler handler) {
    if (threadSlot.get(true) == nullptr) return 0;
    auto window = std::make_shared<Window>();
    window->title = std::move(title);
    window->handler = std::move(handler);
    window->ownerThread = currentThreadId();
    window->owner = threadSlot.shared();
    return windowTable().add(std::move(window));
}

bool destroyWindow(WindowHandle handle) {
    auto window = windowTable().remove(handle);
    if (!window) return false;
    window->alive = false;
    if (auto owner = window->owner.lock()) {
        auto dropped = owner->take([&](const Message &m) { return m.window == window; });
        for (auto &message : dropped) {
            if (message.send) abandon(*message.send);
        }
    }
    return true;
}

bool isWindow(WindowHandle handle) {
    return windowTable().find(handle) != nullptr;
}

WindowHandle findWindow(std::string_view title) {
    return windowTable().findTitle(title);
}

std::int32_t windowThreadId(WindowHandle handle) {
    auto window = windowTable().find(handle);
    return window ? window->ownerThread : 0;
}

std::optional<std::intptr_t> sendMessage(WindowHandle handle, std::uint32_t message,
                                         std::uintptr_t wParam, std::intptr_t lParam,
                                         std::stop_token stop) {
    auto window = windowTable().find(handle);
    if (!window || !window->alive) return std::nullopt;
    if (window->ownerThread == currentThreadId()) {
        return callHandler(*window, message, wParam, lParam);
    }
    auto owner = window->owner.lock();
    if (!owner) return std::nullopt;

    auto send = std::make_shared<SendState>();
    if (!owner->push(Message{window, message, wParam, lParam, send})) return std::nullopt;
    // A window destroyed between the look-up and the push has not seen this
    // message; take it back here.
    if (!window->alive) {
        owner->take([&](const Message &m) { return m.send == send; });
        return std::nullopt;
    }

    std::unique_lock guard(send->lock);
    send->finished.wait(guard, stop, [&] {
        return send->phase == SendState::Phase::Done || send->phase == SendState::Phase::Abandoned;
    });
    switch (send->phase) {
        case SendState::Phase::Done:
            return send->result;
        case SendState::Phase::Pending:
            // Stopped before dispatch: the message must never run.
            send->phase = SendState::Phase::Abandoned;
            guard.unlock();
            owner->take([&](const Message &m) { return m.send == send; });
            return std::nullopt;
        default:
            // Abandoned, or stopped while the handler runs (the handler may be
            // the very code that stops this sender, so it is not waited for).
            return std::nullopt;
    }
}

bool postMessage(WindowHandle handle, std::uint32_t message, std::uintptr_t wParam,
                 std::intptr_t lParam) {
    auto window = windowTable().find(handle);
    if (!window || !window->alive) return false;
    auto owner = window->owner.lock();
    return owner && owner->push(Message{window, message, wParam, lParam, nullptr});
}

int messageFd() {
    ThreadQueue *queue = threadSlot.get(true);
    return queue != nullptr ? queue->fd() : -1;
}

int pumpMessages() {
    ThreadQueue *queue = threadSlot.get(false);
    if (queue == nullptr) return 0;
    int dispatched = 0;
    std::size_t waiting = queue->size();
    if (waiting == 0) queue->settle();
    for (; waiting > 0; --waiting) {
        auto message = queue->pop();
        if (!message) break;
        if (dispatch(*message)) ++dispatched;
    }
    return dispatched;
}

bool waitForMessages(int timeoutMs) {
    int fd = messageFd();
    if (fd < 0) return false;
    pollfd p{fd, POLLIN, 0};
    int n;
    do {
        n = ::poll(&p, 1, timeoutMs);
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

}  // namespace lyx::platform

extern "C" int LyxMessageFd(void) {
    return lyx::platform::messageFd();
}
extern "C" int LyxPumpMessages(void) {
    return lyx::platform::pumpMessages();
}
