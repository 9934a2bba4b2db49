#pragma once

class QWidget;

namespace lyx::viewer {

/// Keeps `window` from being made smaller than `minWidth` by `minHeight` pixels, measured on
/// the outside of the window (its frame included, once the window manager has given it one).
/// The hook goes with the window.
void SetMinFormSize(QWidget *window, int minWidth, int minHeight);

}  // namespace lyx::viewer
