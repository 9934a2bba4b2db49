#include "lyx/controls/LcdControl.h"

#include "CursorKind.h"
#include "MouseMasks.h"
#include "lyx/controls/PropertyBag.h"
#include "lyx/controls/Twips.h"

#include <QMouseEvent>

#include <algorithm>

namespace lyx::controls {

namespace {
// A single border is 30 twips wide on each side, 60 twips in all across the control.
constexpr double kBorderTwips = 30.0;
}  // namespace

LcdControl::LcdControl(OleColor back, OleColor on, OleColor off, QWidget *parent)
    : HostedControl(parent), backColor_(back), onColor_(on), offColor_(off) {
    setFrameStyle(QFrame::NoFrame);
    setMouseTracking(true);  // MouseMove is raised with no button held too
}

void LcdControl::setBackColor(OleColor colour) {
    applyBackColor(colour);
    reportChange(QStringLiteral("BackColor"));
}

void LcdControl::setOnColor(OleColor colour) {
    onColor_ = colour;
    reportChange(QStringLiteral("OnColor"));
    onColorChanged();
}

void LcdControl::setOffColor(OleColor colour) {
    offColor_ = colour;
    reportChange(QStringLiteral("OffColor"));
    offColorChanged();
}

void LcdControl::setBorderStyle(int style) {
    applyBorderStyle(style);
    reportChange(QStringLiteral("BorderStyle"));
}

void LcdControl::setMousePointer(int kind) {
    applyMousePointer(kind);
    reportChange(QStringLiteral("MousePointer"));
}

void LcdControl::setMouseIcon(const Picture &icon) {
    mouseIcon_ = icon;
    applyCursor();
    reportChange(QStringLiteral("MouseIcon"));
}

QColor LcdControl::resolved(OleColor colour) const {
    return toQColor(colour, palette());
}

void LcdControl::applyBackColor(OleColor colour) {
    backColor_ = colour;
    backColorApplied();
}

void LcdControl::applyBorderStyle(int style) {
    borderStyle_ = std::clamp(style, 0, 1);
    if (borderStyle_ == 1) {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(std::max(1, twips::wholePixelsX(*this, kBorderTwips)));
    } else {
        setFrameStyle(QFrame::NoFrame);
    }
    borderApplied();
}

void LcdControl::applyMousePointer(int kind) {
    mousePointer_ = kind;
    applyCursor();
}

void LcdControl::applyCursor() {
    if (const auto cursor = detail::cursorFor(mousePointer_, mouseIcon_))
        setCursor(*cursor);
    else
        unsetCursor();
}

double LcdControl::widthTwips() const {
    return twips::fromPixelsX(*this, width());
}

double LcdControl::heightTwips() const {
    return twips::fromPixelsY(*this, height());
}

void LcdControl::setHeightTwips(double twipsHigh) {
    resize(width(), std::max(0, twips::wholePixelsY(*this, twipsHigh)));
}

bool LcdControl::raisesMouseEventsAt(QPoint) const {
    return true;
}

void LcdControl::emitMouse(void (LcdControl::*signal)(int, int, float, float), int button,
                           const QMouseEvent *event) {
    const QPointF p = event->position() - contentsRect().topLeft();
    Q_EMIT(this->*signal)
    (button, detail::shiftMask(event->modifiers()), float(twips::fromPixelsX(*this, p.x())),
     float(twips::fromPixelsY(*this, p.y())));
}

void LcdControl::mousePressEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) clickArmed_ = true;
    if (raisesMouseEventsAt(event->position().toPoint()))
        emitMouse(&LcdControl::MouseDown, detail::buttonMask(event->button()), event);
    event->accept();
}

void LcdControl::mouseMoveEvent(QMouseEvent *event) {
    if (raisesMouseEventsAt(event->position().toPoint()))
        emitMouse(&LcdControl::MouseMove, detail::buttonMask(event->buttons()), event);
    event->accept();
}

void LcdControl::mouseReleaseEvent(QMouseEvent *event) {
    const bool inside = rect().contains(event->position().toPoint());
    if (raisesMouseEventsAt(event->position().toPoint()))
        emitMouse(&LcdControl::MouseUp, detail::buttonMask(event->button()), event);
    if (event->button() == Qt::LeftButton) {
        if (clickArmed_ && inside) Q_EMIT Click();
        clickArmed_ = false;
    }
    event->accept();
}

void LcdControl::mouseDoubleClickEvent(QMouseEvent *event) {
    // The second press of a double click raises DblClick alone; its release gives no Click.
    clickArmed_ = false;
    Q_EMIT DblClick();
    event->accept();
}

void LcdControl::readLookAndPointer(const PropertyBag &bag, OleColor onDefault,
                                    OleColor offDefault) {
    applyBackColor(bag.readColour(u"BackColor", SystemColour::ButtonFace));
    setOnColor(bag.readColour(u"OnColor", onDefault));
    setOffColor(bag.readColour(u"OffColor", offDefault));
    setMouseIcon(bag.readPicture(u"MouseIcon"));
    applyMousePointer(bag.readInt(u"MousePointer", 0));
    applyBorderStyle(bag.readInt(u"BorderStyle", 0));
}

}  // namespace lyx::controls
