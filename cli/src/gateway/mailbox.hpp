// Items handed from one thread to another, in order. The receiving thread's
// poll() loop waits on fd(), which is readable while items wait.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <utility>

#include "event_flag.hpp"

namespace lyx::cli {

template <typename T>
class Mailbox {
  public:
    int fd() const { return flag_.fd(); }

    void post(T item) {
        std::lock_guard lock(mutex_);
        if (items_.empty()) flag_.raise();
        items_.push_back(std::move(item));
    }

    std::optional<T> take() {
        std::lock_guard lock(mutex_);
        if (items_.empty()) return std::nullopt;
        T item = std::move(items_.front());
        items_.pop_front();
        if (items_.empty()) flag_.clear();
        return item;
    }

    std::deque<T> takeAll() {
        std::lock_guard lock(mutex_);
        flag_.clear();
        return std::exchange(items_, {});
    }

    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return items_.size();
    }

  private:
    mutable std::mutex mutex_;
    std::deque<T> items_;
    EventFlag flag_;
};

}  // namespace lyx::cli
