// The result of a simulator operation that can fail: success, or a message that
// says what is wrong in words a user can act on.
#pragma once

#include <string>
#include <utility>

namespace lyx::sim {

class [[nodiscard]] Outcome {
  public:
    Outcome() = default;
    static Outcome failure(std::string message) {
        Outcome o;
        o.error_ = message.empty() ? std::string("failed") : std::move(message);
        return o;
    }

    bool ok() const { return error_.empty(); }
    explicit operator bool() const { return ok(); }
    const std::string &error() const { return error_; }

  private:
    std::string error_;
};

}  // namespace lyx::sim
