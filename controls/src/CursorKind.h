#pragma once

#include "lyx/controls/Picture.h"

#include <QCursor>

#include <optional>

namespace lyx::controls::detail {

/// Cursor kinds of the controls' `MousePointer` property.
enum CursorKind : int {
    kDefaultCursor = 0,
    kCustomCursor = 99,  ///< the `MouseIcon` picture
};

/// The cursor for a `MousePointer` value and `MouseIcon` picture; no value means the widget's
/// default cursor (kind 0, an unknown kind, or a custom kind without a picture).
std::optional<QCursor> cursorFor(int kind, const Picture &icon);

}  // namespace lyx::controls::detail
