#include "lyx/platform/clock.hpp"

#include <ctime>

namespace lyx::platform {

std::uint32_t tickCount() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                       static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

double timeOfDay() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    time_t seconds = now.tv_sec;
    ::localtime_r(&seconds, &local);
    return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + now.tv_nsec / 1e9;
}

double monotonicSeconds() {
    return std::chrono::duration<double>(MonotonicClock::now().time_since_epoch()).count();
}

}  // namespace lyx::platform
