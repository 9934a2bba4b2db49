#include "lyx/controls/eLCDBar.h"

#include "Rounding.h"
#include "lyx/controls/Twips.h"

#include <QFontMetrics>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace lyx::controls {

namespace {

constexpr OleColor kNewBackColor = 10269842;
constexpr OleColor kLoadBackColor = SystemColour::ButtonFace;
constexpr OleColor kDefaultOnColor = 0;
constexpr OleColor kDefaultOffColor = 7969130;
constexpr int kMostMarks = 1000;
constexpr QChar kMark = QLatin1Char('|');

}  // namespace

eLCDBar::eLCDBar(QWidget *parent)
    : LcdControl(kNewBackColor, kDefaultOnColor, kDefaultOffColor, parent) {
    markFont_ = QFont(QStringLiteral("Sans Serif"), 12, QFont::Bold);
    markFont_.setStyleHint(QFont::SansSerif);
}

void eLCDBar::setPercent(float percent) {
    percent_ = percent;
    applyPercent();
}

void eLCDBar::setMarkSize(float points) {
    if (!(points > 0)) return;  // no size to give the marks
    markFont_.setPointSizeF(double(points));
    setHeightTwips(double(points) * 10);
    runResizeProcedure();
}

void eLCDBar::applyPercent() {
    // A negative or non-finite share builds no mark row; the lit marks stay as they were.
    if (!std::isfinite(percent_) || percent_ < 0) return;
    const double lit = detail::roundHalfEven(markCount_ / 100.0 * double(percent_));
    if (lit > std::numeric_limits<int>::max()) return;
    litCount_ = int(lit);
    update();
}

void eLCDBar::runResizeProcedure() {
    if (resizing_) return;
    resizing_ = true;

    const double heightTw = heightTwips();
    if (heightTw > 0) markFont_.setPointSizeF(heightTw / 10);
    // The rows are moved up so that the middle part of the tall glyphs fills the control.
    rowTopTwips_ = -(heightTw / 4 + 80);

    // The first count whose row is wider than the inner width. Widths grow with the count, so
    // a binary search finds the same count as trying 1, 2, 3, ... in turn.
    const QFontMetrics metrics(markFont_);
    const int inner = contentsRect().width();
    const auto tooWide = [&](int n) {
        return metrics.horizontalAdvance(QString(n, kMark)) > inner;
    };
    if (tooWide(kMostMarks)) {
        int lo = 1, hi = kMostMarks;
        while (lo < hi) {
            const int mid = lo + (hi - lo) / 2;
            if (tooWide(mid))
                hi = mid;
            else
                lo = mid + 1;
        }
        // With a border the mark that crosses the inner edge is kept as well.
        markCount_ = borderStyle() == 1 ? lo : lo - 1;
    }
    // When even the longest row fits, the count stays as it was.

    applyPercent();
    update();
    resizing_ = false;
}

void eLCDBar::resizeEvent(QResizeEvent *event) {
    LcdControl::resizeEvent(event);
    runResizeProcedure();
}

void eLCDBar::borderApplied() {
    update();
    runResizeProcedure();
}

void eLCDBar::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const QRect inner = contentsRect();
    painter.fillRect(inner, resolved(backColor()));
    painter.save();
    painter.setClipRect(inner);
    painter.setFont(markFont_);
    const QFontMetrics metrics(markFont_);
    const QPointF origin(inner.left(),
                         inner.top() + twips::toPixelsY(*this, rowTopTwips_) + metrics.ascent());
    painter.setPen(resolved(offColor()));
    painter.drawText(origin, QString(markCount_, kMark));
    // Lit marks past the row lie beyond the edge; two more than the row cover what shows.
    const int shown = std::min(litCount_, markCount_ + 2);
    painter.setPen(resolved(onColor()));
    painter.drawText(origin, QString(shown, kMark));
    painter.restore();
    drawFrame(&painter);
}

void eLCDBar::readProperties(const PropertyBag &bag) {
    readLookAndPointer(bag, kDefaultOnColor, kDefaultOffColor);
}

void eLCDBar::writeProperties(PropertyBag &bag) const {
    bag.writeColour(u"BackColor", backColor(), kLoadBackColor);
    bag.writeColour(u"OnColor", onColor(), kDefaultOnColor);
    bag.writeColour(u"OffColor", offColor(), kDefaultOffColor);
    bag.writePicture(u"MouseIcon", mouseIcon(), false);
    bag.writeInt(u"MousePointer", mousePointer(), 0);
    bag.writeInt(u"BorderStyle", borderStyle(), 0);
}

}  // namespace lyx::controls
