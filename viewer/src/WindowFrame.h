#pragma once

#include <QMargins>

class QWidget;

namespace lyx::viewer {

/// The frame the window manager put around a top-level window: how far its outside lies
/// beyond its client area on each side. Empty until the window has been framed (and where
/// no window manager frames windows).
QMargins windowFrame(const QWidget &window);

}  // namespace lyx::viewer
