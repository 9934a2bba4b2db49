#pragma once

#include <QChar>

#include <cstdint>

namespace lyx::controls::detail {

/// Segments of a digit cell, numbered as their flags appear in a pattern:
/// 0 upper-left, 1 top, 2 upper-right, 3 middle, 4 lower-left, 5 bottom, 6 lower-right.
inline constexpr int kSegmentsPerCell = 7;

/// The lit segments of `c` as a bit mask (bit j = segment j). The character is upper-cased
/// first; characters without a pattern (space, M, W, a point, a comma, ...) light nothing.
std::uint8_t segmentMask(QChar c);

}  // namespace lyx::controls::detail
