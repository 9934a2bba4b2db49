#include "lyx/controls/ImageButton.h"

#include "MouseMasks.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace lyx::controls {

ImageButton::ImageButton(QWidget *parent) : HostedControl(parent) {
    setFrameStyle(QFrame::NoFrame);
    setMouseTracking(true);  // moves without a button held drive the hover state
    showPicture(normal_);
    CheckEnabled();
}

ImageButton::~ImageButton() {
    watchWindow(nullptr);
}

void ImageButton::setNormalPic(const Picture &picture) {
    normal_ = picture;
    reportChange(QStringLiteral("NormalPic"));
    showPicture(normal_);
}

void ImageButton::setDownPic(const Picture &picture) {
    down_ = picture;
    reportChange(QStringLiteral("DownPic"));
}

void ImageButton::setHoverPic(const Picture &picture) {
    hover_ = picture;
    reportChange(QStringLiteral("HoverPic"));
}

void ImageButton::setDisabledPic(const Picture &picture) {
    disabled_ = picture;
    reportChange(QStringLiteral("DisabledPic"));
}

void ImageButton::setStretch(bool on) {
    stretch_ = on;
    update();
    reportChange(QStringLiteral("Stretch"));
}

void ImageButton::setButtonEnabled(bool on) {
    enabled_ = on;
    reportChange(QStringLiteral("Enabled"));
    CheckEnabled();
}

int ImageButton::curPicture() const {
    if (isShowing(normal_)) return NormalPicture;
    if (isShowing(down_)) return DownPicture;
    if (isShowing(hover_)) return HoverPicture;
    return OtherPicture;
}

void ImageButton::CheckEnabled() {
    if (enabled_) {
        showPicture(normal_);
    } else {
        showPicture(disabled_);
        giveMouseBack();
    }
}

void ImageButton::Release() {
    giveMouseBack();
    showPicture(normal_);
    mouseInside_ = false;
    setCursor(Qt::ArrowCursor);
    Q_EMIT MouseOut();
    setButtonEnabled(true);
}

void ImageButton::showPicture(const Picture &picture) {
    shown_ = picture;
    update();
}

bool ImageButton::isShowing(const Picture &picture) const {
    // An empty picture is never "shown": a button without pictures still hovers and leaves.
    return !picture.isEmpty() && shown_ == picture;
}

bool ImageButton::holdsMouse() const {
    return QWidget::mouseGrabber() == this;
}

void ImageButton::giveMouseBack() {
    if (holdsMouse()) releaseMouse();
}

void ImageButton::endHover() {
    if (!enabled_) return;  // a disabled button holds no grab and keeps its state
    const bool held = holdsMouse();
    giveMouseBack();
    if (!held && !mouseInside_) return;  // already out: MouseOut is raised once
    if (!isShowing(normal_)) showPicture(normal_);
    mouseInside_ = false;
    setCursor(Qt::ArrowCursor);
    Q_EMIT MouseOut();
}

void ImageButton::watchWindow(QWidget *window) {
    if (watchedWindow_ == window) return;
    if (watchedWindow_) watchedWindow_->removeEventFilter(this);
    watchedWindow_ = window;
    if (window) window->installEventFilter(this);
}

bool ImageButton::isUnder(QPointF clientPoint) const {
    const QPoint rounded(int(std::lround(clientPoint.x())), int(std::lround(clientPoint.y())));
    return QApplication::widgetAt(mapToGlobal(rounded)) == this;
}

bool ImageButton::eventFilter(QObject *watched, QEvent *event) {
    // A modal window that blocks ours, or another window taking the activation, ends the
    // hover: the button would never see the move that takes the pointer out.
    if (watched == watchedWindow_.data() &&
        (event->type() == QEvent::WindowBlocked || event->type() == QEvent::WindowDeactivate))
        endHover();
    return HostedControl::eventFilter(watched, event);
}

