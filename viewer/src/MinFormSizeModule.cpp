#include "MinFormSizeModule.h"

#include "WindowFrame.h"

#include <QEvent>
#include <QObject>
#include <QWidget>

namespace lyx::viewer {

namespace {

// Sets the window's minimum client size so that its outer size cannot fall below the limit;
// the frame is known only once the window manager has framed the window, so the minimum is
// worked out again whenever the window is shown, moved or resized.
class MinimumSizeHook : public QObject {
  public:
    MinimumSizeHook(QWidget *window, int width, int height)
        : QObject(window), window_(window), width_(width), height_(height) {
        apply();
        window->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == window_) {
            switch (event->type()) {
                case QEvent::Show:
                case QEvent::Move:
                case QEvent::Resize:
                    apply();
                    break;
                default:
                    break;
            }
        }
        return false;
    }

  private:
    void apply() {
        const QMargins frame = windowFrame(*window_);
        const int w = std::max(0, width_ - frame.left() - frame.right());
        const int h = std::max(0, height_ - frame.top() - frame.bottom());
        if (window_->minimumSize() != QSize(w, h)) window_->setMinimumSize(w, h);
    }

    QWidget *window_;
    int width_;
    int height_;
};

}  // namespace

void SetMinFormSize(QWidget *window, int minWidth, int minHeight) {
    if (window == nullptr) return;
    new MinimumSizeHook(window, minWidth, minHeight);
}

}  // namespace lyx::viewer
