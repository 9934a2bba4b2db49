#pragma once

#include <cmath>

namespace lyx::controls::detail {

/// Rounds to the nearest integer, ties to the even neighbour (2.5 -> 2, 3.5 -> 4), as the
/// controls' size and percentage arithmetic requires. Uses the default floating-point
/// rounding mode, which the program never changes.
inline double roundHalfEven(double v) {
    return std::nearbyint(v);
}

}  // namespace lyx::controls::detail
