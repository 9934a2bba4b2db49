#include "WindowFrame.h"

#include <QWidget>

namespace lyx::viewer {

QMargins windowFrame(const QWidget &window) {
    const QRect outer = window.frameGeometry();
    const QRect client = window.geometry();
    return {client.left() - outer.left(), client.top() - outer.top(),
            outer.right() - client.right(), outer.bottom() - client.bottom()};
}

}  // namespace lyx::viewer
