#pragma once
// The real X pointer, moved and clicked with xdotool as a user's hand would.

#include <QPoint>
#include <QStringList>

#include <gtest/gtest.h>

class QWidget;

namespace lyx::controls::test {

/// How long the display tests wait for anything the X server or Qt has to do.
inline constexpr int kDisplayWaitMs = 20000;

/// Each call runs one xdotool command in its own process and waits for it to end while the
/// Qt event loop keeps running, so the events it causes are handled meanwhile, also by the
/// loop of a modal dialog they open.
class XPointer {
  public:
    /// Whether xdotool can be found.
    static bool available();

    /// Moves the pointer to `native` (screen pixels) and returns once it is there.
    ::testing::AssertionResult moveTo(QPoint native);
    /// Presses and releases the left button where the pointer is.
    ::testing::AssertionResult click();
    /// Presses and releases Shift, a key no widget here reacts to. Its events reach Qt after
    /// those of every earlier command: once the focus window has them, Qt has handled the rest.
    ::testing::AssertionResult tapShift();

    /// Whether no client holds a grab of the pointer: tries one over a connection of its own
    /// and lets it go at once. Needs no event loop, so it can run inside a handler that blocks.
    static ::testing::AssertionResult pointerIsFree();

    /// The centre of `widget` in screen pixels.
    static QPoint centreOf(const QWidget &widget);

  private:
    ::testing::AssertionResult run(const QStringList &arguments);
};

}  // namespace lyx::controls::test
