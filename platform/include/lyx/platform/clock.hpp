// Clocks: the 32-bit millisecond tick, the local time of day and the monotonic clock.
#pragma once

#include <chrono>
#include <cstdint>

#include "LyxPlatform.h"

namespace lyx::platform {

// Milliseconds on the monotonic clock, wrapping at 2^32.
LYX_PLATFORM_API std::uint32_t tickCount();

// Local time of day in seconds since midnight, with the fraction of the second.
LYX_PLATFORM_API double timeOfDay();

// The clock for time-outs and deadlines.
using MonotonicClock = std::chrono::steady_clock;

// Seconds on the monotonic clock, for stored deadlines.
LYX_PLATFORM_API double monotonicSeconds();

}  // namespace lyx::platform
