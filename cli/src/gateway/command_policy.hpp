// Which commands from the broker the gateway runs (--commands), and how fast it lets them
// make the radio send. A gateway is one client among many on a broker; by default it only
// reads (station, read), so that no other client can move a base station to another channel,
// write parameters or flood the radio without the operator's say-so.
#pragma once

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace lyx::cli {

class CommandPolicy {
  public:
    // "none", "read" (station, read), "control" (read, and sleep, pause, wake, stay-awake,
    // forget), "all", or a comma-separated list of command names and of those words. Raises
    // UsageError naming what is wrong.
    static CommandPolicy parse(std::string_view text);
    static CommandPolicy defaults() { return parse("read"); }

    bool allows(std::string_view command) const { return allowed_.count(std::string(command)); }
    // The commands allowed, in the documentation's order, comma-separated; "none" for none.
    std::string describe() const;
    // The reply's message for a command refused: what is allowed and how to allow more.
    std::string refusal(std::string_view command) const;

  private:
    std::set<std::string, std::less<>> allowed_;
};

// A token bucket: up to `burst` at once, refilled at `perSecond`. Not thread-safe.
class RateLimit {
  public:
    using Clock = std::chrono::steady_clock;

    RateLimit(double perSecond, double burst) : rate_(perSecond), burst_(burst), tokens_(burst) {}

    // Takes one token at `now`; false (and nothing taken) when none is left.
    bool take(Clock::time_point now);

  private:
    double rate_;
    double burst_;
    double tokens_;
    std::optional<Clock::time_point> last_;
};

}  // namespace lyx::cli
