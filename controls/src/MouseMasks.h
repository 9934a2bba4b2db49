#pragma once

#include <Qt>

namespace lyx::controls::detail {

/// Mouse-button mask of the controls' mouse events: 1 left, 2 right, 4 middle.
inline int buttonMask(Qt::MouseButtons buttons) {
    int mask = 0;
    if (buttons & Qt::LeftButton) mask |= 1;
    if (buttons & Qt::RightButton) mask |= 2;
    if (buttons & Qt::MiddleButton) mask |= 4;
    return mask;
}

/// Shift-key mask of the controls' mouse events: 1 Shift, 2 Ctrl, 4 Alt.
inline int shiftMask(Qt::KeyboardModifiers modifiers) {
    int mask = 0;
    if (modifiers & Qt::ShiftModifier) mask |= 1;
    if (modifiers & Qt::ControlModifier) mask |= 2;
    if (modifiers & Qt::AltModifier) mask |= 4;
    return mask;
}

}  // namespace lyx::controls::detail
