// The waits between attempts to reach a server that is away: the first wait,
// then twice as long each time up to a cap; back to the first after a success.
#pragma once

#include <algorithm>
#include <chrono>

namespace lyx::cli {

class Backoff {
  public:
    using Duration = std::chrono::milliseconds;

    Backoff(Duration first, Duration most) : first_(first), most_(std::max(first, most)) {}

    Duration next() {
        const Duration wait = next_;
        next_ = std::min(most_, next_ * 2);
        return wait;
    }
    void reset() { next_ = first_; }

  private:
    Duration first_;
    Duration most_;
    Duration next_ = first_;
};

}  // namespace lyx::cli
