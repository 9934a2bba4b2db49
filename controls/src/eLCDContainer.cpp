#include "lyx/controls/eLCDContainer.h"

#include "lyx/controls/eLCDModule.h"

#include <QPainter>
#include <QResizeEvent>
#include <QWidget>

namespace lyx::controls {

namespace {

constexpr OleColor kNewBackColor = SystemColour::ThreeDLight;
constexpr OleColor kLoadBackColor = SystemColour::ButtonFace;
constexpr OleColor kDefaultOnColor = 0;
constexpr OleColor kDefaultOffColor = 7969130;

}  // namespace

eLCDContainer::eLCDContainer(QWidget *parent)
    : LcdControl(kNewBackColor, kDefaultOnColor, kDefaultOffColor, parent) {}

void eLCDContainer::setScheme(int scheme) {
    scheme_ = scheme;
    reportChange(QStringLiteral("Scheme"));
    if (scheme > 0) eLCDModule::ApplyScheme(scheme - 1, this);
    pushColours();
}

void eLCDContainer::setColorChildren(bool) {
    pushColours();
}

void eLCDContainer::pushColours() {
    for (QObject *child : children()) {
        if (!child->isWidgetType()) continue;
        eLCDModule::setColourProperty(child, "BackColor", backColor());
        eLCDModule::setColourProperty(child, "OnColor", onColor());
        eLCDModule::setColourProperty(child, "OffColor", offColor());
    }
}

void eLCDContainer::resizeEvent(QResizeEvent *event) {
    LcdControl::resizeEvent(event);
    Q_EMIT Resize();
}

void eLCDContainer::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(contentsRect(), resolved(backColor()));
    drawFrame(&painter);
}

void eLCDContainer::readProperties(const PropertyBag &bag) {
    readLookAndPointer(bag, kDefaultOnColor, kDefaultOffColor);
    scheme_ = bag.readInt(u"Scheme", 0);
}

void eLCDContainer::writeProperties(PropertyBag &bag) const {
    bag.writeColour(u"BackColor", backColor(), kLoadBackColor);
    bag.writeColour(u"OnColor", onColor(), kDefaultOnColor);
    bag.writeColour(u"OffColor", offColor(), kDefaultOffColor);
    bag.writePicture(u"MouseIcon", mouseIcon(), false);
    bag.writeInt(u"MousePointer", mousePointer(), 0);
    bag.writeInt(u"BorderStyle", borderStyle(), 0);
    bag.writeInt(u"Scheme", scheme_, 0);
}

}  // namespace lyx::controls
