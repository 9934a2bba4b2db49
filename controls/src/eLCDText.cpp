#include "lyx/controls/eLCDText.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QResizeEvent>

namespace lyx::controls {

namespace {

constexpr OleColor kNewBackColor = 10269842;  // red 146, green 180, blue 156
constexpr OleColor kLoadBackColor = SystemColour::ButtonFace;
constexpr OleColor kDefaultOnColor = 0;
constexpr OleColor kDefaultOffColor = 7969130;

QFont newLabelFont() {
    QFont font(QStringLiteral("Sans Serif"), 12, QFont::Bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace

eLCDText::eLCDText(QWidget *parent)
    : LcdControl(kNewBackColor, kDefaultOnColor, kDefaultOffColor, parent),
      caption_(QStringLiteral("Caption")) {
    setFont(newLabelFont());
    applyColours();
    applyFont();
}

void eLCDText::setCaption(const QString &text) {
    caption_ = text;
    reportChange(QStringLiteral("Caption"));
    update();
    runResizeProcedure();
}

void eLCDText::setState(bool lit) {
    state_ = lit;
    reportChange(QStringLiteral("State"));
    update();
}

void eLCDText::setInverse(bool on) {
    inverse_ = on;
    reportChange(QStringLiteral("Inverse"));
    applyColours();
}

void eLCDText::setControlFont(const QFont &f) {
    changeFont(f, QStringLiteral("Font"));
}

void eLCDText::setFontName(const QString &name) {
    QFont f = font();
    f.setFamily(name);
    changeFont(f, QStringLiteral("FontName"));
}

void eLCDText::setFontSize(float points) {
    QFont f = font();
    if (points > 0) f.setPointSizeF(double(points));  // a size of zero or less is not a size
    changeFont(f, QStringLiteral("FontSize"));
}

void eLCDText::setFontBold(bool on) {
    QFont f = font();
    f.setBold(on);
    changeFont(f, QStringLiteral("FontBold"));
}

void eLCDText::setFontItalic(bool on) {
    QFont f = font();
    f.setItalic(on);
    changeFont(f, QStringLiteral("FontItalic"));
}

void eLCDText::setFontUnderline(bool on) {
    QFont f = font();
    f.setUnderline(on);
    changeFont(f, QStringLiteral("FontUnderline"));
}

void eLCDText::setFontStrikethru(bool on) {
    QFont f = font();
    f.setStrikeOut(on);
    changeFont(f, QStringLiteral("FontStrikethru"));
}

void eLCDText::changeFont(const QFont &f, const QString &property) {
    setFont(f);
    reportChange(property);
    applyFont();
}

void eLCDText::applyColours() {
    if (inverse_) {
        // Text in the current background colour on a block of the unlit or lit colour.
        back_ = {true, offColor(), backColor()};
        fore_ = {true, onColor(), backColor()};
    } else {
        back_ = {false, 0, offColor()};
        fore_ = {false, 0, onColor()};
    }
    update();
}

void eLCDText::applyFont() {
    update();
    runResizeProcedure();
}

QRect eLCDText::textRect() const {
    const QSize text = QFontMetrics(font()).size(0, caption_);
    return QRect(contentsRect().topLeft(), text);
}

void eLCDText::runResizeProcedure() {
    if (resizing_) return;
    resizing_ = true;
    // The control fits its caption exactly, inside its border.
    const int frame = 2 * frameWidth();
    resize(textRect().size() + QSize(frame, frame));
    resizing_ = false;
}

void eLCDText::resizeEvent(QResizeEvent *event) {
    LcdControl::resizeEvent(event);
    runResizeProcedure();
}

void eLCDText::borderApplied() {
    update();
    runResizeProcedure();
}

bool eLCDText::raisesMouseEventsAt(QPoint pos) const {
    return !textRect().contains(pos);
}

void eLCDText::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(contentsRect(), resolved(backColor()));
    const QRect text = textRect();
    const auto drawCopy = [&](const Copy &copy) {
        if (copy.opaque) painter.fillRect(text, resolved(copy.background));
        painter.setPen(resolved(copy.text));
        painter.drawText(text, Qt::AlignLeft | Qt::AlignTop, caption_);
    };
    painter.setFont(font());
    drawCopy(back_);
    if (state_) drawCopy(fore_);
    drawFrame(&painter);
}

void eLCDText::readProperties(const PropertyBag &bag) {
    const QFont ambient = parentWidget() ? parentWidget()->font() : QApplication::font();
    setControlFont(bag.readFont(u"Font", ambient));
    setCaption(bag.readText(u"Caption", QStringLiteral("Caption")));
    readLookAndPointer(bag, kDefaultOnColor, kDefaultOffColor);
    setState(bag.readBool(u"State", false));
    setInverse(bag.readBool(u"Inverse", false));
}

void eLCDText::writeProperties(PropertyBag &bag) const {
    bag.writeText(u"Caption", caption_, QStringLiteral("Caption"));
    bag.writeColour(u"BackColor", backColor(), kLoadBackColor);
    bag.writeColour(u"OnColor", onColor(), kDefaultOnColor);
    bag.writeColour(u"OffColor", offColor(), kDefaultOffColor);
    bag.writePicture(u"MouseIcon", mouseIcon(), false);
    bag.writeInt(u"MousePointer", mousePointer(), 0);
    bag.writeInt(u"BorderStyle", borderStyle(), 0);
    bag.writeFont(u"Font", font());
    bag.writeBool(u"State", state_, false);
    bag.writeBool(u"Inverse", inverse_, false);
}

}  // namespace lyx::controls