void ImageButton::showEvent(QShowEvent *event) {
    HostedControl::showEvent(event);
    // Moving the button, or an ancestor of it, into another window hides it on the way; the
    // next show watches the window it is in now.
    watchWindow(window());
}

void ImageButton::hideEvent(QHideEvent *event) {
    HostedControl::hideEvent(event);
    watchWindow(nullptr);
    endHover();
}

void ImageButton::leaveEvent(QEvent *event) {
    HostedControl::leaveEvent(event);
    // With the grab the move that takes the pointer out ends the hover; without it (given
    // back before Click) that move goes to another widget, and this is the only sign.
    if (!holdsMouse() && mouseInside_) endHover();
}

void ImageButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (shown_.isEmpty()) return;
    if (stretch_) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), shown_.image());
    } else {
        painter.drawImage(QPoint(0, 0), shown_.image());
    }
}

void ImageButton::resizeEvent(QResizeEvent *event) {
    HostedControl::resizeEvent(event);
    Q_EMIT Resize();
    update();  // the picture element follows the client area
}

void ImageButton::mousePressEvent(QMouseEvent *event) {
    event->accept();
    if (!enabled_) return;
    if (!down_.isEmpty()) showPicture(down_);
    Q_EMIT MouseDown(detail::buttonMask(event->button()), detail::shiftMask(event->modifiers()),
                     float(event->position().x()), float(event->position().y()));
}

void ImageButton::mouseMoveEvent(QMouseEvent *event) {
    event->accept();
    if (!enabled_) return;
    const int buttons = detail::buttonMask(event->buttons());
    Q_EMIT MouseMove(buttons, detail::shiftMask(event->modifiers()), float(event->position().x()),
                     float(event->position().y()));
    if (buttons == 1) return;  // no hover handling while dragging with the left button

    if (holdsMouse()) {
        // The grab lets the button see the move that takes the pointer out of it.
        if (!isUnder(event->position())) endHover();
        return;
    }

    // The pointer has just come in.
    grabMouse();
    setCursor(Qt::PointingHandCursor);
    if (!isShowing(hover_) && !mouseInside_) {
        if (!hover_.isEmpty()) showPicture(hover_);
        mouseInside_ = true;
        Q_EMIT MouseIn();
    }
}

void ImageButton::mouseReleaseEvent(QMouseEvent *event) {
    event->accept();
    if (!enabled_) return;
    if (!isShowing(hover_) && !hover_.isEmpty()) showPicture(hover_);
    if (!isUnder(event->position())) return;
    // The handlers may open a modal dialog or block the GUI thread; a grab held meanwhile
    // would keep the pointer of the whole display. The next move over the button grabs again.
    giveMouseBack();
    Q_EMIT MouseUp(detail::buttonMask(event->button()), detail::shiftMask(event->modifiers()),
                   float(event->position().x()), float(event->position().y()));
    Q_EMIT Click();
}

void ImageButton::mouseDoubleClickEvent(QMouseEvent *event) {
    // Raised whether or not the button is enabled; the second press does nothing else.
    event->accept();
    Q_EMIT DblClick();
}

void ImageButton::readProperties(const PropertyBag &bag) {
    normal_ = bag.readPicture(u"NormalPic");
    down_ = bag.readPicture(u"DownPic");
    hover_ = bag.readPicture(u"HoverPic");
    disabled_ = bag.readPicture(u"DisabledPic");
    stretch_ = bag.readBool(u"Stretch", false);
    enabled_ = bag.readBool(u"Enabled", true);
    showPicture(normal_);
    CheckEnabled();
}

void ImageButton::writeProperties(PropertyBag &bag) const {
    bag.writePicture(u"NormalPic", normal_);
    bag.writePicture(u"DownPic", down_);
    bag.writePicture(u"HoverPic", hover_);
    bag.writePicture(u"DisabledPic", disabled_);
    bag.writeBool(u"Stretch", stretch_);
    bag.writeBool(u"Enabled", enabled_, true);
}

}  // namespace lyx::controls
